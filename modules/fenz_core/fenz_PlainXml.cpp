#include "fenz_PlainXml.h"

#include <algorithm>
#include <cstring>
#include <string>

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

namespace
{
    // The length of the well-formed UTF-8 sequence at the start of the bytes, or 0 when they do
    // not start with one: the ranges are those of RFC 3629, which leave out overlong forms,
    // surrogates and everything past U+10FFFF.
    size_t utf8SequenceLength (const juce::uint8* b, size_t available) noexcept
    {
        const auto lead = b[0];

        if (lead >= 0x01 && lead <= 0x7F)
            return 1;

        size_t length = 0;
        juce::uint8 low = 0x80, high = 0xBF;   // the range of the second byte

        if (lead >= 0xC2 && lead <= 0xDF)       length = 2;
        else if (lead == 0xE0)                  { length = 3; low = 0xA0; }
        else if (lead >= 0xE1 && lead <= 0xEC)  length = 3;
        else if (lead == 0xED)                  { length = 3; high = 0x9F; }
        else if (lead >= 0xEE && lead <= 0xEF)  length = 3;
        else if (lead == 0xF0)                  { length = 4; low = 0x90; }
        else if (lead >= 0xF1 && lead <= 0xF3)  length = 4;
        else if (lead == 0xF4)                  { length = 4; high = 0x8F; }
        else                                    return 0;   // a NUL, a continuation byte or no lead at all

        if (available < length || b[1] < low || b[1] > high)
            return 0;

        for (size_t i = 2; i < length; ++i)
            if ((b[i] & 0xC0) != 0x80)
                return 0;

        return length;
    }

    std::optional<juce::String> decodeUtf8 (const juce::uint8* bytes, size_t size)
    {
        for (size_t i = 0; i < size;)
        {
            const auto length = utf8SequenceLength (bytes + i, size - i);

            if (length == 0)
                return std::nullopt;

            i += length;
        }

        return juce::String::fromUTF8 (reinterpret_cast<const char*> (bytes), (int) size);
    }

    std::optional<juce::String> decodeUtf16 (const juce::uint8* bytes, size_t size, bool bigEndian)
    {
        if (size % 2 != 0)
            return std::nullopt;

        const auto unitAt = [&] (size_t i)
        {
            const auto first = (juce::uint32) bytes[2 * i], second = (juce::uint32) bytes[2 * i + 1];
            return bigEndian ? (first << 8) | second : (second << 8) | first;
        };

        const size_t units = size / 2;
        std::u32string text;
        text.reserve (units);

        for (size_t i = 0; i < units; ++i)
        {
            auto c = unitAt (i);

            if (c == 0 || (c >= 0xDC00 && c <= 0xDFFF))
                return std::nullopt;

            if (c >= 0xD800 && c <= 0xDBFF)
            {
                const auto low = i + 1 < units ? unitAt (i + 1) : 0u;

                if (low < 0xDC00 || low > 0xDFFF)
                    return std::nullopt;

                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }

            text.push_back ((char32_t) c);
        }

        return juce::String (juce::CharPointer_UTF32 (reinterpret_cast<const juce::juce_wchar*> (text.c_str())));
    }
}

std::optional<juce::String> decodeXmlText (const void* data, size_t size)
{
    const auto* bytes = static_cast<const juce::uint8*> (data);

    if (size >= 2 && ((bytes[0] == 0xFE && bytes[1] == 0xFF) || (bytes[0] == 0xFF && bytes[1] == 0xFE)))
        return decodeUtf16 (bytes + 2, size - 2, bytes[0] == 0xFE);

    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        return decodeUtf8 (bytes + 3, size - 3);

    return decodeUtf8 (bytes, size);
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
