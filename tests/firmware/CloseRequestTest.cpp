#include <gtest/gtest.h>
#include "ModalScript.h"
#include "PanelTestSupport.h"
#include "RecordedTiming.h"
#include "TemporaryFolder.h"
#include "fenz_FirmwareLaunch.h"
#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_MidiInputHandler.h"
#include "PanelTestSeam.h"

using fenz::FirmwareUpgradeComponent;
using fenz::FirmwareUpgradeDialog;
using namespace testsupport;
using namespace testsupport;

namespace
{
    // The dialog's panel takes its pauses through time, and does not sit through them.
    struct CloseRequest : public ::testing::Test
    {
        std::unique_ptr<FirmwareUpgradeDialog> makeDialog()
        {
            auto d = std::make_unique<FirmwareUpgradeDialog> (std::make_unique<FirmwareUpgradeComponent> (176), nullptr);
            inside (d->getPanel()).timing = time.timing();
            panel = &d->getPanel();
            return d;
        }

        FakeMidiPorts ports;
        testsupport::RecordedTiming time;
        juce::Component::SafePointer<juce::Component> panel;
    };
}

TEST_F (CloseRequest, WithNoStepRunningThePanelMayGoAtOnce)
{
    FirmwareUpgradeComponent alone (176);
    EXPECT_TRUE (alone.requestClose());
    EXPECT_FALSE (alone.isCloseRequested());

    auto dialog = makeDialog();
    dialog->setVisible (true);
    dialog->closeButtonPressed();
    EXPECT_FALSE (dialog->isVisible());

    dialog->setVisible (true);
    EXPECT_TRUE (dialog->escapeKeyPressed());
    EXPECT_FALSE (dialog->isVisible());
}

TEST_F (CloseRequest, IsHeldBackWhileAStepRunsAndCarriedOutAfterIt)
{
    auto dialog = makeDialog();
    auto& p = dialog->getPanel();
    dialog->setVisible (true);

    {
        FirmwareUpgradeComponent::TestSeam::StepScope step (p);
        EXPECT_TRUE (p.isStepRunning());
        EXPECT_FALSE (p.requestClose());

        dialog->closeButtonPressed();
        EXPECT_TRUE (dialog->escapeKeyPressed());    // Escape is taken, and asks the same way
        juce::Component& window = *dialog;
        EXPECT_TRUE (window.keyPressed (juce::KeyPress (juce::KeyPress::escapeKey)));

        pump();
        EXPECT_TRUE (dialog->isVisible());
        EXPECT_TRUE (p.isCloseRequested());
    }

    EXPECT_FALSE (p.isStepRunning());
    EXPECT_FALSE (dialog->isVisible());
    EXPECT_FALSE (p.isCloseRequested());
}

TEST_F (CloseRequest, WaitsForTheOutermostStep)
{
    auto dialog = makeDialog();
    auto& p = dialog->getPanel();
    dialog->setVisible (true);

    {
        FirmwareUpgradeComponent::TestSeam::StepScope outer (p);

        {
            // A step started from inside another one's wait ("Update Device Name" during a slice).
            FirmwareUpgradeComponent::TestSeam::StepScope inner (p);
            dialog->closeButtonPressed();
        }

        EXPECT_TRUE (dialog->isVisible());
        EXPECT_TRUE (p.isStepRunning());
    }

    EXPECT_FALSE (dialog->isVisible());
}

// A panel hosted elsewhere than in a dialog has none to close: the request ends with the step
// all the same, so that the next step's pauses are waited for again, and the status line has
// the step's own text back.
TEST_F (CloseRequest, WithoutADialogTheRequestEndsWithTheStep)
{
    struct Host { const char* what; std::unique_ptr<juce::Component> component; };
    std::vector<Host> hosts;
    hosts.push_back ({ "no parent", nullptr });
    hosts.push_back ({ "a plain component", std::make_unique<juce::Component>() });
    hosts.push_back ({ "a document window",
                       std::make_unique<juce::DocumentWindow> ("Editor", juce::Colours::white, juce::DocumentWindow::allButtons, false) });

    for (auto& host : hosts)
    {
        SCOPED_TRACE (host.what);
        time.events.clear();
        FirmwareUpgradeComponent alone (176);
        inside (alone).timing = time.timing();

        if (auto* window = dynamic_cast<juce::DocumentWindow*> (host.component.get()))
            window->setContentNonOwned (&alone, true);
        else if (host.component != nullptr)
            host.component->addAndMakeVisible (alone);

        {
            FirmwareUpgradeComponent::TestSeam::StepScope step (alone);
            inside (alone).setStatusText ("Installing...");
            EXPECT_FALSE (alone.requestClose());
            EXPECT_TRUE (alone.isCloseRequested());
            inside (alone).interruptiblePause (500);
        }

        EXPECT_FALSE (alone.isStepRunning());
        EXPECT_FALSE (alone.isCloseRequested());
        EXPECT_EQ (alone.getState().status, "Installing...");

        {
            FirmwareUpgradeComponent::TestSeam::StepScope step (alone);
            inside (alone).interruptiblePause (500);
        }

        EXPECT_EQ (time.pattern(), "p500") << "the next step's pause was cut short";

        if (auto* window = dynamic_cast<juce::DocumentWindow*> (host.component.get()))
            window->clearContentComponent();
        else if (host.component != nullptr)
            host.component->removeChildComponent (&alone);
    }
}

// While a close is held for a running step, the status line says why the window is still
// there, whatever the step writes there meanwhile.
TEST_F (CloseRequest, AHeldCloseShowsWhyOnTheStatusLine)
{
    auto dialog = makeDialog();
    auto& p = dialog->getPanel();
    dialog->setVisible (true);
    EXPECT_EQ (p.getState().status, "Upgrade Progress");

    FirmwareUpgradeComponent::TestSeam::StepScope step (p);
    inside (p).setStatusText ("Connecting...");
    EXPECT_EQ (p.getState().status, "Connecting...");

    dialog->closeButtonPressed();
    EXPECT_EQ (p.getState().status, "Closing once this step is over...");

    inside (p).setStatusText ("Resetting...");
    EXPECT_EQ (p.getState().status, "Closing once this step is over...");
    EXPECT_TRUE (dialog->isVisible());
}

// The dialog as the editor runs it: modal, deleted only after its run has returned. A step
// that waits in the message loop is asked to let the dialog close in the middle of its wait,
// by the close button and by Escape; it finishes and uses the panel afterwards, and the dialog
// closes only then. The sanitizer build sees any use of a deleted panel.
TEST_F (CloseRequest, AModalRunEndsOnlyAfterTheRunningStep)
{
    auto dialog = makeDialog();
    bool stepFinished = false, panelAliveAtStepEnd = false, stillModalAtStepEnd = false;

    juce::MessageManager::callAsync ([&]
    {
        auto* p = dynamic_cast<FirmwareUpgradeComponent*> (panel.getComponent());
        ASSERT_NE (p, nullptr);
        FirmwareUpgradeComponent::TestSeam::StepScope step (*p);

        juce::MessageManager::callAsync ([&] { dialog->closeButtonPressed(); });
        juce::MessageManager::callAsync ([&] { dialog->escapeKeyPressed(); });

        // The step's wait: the message loop runs, the close requests come and are held back.
        pump (200);

        panelAliveAtStepEnd = panel != nullptr;
        stillModalAtStepEnd = dialog->isCurrentlyModal();
        p->updateProgress (2);
        inside (*p).statusLabel.setText ("Firmware Upgrade", juce::dontSendNotification);
        stepFinished = true;
    });

    dialog->runModalLoop();

    EXPECT_TRUE (stepFinished);
    EXPECT_TRUE (panelAliveAtStepEnd);
    EXPECT_TRUE (stillModalAtStepEnd);
    ASSERT_NE (panel, nullptr);
    EXPECT_EQ (dynamic_cast<FirmwareUpgradeComponent*> (panel.getComponent())->getState().step, 2);

    dialog = nullptr;
    EXPECT_EQ (panel, nullptr);
}

TEST_F (CloseRequest, PausesAfterARequestDoNotWait)
{
    FirmwareUpgradeComponent p (176);

    // Without a request a pause lasts at least its length, on the panel's own timing.
    const auto before = juce::Time::getMillisecondCounterHiRes();
    inside (p).interruptiblePause (20);
    EXPECT_GE (juce::Time::getMillisecondCounterHiRes() - before, 20.0);

    // Then through the recorder: the pause is taken before the request, and none after it.
    inside (p).timing = time.timing();
    inside (p).interruptiblePause (20);
    EXPECT_EQ (time.pattern(), "p20");

    FirmwareUpgradeComponent::TestSeam::StepScope step (p);
    p.requestClose();

    inside (p).interruptiblePause (60 * 60 * 1000);
    EXPECT_EQ (time.pattern(), "p20") << "a pause was taken after the request";
}

//==============================================================================
// A quit waits for the device, not for a person: a chooser a step has open when the quit is
// asked for is answered as cancelled, nothing more is asked, and the quit follows the step.
TEST_F (CloseRequest, AQuitCancelsTheOpenChooserAndFollowsTheStep)
{
    auto dialog = makeDialog();
    auto& p = dialog->getPanel();
    p.updateProgress (1);

    bool quit = false;
    int boxes = 0;
    inside (p).dialogs.showMessageBox = [&boxes] (juce::MessageBoxIconType, const juce::String&, const juce::String&) { ++boxes; };

    ModalScript script ({ [] (juce::Component&) {},     // the upgrader's own dialog
                          [&] (juce::Component& chooser)
    {
        EXPECT_EQ (chooser.getName(), "Choose Your Fenz Device");
        FirmwareUpgradeComponent::quitWhenNoStepRuns ([&quit] { quit = true; });
        EXPECT_FALSE (quit);
    } });

    // Should the chooser stay open, the test fails instead of waiting for ever.
    StuckDialogGuard watchdog (10000);

    juce::MessageManager::callAsync ([&]
    {
        // The script sees the dialog first, then the step's chooser.
        ASSERT_TRUE (testsupport::pumpUntil ([&] { return script.numAnswered() >= 1; }));
        p.pressStep (testsupport::activateStep);
    });
    dialog->runModalLoop();
    pump (50);

    EXPECT_FALSE (watchdog.fired());
    EXPECT_EQ (script.numAnswered(), 2u);
    EXPECT_TRUE (quit);
    EXPECT_FALSE (dialog->isVisible());
    EXPECT_EQ (p.getState().step, 1) << "Activate ended as cancelled";
    EXPECT_EQ (boxes, 0);
    EXPECT_FALSE (FirmwareUpgradeComponent::isQuitHeld());
}

//==============================================================================
// The panel's keys reach it without a click: it has the keyboard focus once its dialog runs,
// and again after each chooser and box it opened.
TEST_F (CloseRequest, ThePanelHasTheKeyboardFocus)
{
    auto dialog = makeDialog();
    auto& p = dialog->getPanel();
    p.updateProgress (1);

    bool focusedAtOpen = false, focusedAfterChooser = false, focusedAfterBox = false;
    const auto answer = [] (juce::Component& modal) { modal.exitModalState (0); };

    ModalScript script ({ [] (juce::Component&) {},     // the upgrader's own dialog
                          answer,                       // Activate's chooser
                          answer });                    // the about box

    juce::MessageManager::callAsync ([&]
    {
        // The script sees the dialog first; the X server's focus may take a moment to come.
        const auto panelHasFocus = [&p] { return p.hasKeyboardFocus (false); };
        focusedAtOpen = testsupport::pumpUntil ([&] { return script.numAnswered() >= 1 && panelHasFocus(); });

        p.pressStep (testsupport::activateStep);    // its chooser cancelled
        focusedAfterChooser = testsupport::pumpUntil (panelHasFocus);

        p.keyPressed (juce::KeyPress (juce::KeyPress::F1Key));   // the about box
        focusedAfterBox = testsupport::pumpUntil (panelHasFocus);

        dialog->exitModalState (0);
    });

    dialog->runModalLoop();

    EXPECT_TRUE (focusedAtOpen);
    EXPECT_TRUE (focusedAfterChooser);
    EXPECT_TRUE (focusedAfterBox);
}

//==============================================================================
// The local firmware file chooser as the panel has it: the file chosen in it comes back to the
// step; a quit asked for while it is open ends it as cancelled, and nothing is loaded.
namespace
{
    juce::FileBrowserComponent* browserIn (juce::Component& c)
    {
        if (auto* browser = dynamic_cast<juce::FileBrowserComponent*> (&c))
            return browser;

        for (auto* child : c.getChildren())
            if (auto* browser = browserIn (*child))
                return browser;

        return nullptr;
    }
}

TEST_F (CloseRequest, TheFirmwareFileChooserGivesItsChoiceAndEndsAtAQuit)
{
    TemporaryFolder folder;
    const auto image = folder.write ("tamrel_ostrel_1.bin", 1024);

    for (const bool quitInTheChooser : { false, true })
    {
        SCOPED_TRACE (quitInTheChooser ? "a quit" : "a choice");
        auto dialog = makeDialog();
        auto& p = dialog->getPanel();
        inside (p).onlineMode = false;
        bool quit = false;

        ModalScript script ({ [] (juce::Component&) {},     // the upgrader's own dialog
                              [&] (juce::Component& chooser)
        {
            auto* browser = browserIn (chooser);
            ASSERT_NE (browser, nullptr) << "no file chooser";

            if (quitInTheChooser)
            {
                FirmwareUpgradeComponent::quitWhenNoStepRuns ([&quit] { quit = true; });
            }
            else
            {
                browser->setFileName (image.getFullPathName());
                chooser.exitModalState (1);
            }
        } });

        StuckDialogGuard guard (10000);

        juce::MessageManager::callAsync ([&]
        {
            ASSERT_TRUE (pumpUntil ([&] { return script.numAnswered() >= 1; }));
            p.pressStep (testsupport::versionStep);
            dialog->exitModalState (0);
        });

        dialog->runModalLoop();
        pump (50);

        EXPECT_FALSE (guard.fired());
        EXPECT_EQ (script.numAnswered(), 2u);
        ASSERT_NE (inside (p).handler, nullptr);

        if (quitInTheChooser)
        {
            EXPECT_TRUE (quit);
            EXPECT_EQ (inside (p).handler->size, 0u);
            EXPECT_EQ (p.getState().step, 2);
        }
        else
        {
            EXPECT_FALSE (quit);
            EXPECT_EQ (inside (p).firmwareFile, image);
            EXPECT_EQ (inside (p).handler->size, 1024u);
            EXPECT_EQ (p.getState().step, 3);
        }
    }
}

//==============================================================================
// A quit asked for during an Upgrade run: the run goes on to its end, the upgrader stays in
// front and its status line says why the program is still there, and the run's outcome, which
// no box shows now, goes to standard error before the quit is carried out.
namespace
{
    struct HeldQuitCase
    {
        const char* device;
        bool connects, erases, writes, resets;
        const char* outcome;
    };

    const HeldQuitCase heldQuitCases[] = {
        { "answers everything", true, true, true, true, "Firmware Upgrade Success: Your firmware has been upgraded!" },
        { "never answers", false, false, false, false, "Firmware Upgrade Error: Could not connect to hardware" },
        { "takes no block", true, true, false, false, "Firmware Upgrade Error: Could not write new firmware" },
    };
}

TEST_F (CloseRequest, AQuitDuringAnUpgradeRunShowsWhyAndTellsTheOutcome)
{
    const juce::String upgradePort ("Fenz firmware upgrade");
    TemporaryFolder folder;
    const auto image = folder.write ("tamrel_ostrel_1.bin", 1024);

    for (const auto& c : heldQuitCases)
    {
        SCOPED_TRACE (c.device);
        ports.inputs = { upgradePort };
        ports.outputs = { upgradePort };

        auto dialog = makeDialog();
        auto& p = dialog->getPanel();
        dialog->setVisible (true);

        // The main window, raised over the upgrader as its close button may raise it.
        juce::DocumentWindow mainWindow ("Editor", juce::Colours::white, juce::DocumentWindow::allButtons, true);
        mainWindow.setSize (200, 100);
        mainWindow.setVisible (true);
        mainWindow.toFront (false);

        // The framework's order of its windows, the front-most last.
        const auto place = [] (juce::Component* window)
        {
            auto& desktop = juce::Desktop::getInstance();

            for (int i = 0; i < desktop.getNumComponents(); ++i)
                if (desktop.getComponent (i) == window)
                    return i;

            return -1;
        };
        const auto upgraderInFront = [&] { return place (dialog.get()) > place (&mainWindow); };
        ASSERT_FALSE (upgraderInFront());

        int boxes = 0;
        inside (p).dialogs.showMessageBox = [&boxes] (juce::MessageBoxIconType, const juce::String&, const juce::String&) { ++boxes; };

        auto& h = inside (p).getHandler();
        h.midiInput = fenz::MidiPorts::openInput (0, h);
        h.midiOutput = fenz::MidiPorts::openOutput (0);
        ASSERT_NE (h.midiInput, nullptr);
        ASSERT_NE (h.midiOutput, nullptr);
        h.midiInput->start();
        h.openProgram (image);
        p.updateProgress (3);

        // The device's answers come in the run's slices; the quit comes in its first one.
        bool quit = false, asked = false, inFront = false;
        juce::StringArray statusAfterTheQuit;

        time.onEvent = [&] (const testsupport::RecordedTiming::Event& e)
        {
            if (e.kind != testsupport::RecordedTiming::Event::loopRun)
                return;

            if (! asked)
            {
                asked = true;
                FirmwareUpgradeComponent::quitWhenNoStepRuns ([&quit] { quit = true; });
                inFront = upgraderInFront();
            }

            statusAfterTheQuit.addIfNotAlreadyThere (p.getState().status);

            if (c.connects) h.connectAck = true;
            if (c.erases)   h.eraseAck = true;
            if (c.writes)   h.writeAck = true;
            if (c.resets)   h.resetAck = true;
        };

        ::testing::internal::CaptureStderr();
        p.pressStep (testsupport::upgradeStep);
        // The framework reports X errors there too: an X server without a window manager lacks
        // some of the properties it asks for.
        juce::StringArray said;

        for (const auto& line : juce::StringArray::fromLines (::testing::internal::GetCapturedStderr()))
            if (line.isNotEmpty() && ! line.startsWith ("ERROR: X returned"))
                said.add (line);
        time.onEvent = nullptr;

        EXPECT_TRUE (asked);
        EXPECT_FALSE (quit) << "the quit came before the run was over";
        EXPECT_TRUE (inFront);
        EXPECT_EQ (statusAfterTheQuit, juce::StringArray ({ "Closing once this step is over..." }));
        EXPECT_EQ (boxes, 0);
        EXPECT_EQ (said, juce::StringArray ({ "Closing once this step is over...", c.outcome }));
        EXPECT_FALSE (dialog->isVisible());

        EXPECT_TRUE (pumpUntil ([&quit] { return quit; }));
        EXPECT_FALSE (FirmwareUpgradeComponent::isQuitHeld());
    }
}

//==============================================================================
// Opened again after a file was chosen, the local firmware file chooser starts in that file's
// folder with no row highlighted: the framework's chooser puts a highlighted row back into its
// file box when the box loses the focus (as it does when Open is pressed), over a path the user
// typed there.
namespace
{
    template <typename Type>
    Type* childOfClass (juce::Component& c)
    {
        if (auto* found = dynamic_cast<Type*> (&c))
            return found;

        for (auto* child : c.getChildren())
            if (auto* found = childOfClass<Type> (*child))
                return found;

        return nullptr;
    }

    // Calls the step every few milliseconds from the message loop until it answers true.
    struct Poll : private juce::Timer
    {
        explicit Poll (std::function<bool()> s) : step (std::move (s))  { startTimer (10); }
        ~Poll() override  { stopTimer(); }

    private:
        void timerCallback() override
        {
            if (step())
                stopTimer();
        }

        std::function<bool()> step;
    };
}

TEST_F (CloseRequest, TheFirmwareFileChooserTakesATypedPathOverTheLastFile)
{
    TemporaryFolder folder;
    const auto last = folder.write ("tamrel_ostrel_1.bin", 1024);
    const auto typed = folder.write ("tamrel_ostrel_2.bin", 2048);
    FirmwareUpgradeComponent p (176);

    juce::Component::SafePointer<juce::Component> chooser;
    std::unique_ptr<Poll> poll;
    bool listed = false;
    juce::File root, highlighted, inTheBoxAfterFocusLoss;

    ModalScript script ({ [&] (juce::Component& c)
    {
        chooser = &c;
        int looksSinceListed = 0;

        // The folder is listed on a thread of the chooser's own, and a file to highlight is
        // highlighted once its row is there: a few more looks after both rows are.
        poll = std::make_unique<Poll> ([&, looksSinceListed]() mutable
        {
            if (chooser == nullptr)
                return true;

            auto* browser = childOfClass<juce::FileBrowserComponent> (*chooser);
            auto* list = browser != nullptr ? childOfClass<juce::ListBox> (*browser) : nullptr;

            if (list == nullptr || list->getModel() == nullptr || list->getModel()->getNumRows() < 2)
                return false;

            if (++looksSinceListed < 10)
                return false;

            listed = true;
            root = browser->getRoot();
            highlighted = browser->getHighlightedFile();

            // The file box is the browser's own text editor; the user types into it and leaves it.
            juce::TextEditor* box = nullptr;

            for (auto* child : browser->getChildren())
                if (auto* editor = dynamic_cast<juce::TextEditor*> (child))
                    box = editor;

            if (box == nullptr)
            {
                ADD_FAILURE() << "no file box";
                chooser->exitModalState (0);
                return true;
            }

            box->setText (typed.getFullPathName(), true);

            if (box->onFocusLost != nullptr)
                box->onFocusLost();

            inTheBoxAfterFocusLoss = browser->getSelectedFile (0);
            chooser->exitModalState (1);
            return true;
        });
    } });

    StuckDialogGuard guard (10000);
    const auto chosen = inside (p).dialogs.chooseFirmwareFile (last);
    poll = nullptr;

    EXPECT_FALSE (guard.fired());
    EXPECT_TRUE (listed) << "the chooser never listed the folder";
    EXPECT_EQ (root, folder.getFile());
    EXPECT_EQ (highlighted, juce::File()) << "the last file is highlighted";
    EXPECT_EQ (inTheBoxAfterFocusLoss, typed);
    EXPECT_EQ (chosen, typed);
}
