#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_MidiInputHandler.h"

namespace fenz
{

// Not built yet.
FirmwareUpgradeComponent::FirmwareUpgradeComponent (int productId)
    : pid (productId), initialPid (productId), currentPid (productId)
{
}

FirmwareUpgradeComponent::~FirmwareUpgradeComponent()                   {}
void FirmwareUpgradeComponent::paint (juce::Graphics&)                  {}
bool FirmwareUpgradeComponent::keyPressed (const juce::KeyPress&)       { return false; }
void FirmwareUpgradeComponent::resized()                                {}
void FirmwareUpgradeComponent::updateProgress (int)                     {}
void FirmwareUpgradeComponent::SetTitle (juce::String)                  {}
bool FirmwareUpgradeComponent::requestClose()                           { return true; }
void FirmwareUpgradeComponent::interruptiblePause (int)                 {}

FirmwareUpgradeComponent::StepScope::StepScope (FirmwareUpgradeComponent& p) : panel (p) { ++panel.runningSteps; }
FirmwareUpgradeComponent::StepScope::~StepScope()                       { --panel.runningSteps; }

} // namespace fenz
