#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

namespace fenz
{

// How the simulated surface writes bytes in its record and its notes: two upper-case hex digits
// a byte, the bytes separated by blanks ("F0 1D 03").
namespace VirtualSurfaceHex
{
    juce::String ofByte (int byte);
    juce::String ofBytes (const juce::uint8* data, size_t size);
    juce::String ofMessage (const juce::MidiMessage& message);
}

} // namespace fenz
