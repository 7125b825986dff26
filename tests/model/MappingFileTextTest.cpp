#include <gtest/gtest.h>
#include "MappingFileText.h"
#include "FifoWatchdog.h"
#include "TemporaryFolder.h"

namespace
{
    // n elements nested in one another, with the text in the innermost.
    juce::String nested (int n, const juce::String& inner = {}, const juce::String& open = "<a>",
                         const juce::String& close = "</a>")
    {
        juce::String text;
        for (int i = 0; i < n; ++i) text << open;
        text << inner;
        for (int i = 0; i < n; ++i) text << close;
        return text;
    }

    TEST (MappingFileText, LetsPlainShallowXmlThroughAndRefusesTheRest)
    {
        constexpr int bound = MappingFileText::maxDepth;
        struct Case { const char* what; juce::String text; bool passes; };

        const Case cases[] = {
            { "a map as the system writes it",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n\r\n<map mode=\"mackie\" name=\"MCP\">\r\n  <controls>\r\n"
              "    <control id=\"1\" kind=\"button\" type=\"note\" chan=\"1\" value=\"0\"/>\r\n  </controls>\r\n</map>\r\n", true },
            { "nested to the bound",                 nested (bound), true },
            { "nested one deeper",                   nested (bound + 1), false },
            { "empty elements do not add up",        nested (bound - 1, nested (1) + "<b/><b/><b/>" + nested (1)), true },
            { "predefined and numeric references",   "<a n=\"&amp;&LT;&#60;&#x3C;&quot;&apos;&gt;\">&amp;&#233;</a>", true },
            { "single quotes, '>' and '<' inside",   "<a n='x>\"<y'/>", true },
            { "comments, instructions and CDATA",    "<!-- c --><?pi x?><a><!-- </a> --><![CDATA[</a><b>]]><?p </a>?></a>", true },
            { "text after the root is not read",     "<a></a>" + nested (bound + 1), true },

            // A comment or CDATA section hides nothing from the count.
            { "nesting between comments",            nested (bound + 1, {}, "<a><!-- </a> -->"), false },
            { "nesting after CDATA",                 nested (bound + 1, {}, "<a><![CDATA[</a>]]>"), false },

            // What the parser would read in ways a look at the text cannot follow.
            { "a document type declaration",         "<!DOCTYPE a [<!ENTITY e \"<a><a></a></a>\">]><a>&e;</a>", false },
            { "a reference to another entity",       "<a>&e;</a>", false },
            { "an entity name that is markup",       "<a>&</a>;</a>", false },
            { "a reference in a value that jumps",   "<a v=\"&z\"></a>;\"></a>", false },
            { "a numeric reference without its end", "<a>&#65</a>", false },
            { "a value without quotes",              "<a v=1></a>", false },
            { "a stray quote in a tag",              "<r><a \" ><a></a></a></r>", false },
            { "a blank after the '<'",               "< a></a>", false },
            { "a close before any element",          "</a><a></a>", false },
            { "text before the root",                "x<a></a>", false },
            { "a comment without its end",           "<a><!-- </a>", false },
            { "an unclosed value",                   "<a v=\"1></a>", false },
            { "nothing at all",                      "", false },
        };

        for (const auto& c : cases)
            EXPECT_EQ (MappingFileText::isPlainAndShallow (c.text), c.passes) << c.what << ": " << c.text;
    }

    TEST (MappingFileText, ReadsNoFileLargerThanTheLimitAndDecodesAsTheParserDoes)
    {
        juce::TemporaryFile temp (".pelto");
        const auto file = temp.getFile();

        juce::MemoryBlock atLimit ((size_t) MappingFileText::maxBytes, false);
        atLimit.fillWith (' ');
        atLimit.copyFrom ("<a/>", 0, 4);

        ASSERT_TRUE (file.replaceWithData (atLimit.getData(), atLimit.getSize()));
        const auto fits = MappingFileText::read (file);
        ASSERT_TRUE (fits.has_value());
        EXPECT_EQ (fits->length(), (int) MappingFileText::maxBytes);

        atLimit.append (" ", 1);
        ASSERT_TRUE (file.replaceWithData (atLimit.getData(), atLimit.getSize()));
        EXPECT_FALSE (MappingFileText::read (file).has_value());

        // A device reports no size and never ends; only the limit stops the reading.
        if (juce::File ("/dev/zero").exists())
        {
            EXPECT_FALSE (MappingFileText::read (juce::File ("/dev/zero")).has_value());
        }

        EXPECT_FALSE (MappingFileText::read (file.getSiblingFile ("does-not-exist.pelto")).has_value());

        // Byte order marks: UTF-8 skipped, UTF-16 decoded.
        const unsigned char utf8[] = { 0xEF, 0xBB, 0xBF, '<', 'a', '/', '>' };
        ASSERT_TRUE (file.replaceWithData (utf8, sizeof (utf8)));
        EXPECT_EQ (MappingFileText::read (file), juce::String ("<a/>"));

        const unsigned char utf16[] = { 0xFF, 0xFE, '<', 0, 'a', 0, '/', 0, '>', 0 };
        ASSERT_TRUE (file.replaceWithData (utf16, sizeof (utf16)));
        EXPECT_EQ (MappingFileText::read (file), juce::String ("<a/>"));
    }

    // A chooser hands over whatever was picked: a FIFO (whose open would wait for a writer) or
    // a folder is a file that cannot be opened, and the loader does not wait on it.
    TEST (MappingFileText, ReadsNothingButARegularFile)
    {
        const testsupport::TemporaryFolder temporary;
        const auto folder = temporary.getFile();
        ASSERT_TRUE (folder.isDirectory());

        {
            testsupport::FifoWatchdog fifo (folder.getChildFile ("map.pelto"));
            ASSERT_TRUE (fifo.wasMade());

            EXPECT_FALSE (MappingFileText::read (fifo.file).has_value());
            EXPECT_FALSE (fifo.hadToRelease()) << "the read waited on the FIFO";
        }

        EXPECT_FALSE (MappingFileText::read (folder).has_value());
    }
}
