#pragma once

#include "fenz_VirtualSurfaceUpgrade.h"

#include <optional>

namespace fenz
{

// The fault switches of a simulated surface as a text names them (KESTAL_VIRTUAL_SURFACE_FAULTS),
// items separated by commas or blanks, names and values in any case:
//   refuse-output, refuse-input, refuse-upgrade-mode, silent-connect, silent-erase,
//   silent-data=BLOCK, silent-reset, wrong-code=STAGE or wrong-code=STAGE:HEX (STAGE one of
//   connect, erase, data, reset; without HEX the code stays as it was, 03 unless set),
//   vanish-after-data=BLOCK, ack-delay=MILLISECONDS.
// BLOCK is 0 to 255 in at most three digits, HEX at most two digits up to 7F, MILLISECONDS one
// to five digits. A switch can only be set, never cleared.
struct VirtualSurfaceFaults
{
    UpgradeFaults upgrade;               // the faults read from, with the text's upgrade switches set
    bool refusesToOpenOutput = false;    // refuse-output
    bool refusesToOpenInput = false;     // refuse-input
    std::optional<int> answerDelay;      // ack-delay, the last one given
    juce::StringArray notUnderstood;     // the items as written, in order; they change nothing
};

// Reads the switches in the text on top of the upgrade faults given.
VirtualSurfaceFaults readVirtualSurfaceFaults (const juce::String& text, const UpgradeFaults& upgradeFaults = {});

} // namespace fenz
