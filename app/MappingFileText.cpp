#include "MappingFileText.h"
#include "fenz_PlainXml.h"

std::optional<juce::String> MappingFileText::read (const juce::File& file)
{
    if (file.getSize() > maxBytes)
        return std::nullopt;

    juce::FileInputStream in (file);

    if (! in.openedOk())
        return std::nullopt;

    // Devices report no size, so the size seen above proves nothing: read up to the end or
    // until the text is longer than any mapping file may be.
    juce::MemoryBlock data;
    juce::HeapBlock<char> chunk (65536);

    for (;;)
    {
        const int numRead = in.read (chunk.get(), 65536);

        if (numRead <= 0)
            break;

        data.append (chunk.get(), (size_t) numRead);

        if ((juce::int64) data.getSize() > maxBytes)
            return std::nullopt;
    }

    // As the framework reads an XML file: UTF-16 by its byte order mark, else UTF-8 up to the
    // first NUL, any UTF-8 byte order mark skipped.
    data.append ("\0\0", 2);
    const auto* text = static_cast<const char*> (data.getData());

    if (juce::CharPointer_UTF16::isByteOrderMarkBigEndian (text)
         || juce::CharPointer_UTF16::isByteOrderMarkLittleEndian (text))
        return juce::String::createStringFromData (text, (int) data.getSize() - 2);

    if (juce::CharPointer_UTF8::isByteOrderMark (text))
        text += 3;

    return juce::String (juce::CharPointer_UTF8 (text));
}

bool MappingFileText::isPlainAndShallow (const juce::String& text)
{
    return fenz::isPlainAndShallowXml (text, maxDepth);
}
