#pragma once

#include <juce_core/juce_core.h>

namespace fenz
{

// How the upgrader knows the ports of a device in firmware upgrade mode by their names.
namespace UpgradePorts
{
    // The fragment every port of a device in upgrade mode carries in its name.
    constexpr const char* nameFragment = "Fenz firmware upgrade";

    // Connect and Activate: the fragment as a whole word, in any letter case ("FENZ FIRMWARE
    // UPGRADE 2" is one, "Fenz firmware upgrade2" is not).
    bool isUpgradePortName (const juce::String& name);

    // The close-time reset: the fragment exactly as written, letter case included, anywhere in
    // the name, glued to other letters or digits or not.
    bool holdsNameFragment (const juce::String& name);
}

} // namespace fenz
