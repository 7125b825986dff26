#pragma once

#include "fenz_FirmwareUpgradeComponent.h"

namespace fenz
{

// What the tests reach inside the upgrader panel beyond what it shows (getState): its widgets,
// the data of its steps, its hooks and its step scope. Made for one panel and used at once.
struct FirmwareUpgradeComponent::TestSeam
{
    using StepScope = FirmwareUpgradeComponent::StepScope;

    explicit TestSeam (FirmwareUpgradeComponent& p)
        : panel (p), dialogs (p.dialogs), timing (p.timing), onlineMode (p.onlineMode),
          onlineModeDefault (p.onlineModeDefault), pid (p.pid), stepLabels (p.stepLabels),
          stepNumberLabels (p.stepNumberLabels), stepTextLabels (p.stepTextLabels),
          updateDeviceNameButton (p.updateDeviceNameButton),
          noteCaptionLabel (p.noteCaptionLabel), noteLabel (p.noteLabel), statusLabel (p.statusLabel),
          progressBar (p.progressBar), firmwareFile (p.firmwareFile), initialPid (p.initialPid),
          firmwares (p.firmwares), handler (p.handler), currentPid (p.currentPid)
    {
    }

    // The step buttons by the index that pressStep takes (StepIndex below).
    juce::TextButton& stepButton (int index)                   { return panel.stepButton (index); }
    MidiInputHandler& getHandler()                             { return panel.getHandler(); }
    void setStatusText (const juce::String& text)              { panel.setStatusText (text); }
    void interruptiblePause (int milliseconds)                 { panel.interruptiblePause (milliseconds); }

    FirmwareUpgradeComponent& panel;
    Dialogs& dialogs;
    Timing& timing;
    bool& onlineMode;
    const bool& onlineModeDefault;
    int& pid;
    juce::Label (&stepLabels)[numSteps];
    juce::Label (&stepNumberLabels)[numSteps];
    juce::Label (&stepTextLabels)[numSteps];
    juce::TextButton& updateDeviceNameButton;
    juce::Label& noteCaptionLabel;
    juce::Label& noteLabel;
    juce::Label& statusLabel;
    juce::ProgressBar& progressBar;
    juce::File& firmwareFile;
    const int& initialPid;
    juce::ValueTree& firmwares;
    std::unique_ptr<MidiInputHandler>& handler;
    int& currentPid;
};

} // namespace fenz

// The panel's inside, for a test.
inline fenz::FirmwareUpgradeComponent::TestSeam inside (fenz::FirmwareUpgradeComponent& panel)
{
    return fenz::FirmwareUpgradeComponent::TestSeam (panel);
}

namespace testsupport
{
    // The steps by the index that FirmwareUpgradeComponent::pressStep takes.
    enum StepIndex { connectStep, eraseStep, activateStep, versionStep, upgradeStep };
}
