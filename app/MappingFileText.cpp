#include "MappingFileText.h"
#include "fenz_PlainXml.h"
#include "fenz_Text.h"
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

    // Decoded as the framework reads an XML file, but checked first: bytes that are not text in
    // its encoding make a file that cannot be loaded.
    return fenz::decodeXmlText (bytes->getData(), bytes->getSize());
}

bool MappingFileText::isPlainAndShallow (const juce::String& text)
{
    return fenz::isPlainAndShallowXml (text, maxDepth);
}
