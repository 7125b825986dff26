#include <gtest/gtest.h>
#include "fenz_MacVersion.h"

namespace version = fenz::MacVersion;

// Every release from 10.15 on counts as 10.15 or later, those of macOS 11 and after included,
// and only those do.
TEST (MacVersion, NumbersEveryReleaseInOrder)
{
    struct Case { const char* productVersion; int number; };

    const Case cases[] = {
        { "10.8", 8 },       { "10.14.6", 14 },  { "10.15", 15 },    { "10.15.7", 15 },
        { "11.0", 16 },      { "11.6", 16 },     { "12.7.1", 17 },   { "13.0", 18 },
        { "14.2.1", 19 },    { "15", 20 },       { "26.0", 31 },     { " 10.13.6 ", 13 },
        { "", 0 },           { "10", 0 },        { "10.x", 0 },      { "9.2", 0 },
        { "Mac OSX 14.2", 0 }, { "14.beta", 0 }, { "-11.0", 0 },     { "99999.1", 0 },
    };

    for (const auto& c : cases)
        EXPECT_EQ (version::fromProductVersion (c.productVersion), c.number) << '"' << c.productVersion << '"';
}

// "Audio MIDI Setup" moved with macOS 10.15 and stayed in its new place since.
TEST (MacVersion, UtilityFolderOfEachRelease)
{
    const auto newPlace = "open /System/Applications/Utilities/Audio\\ MIDI\\ Setup.app";
    const auto oldPlace = "open /Applications/Utilities/Audio\\ MIDI\\ Setup.app";

    for (const auto* productVersion : { "10.15", "10.15.7", "11.6", "13.4", "14.2.1" })
        EXPECT_STREQ (version::audioMidiSetupCommand (version::fromProductVersion (productVersion)), newPlace) << productVersion;

    for (const auto* productVersion : { "10.8", "10.14", "10.14.6" })
        EXPECT_STREQ (version::audioMidiSetupCommand (version::fromProductVersion (productVersion)), oldPlace) << productVersion;
}

#if ! JUCE_MAC
// Elsewhere there is no macOS version, and so no macOS pacing.
TEST (MacVersion, IsNoneOnOtherSystems)
{
    EXPECT_EQ (version::ofThisSystem(), 0);
}
#endif
