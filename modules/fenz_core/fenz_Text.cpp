#include "fenz_Text.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace fenz
{

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

    std::optional<juce::String> decodeUtf8Bytes (const juce::uint8* bytes, size_t size)
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
        return decodeUtf8Bytes (bytes + 3, size - 3);

    return decodeUtf8Bytes (bytes, size);
}

std::optional<juce::String> decodeUtf8 (const void* data, size_t size)
{
    return decodeUtf8Bytes (static_cast<const juce::uint8*> (data), size);
}

juce::String environmentText (const char* name, const juce::String& fallback)
{
    const auto* value = std::getenv (name);

    if (value == nullptr)
        return fallback;

    const auto* bytes = reinterpret_cast<const juce::uint8*> (value);
    const auto size = std::strlen (value);
    std::string checked;
    checked.reserve (size);

    for (size_t i = 0; i < size;)
    {
        const auto length = utf8SequenceLength (bytes + i, size - i);

        if (length == 0)
        {
            checked += "\xEF\xBF\xBD";
            ++i;
            continue;
        }

        checked.append (value + i, length);
        i += length;
    }

    return juce::String::fromUTF8 (checked.data(), (int) checked.size());
}

} // namespace fenz
