#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>
#include <functional>
#include <optional>

namespace fenz
{

// The first bytes of a regular file, at most maxBytes of them; nothing when the file is not a
// regular file, cannot be opened, or fails a read on the way. A chooser hands over whatever the
// user picked: opening a FIFO for reading waits for a writer that may never come, and a device
// may never end, so anything other than a regular file is refused before any read, and the open
// itself never waits.
std::optional<juce::MemoryBlock> readRegularFile (const juce::File& file, size_t maxBytes);

// How readRegularFile reads once its file is open. readSome reads as ::read does: the number
// of bytes it put into the buffer, 0 at the end, or -1 with errno set (EINTR asks for the read
// again). Bytes are taken until the end or until maxBytes have come; a failed read, after any
// number of bytes, gives nothing, since the bytes before it are not the whole file.
using ReadSome = std::function<std::int64_t (void* buffer, size_t maxBytes)>;

std::optional<juce::MemoryBlock> readUpTo (const ReadSome& readSome, size_t maxBytes);

} // namespace fenz
