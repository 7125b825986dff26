#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_FirmwareGlobals.h"
#include "fenz_MidiInputHandler.h"
#include "fenz_UpgradePorts.h"
#include "fenz_UpgradeProtocol.h"

#include <algorithm>
#include <iostream>
#include <utility>

namespace fenz
{

namespace
{
    const juce::String windowTitle ("Firmware Upgrade");

    juce::String quoted (const juce::String& text)   { return "\"" + text + "\""; }

    // Step 0 to 4; the fourth step's name depends on where its firmware comes from.
    juce::String stepName (int step, bool online)
    {
        switch (step)
        {
            case 0:  return "Connect";
            case 1:  return "Erase";
            case 2:  return "Activate";
            case 3:  return online ? "Select Version" : "Load File";
            case 4:  return "Upgrade";
            default: return "Invalid Step";
        }
    }

    juce::String stepDescription (int step, bool online)
    {
        const auto name = quoted (stepName (step, online));

        switch (step)
        {
            case 0:  return "Please connect your Fenz device and click " + name + " button to create the connection.";
            case 1:  return "Click " + name + " button to enter into " + quoted ("Firmware upgrade mode") + ".";
            case 2:  return "Click " + name + " button to activate the " + quoted ("Firmware upgrade mode") + ".";
            case 3:  return "Click " + quoted ("Select Version")
                            + ", the process will automatically search for the most up to date firmware for your device at our website.";
            case 4:  return "Click " + name + " to start the file upload process.";
            default: return {};
        }
    }

    // The window that shows the panel's title: the nearest dialog around it, else the nearest
    // document window, else none.
    juce::DocumentWindow* titleWindowOf (juce::Component& panel)
    {
        if (auto* dialog = panel.findParentComponentOfClass<juce::DialogWindow>())
            return dialog;

        return panel.findParentComponentOfClass<juce::DocumentWindow>();
    }

    void setWindowTitle (juce::Component& panel, const juce::String& title)
    {
        if (auto* window = titleWindowOf (panel))
            window->setName (title);
    }

    // Every panel that exists, and the quit held back until none of them runs a step.
    struct Panels
    {
        juce::Array<FirmwareUpgradeComponent*> live;
        std::function<void()> heldQuit;

        static Panels& get()
        {
            static Panels panels;
            return panels;
        }

        bool anyStepRunning() const
        {
            return std::any_of (live.begin(), live.end(), [] (auto* p) { return p->isStepRunning(); });
        }

        void releaseHeldQuitWhenIdle()
        {
            if (heldQuit == nullptr || anyStepRunning())
                return;

            // From the message loop, with no step of any panel on the stack any more.
            juce::MessageManager::callAsync (std::exchange (heldQuit, nullptr));
        }
    };

    int upperCaseKeyCode (const juce::KeyPress& key)
    {
        const auto code = key.getKeyCode();

        // Only letters are folded: function keys and the like have codes of their own that
        // must stay as they are.
        if (code >= 'a' && code <= 'z')
            return code - 'a' + 'A';

        return code;
    }
}

//==============================================================================
FirmwareUpgradeComponent::FirmwareUpgradeComponent (int productId)
    : FirmwareUpgradeComponent (productId, realDialogs (*this), realTiming())
{
}

FirmwareUpgradeComponent::FirmwareUpgradeComponent (int productId, Dialogs d, Timing t)
    : dialogs (std::move (d)), timing (std::move (t)), pid (productId), initialPid (productId), currentPid (productId)
{
    Panels::get().live.add (this);
    tooltipWindow.setMillisecondsBeforeTipAppears (0);
    firmwares = juce::ValueTree ("firmwares");

    addAndMakeVisible (statusLabel);
    statusLabel.setText ("Upgrade Progress", juce::dontSendNotification);
    statusLabel.setJustificationType (juce::Justification::centred);

    addAndMakeVisible (progressBar);
    progressBar.setPercentageDisplay (true);
    progressBar.setColour (juce::ProgressBar::foregroundColourId, juce::Colours::skyblue);

    for (int i = 0; i < 5; ++i)
    {
        const auto caption = "Step " + juce::String (i + 1);

        addAndMakeVisible (stepLabels[i]);
        stepLabels[i].setText (caption, juce::dontSendNotification);
        stepLabels[i].setJustificationType (juce::Justification::centred);

        addAndMakeVisible (stepNumberLabels[i]);
        stepNumberLabels[i].setText (caption + ":", juce::dontSendNotification);
        stepNumberLabels[i].setJustificationType (juce::Justification::topLeft);

        addAndMakeVisible (stepTextLabels[i]);
        stepTextLabels[i].setText (stepDescription (i, onlineMode), juce::dontSendNotification);
        stepTextLabels[i].setJustificationType (juce::Justification::topLeft);
        stepTextLabels[i].setMinimumHorizontalScale (1.0f);
    }

    addAndMakeVisible (noteCaptionLabel);
    noteCaptionLabel.setText ("Note:", juce::dontSendNotification);
    noteCaptionLabel.setJustificationType (juce::Justification::topLeft);

    addAndMakeVisible (noteLabel);
    noteLabel.setText ("If your connected Fenz product model name does not appear on the pull-down menu, select "
                           + quoted ("USB Audio Device") + " as the MIDI In/Out device",
                       juce::dontSendNotification);
    noteLabel.setJustificationType (juce::Justification::topLeft);

    for (int i = 0; i < numSteps; ++i)
    {
        addAndMakeVisible (stepButton (i));
        stepButton (i).setButtonText (stepName (i, onlineMode));
        stepButton (i).addListener (this);
    }

    addAndMakeVisible (updateDeviceNameButton);
    updateDeviceNameButton.setButtonText ("Update Device Name");
    updateDeviceNameButton.addListener (this);

    for (auto* child : getChildren())
        if (auto* label = dynamic_cast<juce::Label*> (child))
            label->setColour (juce::Label::textColourId, juce::Colours::black);

    updateProgress (-1);

    // The panel answers keys of its own (M, T, F1), so it takes the focus rather than a button.
    setWantsKeyboardFocus (true);

    setSize (514, 491);
}

FirmwareUpgradeComponent::~FirmwareUpgradeComponent()
{
    // The dialog keeps the panel while a step runs; see requestClose().
    jassert (runningSteps == 0);
    Panels::get().live.removeAllInstancesOf (this);

    // A device left in upgrade mode is told to reset, so that it comes back as itself. Every
    // matching port is served, however many there are. A device that has taken its reset may
    // leave the list at once; each port is opened by what it was listed as, so that none of
    // the ports after it is taken for it.
    for (const auto& output : MidiPorts::getOutputs())
    {
        if (! UpgradePorts::holdsNameFragment (output.name))
            continue;

        if (auto port = MidiPorts::openOutputWithIdentifier (output.identifier))
            UpgradeProtocol::sendReset (*port, true, timing.pause);
    }

    // The members go next, in the reverse of their order: the handler (with its own ports and
    // the image) first, as only currentPid, a plain int, is declared after it; the hooks last.
}

void FirmwareUpgradeComponent::paint (juce::Graphics&)
{
}

//==============================================================================
FirmwareUpgradeComponent::MidiInputHandler& FirmwareUpgradeComponent::getHandler()
{
    if (handler == nullptr)
    {
        handler.reset (new MidiInputHandler());
        handler->owner = this;
        handler->pid = pid;
    }

    return *handler;
}

juce::TextButton& FirmwareUpgradeComponent::stepButton (int index)
{
    juce::TextButton* const buttons[numSteps] = { &connectStepButton, &eraseStepButton, &activateStepButton,
                                                  &versionStepButton, &upgradeStepButton };
    jassert (index >= 0 && index < numSteps);
    return *buttons[index];
}

const juce::TextButton& FirmwareUpgradeComponent::stepButton (int index) const
{
    return const_cast<FirmwareUpgradeComponent&> (*this).stepButton (index);
}

void FirmwareUpgradeComponent::pressStep (int index)
{
    buttonClicked (&stepButton (index));
}

FirmwareUpgradeComponent::State FirmwareUpgradeComponent::getState() const
{
    State state { step, progress, {}, statusLabel.getText(), normalDeviceName, upgradeDeviceName };

    for (int k = 0; k < numSteps; ++k)
        state.enabled[(size_t) k] = stepButton (k).isEnabled();

    return state;
}

//==============================================================================
void FirmwareUpgradeComponent::updateProgress (int newStep)
{
    if (newStep < 0)
    {
        step = -1;
        progress = 0.0;

        for (int k = 0; k < numSteps; ++k)
            stepButton (k).setEnabled (k == 0);

        return;
    }

    const juce::ScopedLock lock (progressLock);

    progress = (newStep + 1) / 5.0;
    step = newStep;

    const int enabledUpTo = newStep < 5 ? newStep + 2 : 0;

    for (int k = 0; k < numSteps; ++k)
        stepButton (k).setEnabled (enabledUpTo > k);
}

void FirmwareUpgradeComponent::SetTitle (juce::String text)
{
    setWindowTitle (*this, text.isEmpty() ? windowTitle : windowTitle + ": " + text);
}

bool FirmwareUpgradeComponent::keyPressed (const juce::KeyPress& key)
{
    const auto code = upperCaseKeyCode (key);

    if (code == 'M')
    {
        onlineMode = ! onlineMode;
        setWindowTitle (*this, windowTitle + (bTest ? "." : "") + (onlineMode ? "" : " [M]"));
    }
    else if (code == 'T')
    {
        bTest = ! bTest;
        setWindowTitle (*this, windowTitle + (bTest ? "." : ""));
    }
    else if (code == juce::KeyPress::F1Key)
    {
        tell (juce::MessageBoxIconType::NoIcon,
              "\n \nFenz Firmware Upgrader\n\nV1.19  Build 58",
              "\n\n \nCopyright (c) Fenzwerk. All rights reserved.");
    }

    // The key goes on to the enclosing components either way.
    return false;
}

//==============================================================================
void FirmwareUpgradeComponent::resized()
{
    const int w = getWidth();
    const int half = w / 2;
    const int left = half - 240;
    const int textX = half - 164;

    statusLabel.setBounds (0, 10, w, 20);
    progressBar.setBounds (40, 36, w - 80, 24);

    for (int k = 0; k < 5; ++k)
    {
        stepLabels[k].setBounds (left + 96 * k, progressBar.getBottom() + 6, 90, 20);
        stepButton (k).setBounds (stepLabels[k].getX(), stepLabels[k].getBottom() + 6, 90, 20);
    }

    // One row: a caption of 70 at the left and a text of two lines beside it, reaching to 20
    // from the right edge.
    auto placeRow = [&] (juce::Label& caption, juce::Label& text, int y)
    {
        caption.setBounds (left, y, 70, 20);
        text.setBounds (textX, y, w - 20 - caption.getRight(), 50);
    };

    placeRow (stepNumberLabels[0], stepTextLabels[0], connectStepButton.getBottom() + 18);
    placeRow (noteCaptionLabel, noteLabel, stepTextLabels[0].getBottom() + 6);

    const juce::Label* rowAbove = &noteLabel;

    for (int k = 1; k < 5; ++k)
    {
        placeRow (stepNumberLabels[k], stepTextLabels[k], rowAbove->getBottom() + 6);
        rowAbove = &stepTextLabels[k];
    }

    updateDeviceNameButton.setBounds (half - 48, stepTextLabels[4].getBottom() - 14, 90, 20);
    updateDeviceNameButton.setTooltip ("Click here to update the displaying name of your device.");
}

//==============================================================================
int FirmwareUpgradeComponent::ask (juce::Component& chooser, const juce::String& title)
{
    if (isQuitHeld() || dialogs.runChooser == nullptr)
        return 0;

    const auto result = dialogs.runChooser (chooser, title);
    regainKeyboardFocus();
    return result;
}

void FirmwareUpgradeComponent::tell (juce::MessageBoxIconType icon, const juce::String& title, const juce::String& text)
{
    if (isQuitHeld() || dialogs.showMessageBox == nullptr)
        return;

    dialogs.showMessageBox (icon, title, text);
    regainKeyboardFocus();
}

juce::File FirmwareUpgradeComponent::askForFirmwareFile (const juce::File& startingPlace)
{
    if (isQuitHeld() || dialogs.chooseFirmwareFile == nullptr)
        return {};

    const auto chosen = dialogs.chooseFirmwareFile (startingPlace);
    regainKeyboardFocus();
    return chosen;
}

void FirmwareUpgradeComponent::setStatusText (const juce::String& text)
{
    stepStatusText = text;
    showStatusText();
}

void FirmwareUpgradeComponent::showStatusText()
{
    statusLabel.setText (closeRequested ? juce::String (closingText) : stepStatusText, juce::dontSendNotification);
}

void FirmwareUpgradeComponent::regainKeyboardFocus()
{
    if (isShowing() && ! hasKeyboardFocus (false))
        grabKeyboardFocus();
}

void FirmwareUpgradeComponent::dismissWhatIsOpenInFront()
{
    // The modal components in front of the panel's own window, the front-most first.
    auto& modal = *juce::ModalComponentManager::getInstance();
    juce::Array<juce::Component::SafePointer<juce::Component>> inFront;

    for (int i = 0; i < modal.getNumModalComponents(); ++i)
    {
        auto* c = modal.getModalComponent (i);

        if (c == nullptr || c == this || c->isParentOf (this))
            break;

        inFront.add (c);
    }

    for (auto& c : inFront)
        if (c != nullptr)
            c->exitModalState (0);
}

//==============================================================================
bool FirmwareUpgradeComponent::requestClose()
{
    if (runningSteps == 0)
        return true;

    // The step may wait for the device for several seconds more; the window says why it is
    // still there.
    closeRequested = true;
    showStatusText();
    return false;
}

void FirmwareUpgradeComponent::bringWindowToFront()
{
    // The main window's close button may have raised the main window over the upgrader, which
    // is what shows why the program is still there. (Later clicks on the main window bring the
    // upgrader's modal dialog to the front by themselves. Making it always-on-top instead would
    // make the framework build the window anew on Linux.)
    auto* window = getTopLevelComponent();

    if (window != nullptr && window->isOnDesktop())
        window->toFront (true);
}

void FirmwareUpgradeComponent::interruptiblePause (int milliseconds)
{
    // The pause blocks the message thread, so a request can only have come before it.
    if (! closeRequested)
        timing.pause (milliseconds);
}

FirmwareUpgradeComponent::StepScope::StepScope (FirmwareUpgradeComponent& p) : panel (p)
{
    ++panel.runningSteps;
}

FirmwareUpgradeComponent::StepScope::~StepScope()
{
    if (--panel.runningSteps > 0)
        return;

    // The close that was held back while the step ran. The dialog only ends its modal run
    // here; whoever runs it deletes it once the run has returned, with no step on the stack.
    // A panel elsewhere has no dialog to close, and the request is over all the same: the
    // next step's pauses are not to be cut short by it.
    if (panel.closeRequested)
    {
        panel.closeRequested = false;
        panel.showStatusText();

        if (auto* dialog = panel.findParentComponentOfClass<juce::DialogWindow>())
        {
            juce::DocumentWindow& window = *dialog;
            window.closeButtonPressed();
        }
    }

    Panels::get().releaseHeldQuitWhenIdle();
}

void FirmwareUpgradeComponent::quitWhenNoStepRuns (std::function<void()> quit)
{
    auto& panels = Panels::get();

    if (! panels.anyStepRunning())
    {
        if (quit != nullptr)
            quit();

        return;
    }

    // Asked for from a terminal (Ctrl-C) or a session's end, the quit is seen to be held there
    // too, once.
    if (panels.heldQuit == nullptr && quit != nullptr)
        std::cerr << closingText << std::endl;

    panels.heldQuit = std::move (quit);

    // A quit waits for the device, not for a person: what a step has open is answered as
    // cancelled, and nothing more is asked.
    for (auto* p : panels.live)
    {
        if (! p->requestClose())
        {
            p->dismissWhatIsOpenInFront();
            p->bringWindowToFront();
        }
    }
}

bool FirmwareUpgradeComponent::isQuitHeld()
{
    return Panels::get().heldQuit != nullptr;
}

} // namespace fenz
