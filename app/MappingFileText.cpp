#include "MappingFileText.h"
#include "fenz_PlainXml.h"
#include "fenz_RegularFile.h"

std::optional<juce::String> MappingFileText::read (const juce::File& file)
{
    if (file.getSize() > maxBytes)
        return std::nullopt;

    // The size seen above may have changed by the time the file is read, so the reading itself
    // stops one byte past the limit. Only a regular file is read: a FIFO or a device, which
    // could keep the window waiting or never end, is one that cannot be opened.
    auto bytes = fenz::readRegularFile (file, (size_t) maxBytes + 1);

    if (! bytes.has_value() || (juce::int64) bytes->getSize() > maxBytes)
        return std::nullopt;

    auto& data = *bytes;

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
