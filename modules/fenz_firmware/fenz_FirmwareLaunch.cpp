#include "fenz_FirmwareLaunch.h"
#include "fenz_FirmwareUpgradeComponent.h"

namespace fenz
{

// Not built yet.
void launchFirmwareUpgrade (int, juce::Component*) {}

} // namespace fenz
