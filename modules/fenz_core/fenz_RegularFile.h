#pragma once

#include <juce_core/juce_core.h>
#include <optional>

namespace fenz
{

// The first bytes of a regular file, at most maxBytes of them; nothing when the file is not a
// regular file or cannot be opened. A chooser hands over whatever the user picked: opening a
// FIFO for reading waits for a writer that may never come, and a device may never end, so
// anything other than a regular file is refused before any read, and the open itself never
// waits.
std::optional<juce::MemoryBlock> readRegularFile (const juce::File& file, size_t maxBytes);

} // namespace fenz
