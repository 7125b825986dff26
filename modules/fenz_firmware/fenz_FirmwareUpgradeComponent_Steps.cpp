#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_FirmwareGlobals.h"
#include "fenz_MacVersion.h"
#include "fenz_MidiInputHandler.h"
#include "fenz_UpgradePorts.h"
#include "fenz_UpgradeProtocol.h"
#include "fenz_UpgradeRun.h"
#include "fenz_UpgradeWaits.h"
#include "fenz_UpgraderChoosers.h"

#include <iostream>

namespace fenz
{

namespace
{
    const char* const chooserTitle = "Choose Your Fenz Device";

    juce::String deviceNameInstructions()
    {
        juce::StringArray lines;
        lines.add ("After \"Audio MIDI Setup\" opened.");
        lines.add ("");
        lines.add ("1. Check \"Show MIDI Window\" ");
        lines.add ("on \"Window\" pull-down menu, ");
        lines.add ("at the top task-bar.");
        lines.add ("");
        lines.add ("2. Turn off your device, drag ");
        lines.add ("the sroll-bar to find out your device, ");
        lines.add ("and select it.");
        lines.add ("");
        lines.add ("3. Click \"Remove Device\".");
        lines.add ("");
        lines.add ("Then turn on your device. ");
        lines.add ("The displaying name of your device ");
        lines.add ("will be refreshed!");
        return lines.joinIntoString ("\n");
    }
}

// What the steps share, with the panel's own access.
struct FirmwareUpgradeComponent::Steps
{
    using Handler = MidiInputHandler;

    // Runs the port chooser; the chosen input name, or nothing when it was cancelled.
    static bool choosePort (FirmwareUpgradeComponent& panel, juce::String& chosenName)
    {
        std::unique_ptr<DeviceSelectComponent> chooser (new DeviceSelectComponent());

        if (panel.ask (*chooser, chooserTitle) != 1)
            return false;

        chosenName = chooser->selectedName;
        return true;
    }

    static void setStatus (FirmwareUpgradeComponent& panel, const juce::String& text)
    {
        panel.setStatusText (text);
    }

    // How the run ended, in a box; a run that ends under a held quit shows no box (nobody
    // would answer it and the program is about to go), and its outcome goes to standard
    // error instead, where a quit from a terminal is seen.
    static void tellOutcome (FirmwareUpgradeComponent& panel, juce::MessageBoxIconType icon, const juce::String& title,
                             const juce::String& text)
    {
        if (FirmwareUpgradeComponent::isQuitHeld())
            std::cerr << title << ": " << text << std::endl;
        else
            panel.tell (icon, title, text);
    }

    // The panel's bar and status line as a run shows its stages on them. During a run the bar
    // moves from 0.8 towards 1.0 with the stages and the blocks written. The last block's
    // offset can pass the image's size, and the framework draws a value above 1.0 as an
    // endless stripe rather than as 100 %.
    struct RunDisplay : public UpgradeRun::Display
    {
        RunDisplay (FirmwareUpgradeComponent& p, const Handler& h) : panel (p), handler (h) {}

        void setProgress (double k) override
        {
            panel.progress = juce::jmin (1.0, 0.8 + 0.2 * k / ((double) handler.size + 3.0));
        }

        void setStatusText (const juce::String& text) override
        {
            setStatus (panel, text);
        }

        FirmwareUpgradeComponent& panel;
        const Handler& handler;
    };
};

//==============================================================================
void FirmwareUpgradeComponent::buttonClicked (juce::Button* button)
{
    // The scope keeps the dialog open until the step has returned; a close asked for meanwhile
    // happens as it goes, so nothing may touch the panel after it.
    const StepScope scope (*this);

    if (button == &connectStepButton)            connectStep();
    else if (button == &eraseStepButton)         eraseStep();
    else if (button == &activateStepButton)      activateStep();
    else if (button == &versionStepButton)       doStep4();
    else if (button == &upgradeStepButton)       upgradeStep();
    else if (button == &updateDeviceNameButton)  updateDeviceNameStep();
}

//==============================================================================
void FirmwareUpgradeComponent::connectStep()
{
    onlineMode = onlineModeDefault;
    normalDeviceName = {};
    updateProgress (-1);

    // A device that was only just plugged in may take a few seconds to show its port.
    for (int waits = 0; waits < 5 && DeviceHelpers::getDeviceNames (false).isEmpty();)
    {
        for (int i = 0; i < 100 && ! isCloseRequested(); ++i)
            interruptiblePause (10);

        if (isCloseRequested())
            return;

        ++waits;
        SetTitle (juce::String::formatted ("(%d)", waits));
    }

    juce::String chosen;

    if (! Steps::choosePort (*this, chosen))
    {
        SetTitle ({});
        return;
    }

    normalDeviceName = chosen;
    pid = currentPid = Product::fromDeviceName (normalDeviceName);

    if (pid != Product::noModel)
    {
        SetTitle (Product::getName (currentPid));
        updateProgress (0);
    }
    else if (bTest)
    {
        pid = currentPid = initialPid;
        SetTitle (Product::getName (initialPid));
        updateProgress (0);
    }
    else
    {
        tell (juce::MessageBoxIconType::InfoIcon, "Firmware Upgrade",
              UpgradePorts::isUpgradePortName (normalDeviceName)
                  ? "It looks like your device is already in firmware upgrade mode. \n"
                    "Please turn off and turn on the device and try again."
                  : "This device is not able to be upgraded by this software.");
    }
}

void FirmwareUpgradeComponent::eraseStep()
{
    updateProgress (0);

    // The device in normal mode, by exactly the name chosen at Connect, and opened by what it
    // was listed as: a port that comes or goes meanwhile must not turn the request onto
    // another device.
    auto output = normalDeviceName.isEmpty() ? nullptr
                                             : MidiPorts::openOutputWithIdentifier (MidiPorts::findOutputIdentifier (normalDeviceName));

    if (output == nullptr)
        return;

    UpgradeProtocol::sendUpgradeModeRequest (*output, pid);
    updateProgress (1);

    // Time for the device to restart in upgrade mode before its new ports are looked for.
    interruptiblePause (1300);
}

void FirmwareUpgradeComponent::activateStep()
{
    updateProgress (1);
    interruptiblePause (500);

    if (isCloseRequested())
        return;

    auto& h = getHandler();

    connectStepButton.setEnabled (false);
    eraseStepButton.setEnabled (false);

    juce::String chosen;

    if (! Steps::choosePort (*this, chosen))
    {
        updateProgress (1);
        connectStepButton.setEnabled (true);
        return;
    }

    upgradeDeviceName = chosen;

    if (! bTest && ! UpgradePorts::isUpgradePortName (upgradeDeviceName))
    {
        tell (juce::MessageBoxIconType::WarningIcon, "Step 3",
              juce::String ("Please select the unit \"") + UpgradePorts::nameFragment + "\"");
        updateProgress (1);
        connectStepButton.setEnabled (true);
        return;
    }

    h.closePorts();

    // Each half by what it was listed as, for the same reason as at Erase.
    h.midiInput = MidiPorts::openInputWithIdentifier (MidiPorts::findInputIdentifier (upgradeDeviceName), h);
    h.midiOutput = MidiPorts::openOutputWithIdentifier (MidiPorts::findOutputIdentifier (upgradeDeviceName));

    if (h.midiInput != nullptr)
        h.midiInput->start();

    if (h.midiInput != nullptr && h.midiOutput != nullptr)
    {
        updateProgress (2);
        connectStepButton.setEnabled (false);
    }
    else
    {
        tell (juce::MessageBoxIconType::InfoIcon, "Midi Device",
              "Could not open the selected MIDI input device: " + upgradeDeviceName);
        updateProgress (1);
        connectStepButton.setEnabled (true);
    }
}

void FirmwareUpgradeComponent::upgradeStep()
{
    // Once started, a run always goes to its end: a device left half-written must at least be
    // told so, and the ports must be closed. A close asked for meanwhile waits for it.
    updateProgress (3);
    connectStepButton.setEnabled (false);
    eraseStepButton.setEnabled (false);
    auto& h = getHandler();

    for (int k = 0; k < numSteps; ++k)
        stepButton (k).setEnabled (false);

    juce::String error;

    if (h.midiInput == nullptr)
    {
        error = "No MIDI input device is open";
    }
    else if (h.midiOutput == nullptr)
    {
        error = "No MIDI output device is open";
    }
    else
    {
        h.clearFlags();

        // Step 4 refuses such an image already; this one may have come another way.
        if (! UpgradeProtocol::isWritableImageSize (h.size))
            error = UpgradeProtocol::wrongImageText;
        else
        {
            Steps::RunDisplay display (*this, h);
            error = UpgradeRun::run (h, display, timing.pause,
                                     [this] { timing.runMessageLoop (UpgradeWaits::sliceMilliseconds); });
        }
    }

    h.closePorts();

    timing.pause (800);
    Steps::setStatus (*this, "Firmware Upgrade");

    if (error.isNotEmpty())
    {
        Steps::tellOutcome (*this, juce::MessageBoxIconType::WarningIcon, "Firmware Upgrade Error", error);
    }
    else
    {
        Steps::tellOutcome (*this, juce::MessageBoxIconType::InfoIcon, "Firmware Upgrade Success", "Your firmware has been upgraded!");
        timing.pause (600);
        updateProgress (4);
    }

    timing.pause (300);
    updateProgress (-1);

    timing.pause (600);
    normalDeviceName = {};
    upgradeDeviceName = {};
    Steps::setStatus (*this, "Firmware Upgrade");
}

void FirmwareUpgradeComponent::updateDeviceNameStep()
{
   #if JUCE_MAC
    // Its outcome is not looked at: the instructions follow whatever happened.
    if (dialogs.runShellCommand != nullptr)
        dialogs.runShellCommand (MacVersion::audioMidiSetupCommand (MacVersion::ofThisSystem()));
   #endif

    // Elsewhere there is no such utility to start (and "open" is another program), so the
    // instructions are all there is.
    tell (juce::MessageBoxIconType::NoIcon, {}, juce::String::formatted (deviceNameInstructions()));
}

} // namespace fenz
