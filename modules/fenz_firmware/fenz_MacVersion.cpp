#include "fenz_MacVersion.h"

namespace fenz
{

namespace MacVersion
{
    namespace
    {
        // A part of a version: decimal digits only, and not too many of them to be one.
        int numberOf (const juce::String& part)
        {
            if (part.isEmpty() || part.length() > 4 || ! part.containsOnly ("0123456789"))
                return -1;

            return part.getIntValue();
        }
    }

    int fromProductVersion (const juce::String& productVersion)
    {
        juce::StringArray parts;
        parts.addTokens (productVersion.trim(), ".", {});

        const auto major = numberOf (parts[0]);

        if (major == 10)
            return juce::jmax (0, numberOf (parts[1]));

        // Every later release follows 10.15 in the numbering, so that the rules for 10.15 and
        // later hold for it.
        if (major >= 11 && (parts.size() < 2 || numberOf (parts[1]) >= 0))
            return major + 5;

        return 0;
    }

    int ofThisSystem()
    {
       #if JUCE_MAC
        // The framework names the system "Mac OSX " followed by its product version. (Its
        // numbered system types end with macOS 13, and lump all later ones with 10.0.)
        return fromProductVersion (juce::SystemStats::getOperatingSystemName().fromLastOccurrenceOf (" ", false, false));
       #else
        return 0;
       #endif
    }

    const char* audioMidiSetupCommand (int version)
    {
        // One backslash before each blank, for the shell.
        return version >= catalina ? "open /System/Applications/Utilities/Audio\\ MIDI\\ Setup.app"
                                   : "open /Applications/Utilities/Audio\\ MIDI\\ Setup.app";
    }
}

} // namespace fenz
