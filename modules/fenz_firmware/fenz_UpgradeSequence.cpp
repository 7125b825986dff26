#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_MidiInputHandler.h"
#include "fenz_UpgradeProtocol.h"
#include "fenz_UpgraderChoosers.h"

namespace fenz
{

// Not built yet.
void FirmwareUpgradeComponent::buttonClicked (juce::Button*) {}
void FirmwareUpgradeComponent::connectStep() {}
void FirmwareUpgradeComponent::eraseStep() {}
void FirmwareUpgradeComponent::activateStep() {}
void FirmwareUpgradeComponent::upgradeStep() {}
void FirmwareUpgradeComponent::updateDeviceNameStep() {}

} // namespace fenz
