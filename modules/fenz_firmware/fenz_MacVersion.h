#pragma once

#include <juce_core/juce_core.h>

namespace fenz
{

// The macOS version as the upgrader compares it (fenz::_mac_major holds it for the data pacing).
namespace MacVersion
{
    // 10.15: the data packets are paced from here on, and the system's utilities have moved to
    // /System/Applications/Utilities.
    constexpr int catalina = 15;

    // The number of a product version such as "10.15.7": for macOS 10 its second number (15),
    // for macOS 11 and later, which all come after 10.15, the first number plus 5 ("11.6" gives
    // 16, "14.2.1" 19), as the framework numbers them. 0 for text that is no macOS version.
    int fromProductVersion (const juce::String& productVersion);

    // That number for the system the program runs on: from its product version on macOS, 0 on
    // every other system.
    int ofThisSystem();

    // The shell command that opens the "Audio MIDI Setup" utility on a system of that number.
    const char* audioMidiSetupCommand (int version);
}

} // namespace fenz
