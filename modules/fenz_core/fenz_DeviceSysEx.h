#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// The system-exclusive message that addresses a device family:
// F0 1D 03 idHi idLo 00 cmd 7F F7, with idHi = id >> 7 and idLo = id % 128.
juce::MidiMessage deviceSysEx (int familyIdentifier, int command);

// The product id as the mapping transfer carries it: the main unit and the extender are one
// family, and so are the two models that share id 79.
int familyId (int productId) noexcept;
