#pragma once

#include <juce_core/juce_core.h>

#include <optional>

namespace fenz
{

// Bytes from outside made into text. The framework's own decoding sizes a string by decoding
// the bytes, stops early at an invalid sequence and then copies the raw bytes up to the NUL,
// which overruns the heap: bytes that were not checked here must never reach it.

// The text of the bytes when they are UTF-8 as RFC 3629 has it, or nothing when they are not: a
// sequence that is invalid, overlong or cut off, a surrogate, a code point past U+10FFFF or a NUL.
std::optional<juce::String> decodeUtf8 (const void* data, size_t size);

// The text of the bytes, decoded as the framework's reader decodes an XML file (UTF-16 after its
// byte order mark, else UTF-8 with any byte order mark skipped), or nothing when the bytes are
// not text in that encoding: what decodeUtf8 refuses, a lone UTF-16 surrogate or an odd number
// of UTF-16 bytes.
std::optional<juce::String> decodeXmlText (const void* data, size_t size);

// The value of an environment variable, or fallback when it is not set. A byte that is not part
// of a UTF-8 sequence reads as U+FFFD, so that a value that is not text still reads as a value,
// which the caller can refuse, never as a different one.
juce::String environmentText (const char* name, const juce::String& fallback = {});

} // namespace fenz
