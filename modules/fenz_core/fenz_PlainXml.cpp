#include "fenz_PlainXml.h"

#include <algorithm>
#include <cstring>

namespace fenz
{

namespace
{
    // The scanner walks the text as the framework's parser does, but refuses where the parser
    // would have to guess or recover, so that its count of open elements is never below the
    // parser's.
    class Scanner
    {
    public:
        Scanner (const juce::String& text, int depthBound) : p (text.getCharPointer()), maxDepth (depthBound) {}

        bool isPlainAndShallow()
        {
            // Before the root element: blanks, comments and processing instructions (the XML
            // declaration among them).
            for (;;)
            {
                p.incrementToEndOfWhitespace();

                if (*p != '<')
                    return false;

                if (atCommentOrInstruction())
                {
                    if (! skipCommentOrInstruction())
                        return false;
                    continue;
                }

                break;
            }

            int depth = 0;

            for (;;)
            {
                if (p.isEmpty())
                    return true;   // elements left open: the parser fails on its own

                const auto c = *p;

                if (c == '&')
                {
                    if (! skipReference())
                        return false;
                    continue;
                }

                if (c != '<')
                {
                    ++p;
                    continue;
                }

                if (atCommentOrInstruction())
                {
                    const bool isInstruction = startsWith ("<?");

                    if (! skipCommentOrInstruction() || (isInstruction && ! markupFollows()))
                        return false;
                    continue;
                }

                if (startsWith ("<![CDATA["))
                {
                    if (depth == 0 || ! skipPast ("]]>"))
                        return false;
                    continue;
                }

                if (p[1] == '!')
                    return false;   // a document type declaration, or something else unknown

                if (p[1] == '/')
                {
                    // The parser closes the element it is in at the first '>', whatever the name.
                    if (depth == 0 || ! skipPast (">"))
                        return false;

                    if (--depth == 0)
                        return true;   // the parser reads nothing after the root element
                    continue;
                }

                if (++depth > maxDepth || ++names > maxPlainXmlNames)
                    return false;

                bool isEmptyElement = false;

                if (! readStartTag (isEmptyElement))
                    return false;

                if (isEmptyElement && --depth == 0)
                    return true;
            }
        }

    private:
        juce::String::CharPointerType p;
        const int maxDepth;
        int names = 0;   // elements and attributes so far

        static bool isNameChar (juce::juce_wchar c) noexcept
        {
            return juce::CharacterFunctions::isLetterOrDigit (c) || c == '_' || c == '-' || c == ':' || c == '.';
        }

        bool startsWith (const char* text) const
        {
            return juce::CharacterFunctions::compareUpTo (p, juce::CharPointer_ASCII (text), (int) strlen (text)) == 0;
        }

        // Moves past the next occurrence of the text; false when there is none.
        bool skipPast (const char* text)
        {
            const auto index = p.indexOf (juce::CharPointer_ASCII (text));

            if (index < 0)
                return false;

            p += index + (int) strlen (text);
            return true;
        }

        bool atCommentOrInstruction() const  { return startsWith ("<!--") || startsWith ("<?"); }

        // Skips a comment or a processing instruction whole; false when it has no end.
        bool skipCommentOrInstruction()
        {
            const bool isComment = startsWith ("<!--");
            p += isComment ? 4 : 2;
            return skipPast (isComment ? "-->" : "?>");
        }

        // After a processing instruction inside an element: true when what comes next, past
        // blanks, comments and further instructions, is markup (or the end, where the parser
        // fails on its own), which the parser reads without going back to the instruction.
        bool markupFollows()
        {
            for (;;)
            {
                p.incrementToEndOfWhitespace();

                if (! atCommentOrInstruction())
                    return p.isEmpty() || *p == '<';

                if (! skipCommentOrInstruction())
                    return false;
            }
        }

        // What XML lets a character reference stand for: a tab, a line end or a character from
        // U+0020 on, less the surrogates and U+FFFE and U+FFFF.
        static bool isXmlCharacter (juce::int64 c) noexcept
        {
            return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF)
                || (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
        }

        // At a '&': a predefined or a numeric character reference, which the parser turns into
        // one character. Any other reference would be looked up in a document type declaration,
        // whose text the parser reads as elements, or would make it jump to the next ';'.
        bool skipReference()
        {
            ++p;

            for (auto* name : { "amp;", "quot;", "apos;", "lt;", "gt;" })
            {
                const int length = (int) strlen (name);

                if (p.compareIgnoreCaseUpTo (juce::CharPointer_ASCII (name), length) == 0)
                {
                    p += length;
                    return true;
                }
            }

            if (*p != '#')
                return false;

            ++p;
            const bool hex = (*p == 'x' || *p == 'X');

            if (hex)
                ++p;

            int digits = 0;
            juce::int64 value = 0;

            for (;; ++p, ++digits)
            {
                const int digit = hex ? juce::CharacterFunctions::getHexDigitValue (*p)
                                      : (*p >= '0' && *p <= '9' ? (int) (*p - '0') : -1);

                if (digit < 0)
                    break;

                // Past U+10FFFF it is no character, however many more digits follow.
                value = std::min (value * (hex ? 16 : 10) + digit, (juce::int64) 0x110000);
            }

            // The parser reads at most 8 hexadecimal or 12 decimal digits and turns whatever
            // they give into one character, an impossible one included.
            if (digits == 0 || digits > (hex ? 8 : 12) || *p != ';' || ! isXmlCharacter (value))
                return false;

            ++p;
            return true;
        }

        // A name as far as the parser reads it, which must also be one that the framework's
        // element takes: it holds it to be a programming error to make one with any other.
        bool readName()
        {
            const auto start = p;

            while (isNameChar (*p))
                ++p;

            return juce::XmlElement::isValidXmlName (juce::String (start, p));
        }

        // At the '<' of a start tag: its name and attributes up to "/>" or ">".
        bool readStartTag (bool& isEmptyElement)
        {
            ++p;

            if (! readName())
                return false;

            for (;;)
            {
                p.incrementToEndOfWhitespace();

                if (*p == '/' && p[1] == '>')
                {
                    p += 2;
                    isEmptyElement = true;
                    return true;
                }

                if (*p == '>')
                {
                    ++p;
                    return true;
                }

                // An attribute: a name, '=' and a value in quotes.
                if (++names > maxPlainXmlNames || ! readName())
                    return false;

                p.incrementToEndOfWhitespace();

                if (*p != '=')
                    return false;

                ++p;
                p.incrementToEndOfWhitespace();

                const auto quote = *p;

                if (quote != '"' && quote != '\'')
                    return false;

                ++p;

                while (*p != quote)
                {
                    if (p.isEmpty())
                        return false;

                    if (*p == '&')
                    {
                        if (! skipReference())
                            return false;
                    }
                    else
                    {
                        ++p;
                    }
                }

                ++p;
            }
        }
    };
}

bool isPlainAndShallowXml (const juce::String& text, int maxDepth)
{
    return Scanner (text, maxDepth).isPlainAndShallow();
}

namespace
{
    void removeText (juce::XmlElement& element)
    {
        element.deleteAllTextElements();

        for (auto* child : element.getChildIterator())
            removeText (*child);
    }
}

juce::ValueTree treeFromPlainXml (juce::XmlElement& root)
{
    removeText (root);
    return juce::ValueTree::fromXml (root);
}

} // namespace fenz
