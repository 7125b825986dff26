#pragma once

#include <juce_core/juce_core.h>
#include <optional>

// What a mapping file must be before the framework's XML parser may see it. The parser recurses
// once per level of nesting, and it reads a file whole, so a deeply nested or huge file (or a
// wrongly chosen one) would overflow the stack or fill the memory; and the entities of a document
// type declaration expand into elements that no look at the file itself could count.
struct MappingFileText
{
    /** The largest mapping file read at all; the system's own are about 10 KB. */
    static constexpr juce::int64 maxBytes = 1024 * 1024;

    /** The deepest nesting of elements let through; the system's maps are three levels deep
        (map, controls, control). */
    static constexpr int maxDepth = 8;

    /** The file's text, decoded as the framework decodes XML files, or nothing when it cannot be
        opened, holds more than maxBytes or is not text (fenz::decodeXmlText); never reads much
        more than that. Anything but a
        regular file (a folder, a FIFO, a device) is one that cannot be opened, and never
        keeps the caller waiting. */
    static std::optional<juce::String> read (const juce::File& file);

    /** True when the text is plain XML that nests no deeper than maxDepth and holds no more
        than fenz::maxPlainXmlNames elements and attributes: elements, attributes in quotes,
        text, comments, processing instructions, CDATA sections and the predefined and numeric
        character references. Anything else (a document type declaration, another entity,
        a tag the parser would have to recover from) is refused, so that what is counted here is
        what the parser will build. The check is fenz::isPlainAndShallowXml with maxDepth. */
    static bool isPlainAndShallow (const juce::String& text);
};
