#include "fenz_MidiInputHandler.h"

namespace fenz
{

// Not built yet.
FirmwareUpgradeComponent::MidiInputHandler::~MidiInputHandler() {}
void FirmwareUpgradeComponent::MidiInputHandler::handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage&) {}
void FirmwareUpgradeComponent::MidiInputHandler::openProgram (const juce::File&) {}
void FirmwareUpgradeComponent::MidiInputHandler::closePorts() {}
void FirmwareUpgradeComponent::MidiInputHandler::clearFlags() noexcept {}

} // namespace fenz
