#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_MidiInputHandler.h"
#include "fenz_FirmwareServer.h"

namespace fenz
{

// Not built yet.
void FirmwareUpgradeComponent::doStep4() {}

} // namespace fenz
