#pragma once

#include <juce_gui_basics/juce_gui_basics.h>
#include "fenz_FirmwareGlobals.h"
#include "fenz_MidiPorts.h"
#include "fenz_Product.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>

namespace fenz
{

//==============================================================================
/**
    The five-step firmware upgrade panel: Connect, Erase, Activate, Select Version (or Load
    File) and Upgrade, with a note, a status line, a progress bar and "Update Device Name".

    It lives in the modal dialog that launchFirmwareUpgrade() opens, which owns it. Everything
    it shows or asks in a window of its own goes through its Dialogs, and every wait through
    its Timing; both are the real ones unless the panel is built with others.
*/
class FirmwareUpgradeComponent : public juce::Component,
                                 public juce::Button::Listener
{
public:
    class MidiInputHandler;

    /** The number of steps, and of step buttons. */
    static constexpr int numSteps = 5;

    //==============================================================================
    // Everything the steps show or ask in a window of their own, in one place so that tests
    // can answer it. Each starts as the real thing (realDialogs).
    struct Dialogs
    {
        // Runs a chooser (the port or the version chooser) in a modal dialog with this title,
        // centred on the panel; the dialog does not own it. Answers the modal result.
        std::function<int (juce::Component& chooser, const juce::String& title)> runChooser;

        // A blocking box with one button.
        std::function<void (juce::MessageBoxIconType, const juce::String& title, const juce::String& text)> showMessageBox;

        // The local firmware file chooser, starting at the given place; juce::File() when cancelled.
        std::function<juce::File (const juce::File& startingPlace)> chooseFirmwareFile;

        // Runs a command of the system's shell ("Update Device Name" on macOS).
        std::function<void (const char* command)> runShellCommand;
    };

    /** The framework's real windows; the choosers are centred on centreAround, which must
        outlive what this makes. */
    static Dialogs realDialogs (juce::Component& centreAround);

    //==============================================================================
    // Every wait of the panel and its steps, in one place so that tests can see them without
    // sitting through them; step 4's network waits (deadlines against a server) are here as
    // their limits only, and the choosers' own pause after Cancel is not among them. Each
    // starts as the real thing (realTiming, from fenz_Pause.h) and must not be empty.
    struct Timing
    {
        // Blocks the message thread for at least the given time (fenz::pauseMilliseconds):
        // the packet senders' pacing, the close-time reset's, Connect's waits for a port,
        // Erase's and Activate's waits for the device, the pauses at the end of an Upgrade run.
        std::function<void (int milliseconds)> pause;

        // Lets the message loop run for at least the given time, on the message thread: the
        // Upgrade run's 33 ms slices (fenz::runMessageLoopFor). It lasts its time even once
        // the loop has stopped dispatching (after a quit has arrived), so that a run's waits
        // are never cut short.
        std::function<void (int milliseconds)> runMessageLoop;

        // Step 4's list: the probe's time-out, the longest wait for the server's answer to the
        // probe or to the list's read, and the longest either may take in all, redirects and
        // all, so that a server that trickles its list does not hold the step for ever either.
        int listAnswerLimitMs = 4000;
        int listTimeLimitMs = 12000;

        // How long step 4's firmware download may go without new data before it is given up
        // as failed: the longest wait for the server's answer, and then for each further piece
        // of HttpFetch::readBytes bytes.
        int downloadStallLimitMs = 20000;

        // The longest that step 4's firmware download may take in all, however steadily it goes.
        int downloadTimeLimitMs = 120000;
    };

    /** The real waits, and the limits above. */
    static Timing realTiming();

    //==============================================================================
    /** Builds the panel for the product with this id, with the real windows and waits. */
    explicit FirmwareUpgradeComponent (int productId);

    /** Builds the panel for the product with this id, asking and waiting through these. */
    FirmwareUpgradeComponent (int productId, Dialogs dialogs, Timing timing);

    /** Tells a device left in upgrade mode to reset, so that it comes back as itself. */
    ~FirmwareUpgradeComponent() override;

    //==============================================================================
    /** @internal */
    void paint (juce::Graphics&) override;
    /** M toggles the online mode, T the test mode, F1 shows the About box. */
    bool keyPressed (const juce::KeyPress&) override;
    /** @internal */
    void resized() override;
    /** Runs the step of the button that was pressed. */
    void buttonClicked (juce::Button*) override;

    //==============================================================================
    /** Sets the step reached, 0 to 4 (below 0: none), with the progress and the step buttons
        that go with it. */
    void updateProgress (int newStep);

    /** Sets the dialog's title to "Firmware Upgrade", followed by ": " and the text if any. */
    void SetTitle (juce::String text);

    /** Step 4: the firmware image for the Upgrade step, from the server's list or a local file. */
    void doStep4();

    /** Presses the step button of this step, 0 (Connect) to numSteps - 1 (Upgrade), as a click does. */
    void pressStep (int index);

    //==============================================================================
    /** What the panel shows of its progress, as it is now. */
    struct State
    {
        int step = -1;                               // the last step reached; -1 for none
        double progress = 0.0;                       // what the bar shows, 0.0 to 1.0
        std::array<bool, numSteps> enabled {};       // which step buttons take clicks, Connect first
        juce::String status;                         // the status line
        juce::String normalDeviceName;               // the device chosen at Connect
        juce::String upgradeDeviceName;              // the port chosen at Activate
    };

    /** What the panel shows of its progress, as it is now. */
    State getState() const;

    //==============================================================================
    // Closing while a step runs. The step's waits run the message loop, so the dialog can be
    // asked to close in the middle of one; it is never closed under a running step. A request
    // then is remembered: Connect's waits, the other pauses and step 4's network waits end
    // early, an Upgrade run always goes on to its end, and the dialog closes once the step has
    // returned.

    /** True when the panel may go now; otherwise remembers the request until the running step
        is over, says so on the status line, and answers false. */
    bool requestClose();
    bool isStepRunning() const noexcept          { return runningSteps > 0; }
    bool isCloseRequested() const noexcept       { return closeRequested; }

    /** Takes the keyboard focus for the panel when it is on the screen. */
    void regainKeyboardFocus();

    /** Quitting while the upgrader works. A running step may be writing to a device, and a
        quit ends the message loop that its waits run in. Runs quit once no step of any panel is
        running: at once when none is; otherwise every panel with a running step is asked to
        close (as its dialog's close button asks) and comes to the front, a line on standard
        error says why the program is still there, and quit runs from the message loop after the
        last of those steps has returned. A later request replaces a held one. Message thread. */
    static void quitWhenNoStepRuns (std::function<void()> quit);
    static bool isQuitHeld();

    /** What the tests reach inside the panel; defined by the tests alone. */
    struct TestSeam;

private:
    struct Steps;           // the steps' parts, in fenz_FirmwareUpgradeComponent_Steps.cpp
    struct Step4;           // step 4's parts, in fenz_FirmwareUpgradeComponent_Step4.cpp

    //==============================================================================
    // What the panel asks and waits through, and the step it runs. Declared before everything
    // below, so that the handler, near the end, is the first member to go (see the destructor).
    Dialogs dialogs;
    Timing timing;

    int runningSteps = 0;
    bool closeRequested = false;
    juce::String stepStatusText { "Upgrade Progress" };

    //==============================================================================
    // The widgets and the state of the steps.
    bool onlineMode = true;
    const bool onlineModeDefault = true;
    juce::TooltipWindow tooltipWindow { nullptr, 700 };
    int pid;
    juce::Label stepLabels[numSteps], stepNumberLabels[numSteps], stepTextLabels[numSteps];
    juce::TextButton connectStepButton, eraseStepButton, activateStepButton, versionStepButton, upgradeStepButton;
    juce::TextButton updateDeviceNameButton;
    juce::Label noteCaptionLabel, noteLabel;
    juce::Label statusLabel;
    juce::CriticalSection progressLock;
    int step = -1;
    double progress = 0.0;
    juce::ProgressBar progressBar { progress };
    juce::String normalDeviceName, upgradeDeviceName;
    juce::File firmwareFile;
    const int initialPid;
    juce::ValueTree firmwares;
    std::unique_ptr<MidiInputHandler> handler;
    int currentPid;

    //==============================================================================
    // The step buttons above by their step, 0 (Connect) to numSteps - 1 (Upgrade): the one list
    // of them that everything else reads.
    juce::TextButton& stepButton (int index);
    const juce::TextButton& stepButton (int index) const;

    // The handler, made on first need and never replaced: its owner is the panel, and it takes
    // the product id the panel has at that moment.
    MidiInputHandler& getHandler();

    void connectStep();
    void eraseStep();
    void activateStep();
    void upgradeStep();
    void updateDeviceNameStep();

    // The steps ask and tell through these rather than through dialogs itself. While a quit is
    // held nobody is asked anything more: a chooser answers 0 (cancelled), a box is not shown,
    // the file chooser answers juce::File(). After each the panel has the keyboard focus again,
    // so that its keys work without a click first.
    int ask (juce::Component& chooser, const juce::String& title);
    void tell (juce::MessageBoxIconType, const juce::String& title, const juce::String& text);
    juce::File askForFirmwareFile (const juce::File& startingPlace);

    // The status line. It shows what the steps last wrote there, except while a close or a
    // quit is held for a running step: then it says why the upgrader is still there.
    void setStatusText (const juce::String& text);
    static constexpr const char* closingText = "Closing once this step is over...";

    // Held by buttonClicked for the time a step runs; the last one to go closes the dialog
    // when a close was asked for meanwhile.
    struct StepScope
    {
        explicit StepScope (FirmwareUpgradeComponent& panel);
        ~StepScope();
        FirmwareUpgradeComponent& panel;

        JUCE_DECLARE_NON_COPYABLE (StepScope)
    };

    // A blocking pause (timing.pause) that a close request ends early: after a request it
    // does not wait.
    void interruptiblePause (int milliseconds);

    // Ends whatever a running step has open in front of the panel (a chooser, a box), as if
    // cancelled.
    void dismissWhatIsOpenInFront();

    // Brings the panel's window before the others (the main window among them), with the
    // keyboard focus, when a quit is held for its step.
    void bringWindowToFront();

    void showStatusText();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FirmwareUpgradeComponent)
};

} // namespace fenz
