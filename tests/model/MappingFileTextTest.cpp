#include <gtest/gtest.h>
#include "MappingFileText.h"
#include "FifoWatchdog.h"
#include "TemporaryFolder.h"

#include <vector>

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
            { "a name that starts with a digit",     "<1a></1a>", false },
            { "an attribute that starts with '-'",   "<a -b=\"1\"/>", false },
            { "names with the other characters",     "<a:b.c-1 _d.2-e=\"1\"/>", true },
            { "a close before any element",          "</a><a></a>", false },
            { "text before the root",                "x<a></a>", false },
            { "a comment without its end",           "<a><!-- </a>", false },
            { "an unclosed value",                   "<a v=\"1></a>", false },
            { "nothing at all",                      "", false },

            // The parser skips an instruction as it skips a blank, then goes back to read what
            // follows as text and stops at the instruction again, for ever; only markup (or the
            // end) after it is safe.
            { "an instruction before text",          nested (1, "<?p?>x"), false },
            { "the same two levels down",            nested (2, "<?p?>x"), false },
            { "the same at the bound",               nested (bound, "<?p?>x"), false },
            { "an instruction before a reference",   nested (2, "<?p?>&amp;"), false },
            { "blanks, a comment, then text",        nested (1, "<?p?> <!-- c --><?q?>\n x"), false },
            { "between two texts",                   nested (3, "x<?p?>y"), false },
            { "before an element",                   nested (2, "<?p?> <b/>"), true },
            { "before the close",                    nested (2, "x<?p?> <!-- c --> "), true },
            { "before CDATA",                        nested (2, "<?p?><![CDATA[x]]>"), true },
            { "CDATA and references one down",       nested (1, "<![CDATA[<a>]]>&lt;&#x10FFFF;"), true },
            { "the same at the bound",               nested (bound, "x<![CDATA[]]>&amp;y&#9;"), true },
            { "the same one deeper",                 nested (bound + 1, "<![CDATA[x]]>&amp;"), false },

            // A reference the parser would turn into no character, or a NUL that ends its text.
            { "a reference to NUL",                  "<a>&#0;</a>", false },
            { "a reference to a control character",  "<a>&#1;</a>", false },
            { "a reference to a surrogate",          "<a>&#xD800;</a>", false },
            { "a reference past U+10FFFF",           "<a>&#x110000;</a>", false },
            { "a reference past 32 bits",            "<a v=\"&#xFFFFFFFF;\"/>", false },
            { "a reference to U+FFFE",               "<a>&#65534;</a>", false },
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

    // The framework's decoder sizes a string by decoding it, stops at an invalid sequence and
    // then copies the raw bytes to the NUL; a long run after the sequence overran the heap.
    TEST (MappingFileText, ReadsNoBytesThatAreNotText)
    {
        using Bytes = std::vector<juce::uint8>;
        struct Case { const char* what; Bytes bytes; };

        const Bytes letters (200000, 'x');
        const Case cases[] = {
            { "a lone continuation byte",         { 0x80 } },
            { "an overlong NUL",                  { 0xC0, 0x80 } },
            { "an overlong slash",                { 0xE0, 0x80, 0xAF } },
            { "a UTF-8 surrogate",                { 0xED, 0xA0, 0x80 } },
            { "past U+10FFFF",                    { 0xF4, 0x90, 0x80, 0x80 } },
            { "a byte no sequence starts with",   { 0xFF } },
            { "a lead byte without the rest",     { 0xE2, 0x82, 'x' } },
            { "a NUL",                            { 0x00 } },
        };

        const testsupport::TemporaryFolder temporary;
        const auto file = temporary.getFile().getChildFile ("map.pelto");
        const Bytes head { '<', 'a', '/', '>' };

        const auto readBack = [&] (const Bytes& bytes)
        {
            EXPECT_TRUE (file.replaceWithData (bytes.data(), bytes.size()));
            return MappingFileText::read (file);
        };

        for (const auto& c : cases)
        {
            for (const bool runAfter : { false, true })
            {
                Bytes bytes (head);
                bytes.insert (bytes.end(), c.bytes.begin(), c.bytes.end());

                if (runAfter)
                    bytes.insert (bytes.end(), letters.begin(), letters.end());

                EXPECT_FALSE (readBack (bytes).has_value()) << c.what << (runAfter ? ", then a long run" : ", at the end");
            }
        }

        // A sequence cut off by the end of the file.
        for (const Bytes& tail : { Bytes { 0xC3 }, Bytes { 0xE2, 0x82 }, Bytes { 0xF0, 0x9D, 0x84 } })
        {
            Bytes bytes (head);
            bytes.insert (bytes.end(), tail.begin(), tail.end());
            EXPECT_FALSE (readBack (bytes).has_value()) << tail.size() << " bytes of a longer sequence";
        }

        // UTF-16 after its byte order mark: unpaired halves and an odd last byte.
        const Case utf16[] = {
            { "a high half at the end",      { 0xFF, 0xFE, '<', 0, 'a', 0, '/', 0, '>', 0, 0x34, 0xD8 } },
            { "a lone low half",             { 0xFF, 0xFE, 0x1E, 0xDD, '<', 0, 'a', 0, '/', 0, '>', 0 } },
            { "a high half before a letter", { 0xFE, 0xFF, 0xD8, 0x34, 0, 'x', 0, '<', 0, 'a', 0, '/', 0, '>' } },
            { "an odd number of bytes",      { 0xFF, 0xFE, '<', 0, 'a', 0, '/', 0, '>', 0, 'x' } },
            { "a NUL",                       { 0xFF, 0xFE, '<', 0, 0, 0, 'a', 0, '/', 0, '>', 0 } },
        };

        for (const auto& c : utf16)
        {
            Bytes bytes (c.bytes);

            for (size_t i = 0; i < 100000; ++i)
                bytes.insert (bytes.end(), { 'x', 0 });

            EXPECT_FALSE (readBack (c.bytes).has_value()) << "UTF-16, " << c.what;
            EXPECT_FALSE (readBack (bytes).has_value()) << "UTF-16, " << c.what << ", then a long run";
        }

        // What is text reads as its characters, in two, three and four bytes and as a pair of
        // UTF-16 halves either way round.
        const juce::String expected = juce::String ("<a v=\"") + juce::String::charToString (0xE9)
                                    + juce::String::charToString (0x20AC) + juce::String::charToString (0x1D11E) + "\"/>";

        EXPECT_EQ (readBack ({ '<', 'a', ' ', 'v', '=', '"', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9D, 0x84, 0x9E, '"', '/', '>' }),
                   expected);
        EXPECT_EQ (readBack ({ 0xFF, 0xFE, '<', 0, 'a', 0, ' ', 0, 'v', 0, '=', 0, '"', 0, 0xE9, 0, 0xAC, 0x20,
                               0x34, 0xD8, 0x1E, 0xDD, '"', 0, '/', 0, '>', 0 }), expected);
        EXPECT_EQ (readBack ({ 0xFE, 0xFF, 0, '<', 0, 'a', 0, ' ', 0, 'v', 0, '=', 0, '"', 0, 0xE9, 0x20, 0xAC,
                               0xD8, 0x34, 0xDD, 0x1E, 0, '"', 0, '/', 0, '>' }), expected);
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
