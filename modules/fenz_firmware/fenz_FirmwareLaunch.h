#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace fenz
{

// The editor's "Firmware Upgrade" button: sets the upgrader's globals, asks for confirmation
// in the warning box and, on OK, runs the upgrade panel for the product id in its modal dialog
// titled "Firmware Upgrade", centred around the given component. Returns when the dialog has
// closed (or at once on Cancel).
void launchFirmwareUpgrade (int productId, juce::Component* centreAround);

// The dialog that holds the panel: Escape and the close button ask the panel first, which
// keeps the dialog open while a step runs.
class FirmwareUpgradeDialog;

} // namespace fenz
