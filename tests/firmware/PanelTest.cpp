#include <gtest/gtest.h>
#include "ModalScript.h"
#include "PanelTestSupport.h"
#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_MidiInputHandler.h"
#include "PanelTestSeam.h"

using fenz::FirmwareUpgradeComponent;
using namespace testsupport;
using namespace testsupport;

namespace
{
    // The panel is built with no system ports at all, so that its close-time reset meets none.
    struct UpgradePanel : public ::testing::Test
    {
        UpgradePanel()   { fenz::bTest = false; }
        ~UpgradePanel() override { fenz::bTest = false; }

        FakeMidiPorts ports;
    };

    const juce::String quote ("\"");
}

//==============================================================================
TEST_F (UpgradePanel, NewPanelOffersOnlyConnect)
{
    FirmwareUpgradeComponent panel (176);

    EXPECT_EQ (panel.getWidth(), 514);
    EXPECT_EQ (panel.getHeight(), 491);
    EXPECT_EQ (enabledSteps (panel), "x----");
    EXPECT_TRUE (inside (panel).updateDeviceNameButton.isEnabled());
    EXPECT_EQ (panel.getState().step, -1);
    EXPECT_EQ (panel.getState().progress, 0.0);

    EXPECT_TRUE (inside (panel).onlineMode);
    EXPECT_TRUE (inside (panel).onlineModeDefault);
    EXPECT_EQ (inside (panel).pid, 176);
    EXPECT_EQ (inside (panel).initialPid, 176);
    EXPECT_EQ (inside (panel).currentPid, 176);
    EXPECT_TRUE (panel.getState().normalDeviceName.isEmpty());
    EXPECT_TRUE (panel.getState().upgradeDeviceName.isEmpty());
    EXPECT_EQ (inside (panel).firmwareFile, juce::File());
    EXPECT_EQ (inside (panel).firmwares.getType().toString(), "firmwares");
    EXPECT_EQ (inside (panel).firmwares.getNumChildren(), 0);
    EXPECT_EQ (inside (panel).handler, nullptr);
    EXPECT_FALSE (panel.isStepRunning());
    EXPECT_FALSE (panel.isCloseRequested());

    // The extender's panel keeps its own id in every field.
    FirmwareUpgradeComponent extenderPanel (177);
    EXPECT_EQ (inside (extenderPanel).pid, 177);
    EXPECT_EQ (inside (extenderPanel).initialPid, 177);
    EXPECT_EQ (inside (extenderPanel).currentPid, 177);
}

TEST_F (UpgradePanel, NewPanelShowsItsTexts)
{
    FirmwareUpgradeComponent panel (176);

    struct Row { juce::Label* label; const char* text; juce::Justification justification; };
    const auto centred = juce::Justification::centred, topLeft = juce::Justification::topLeft;

    const std::vector<Row> rows
    {
        { &inside (panel).statusLabel, "Upgrade Progress", centred },
        { &inside (panel).noteCaptionLabel, "Note:", topLeft },
        { &inside (panel).noteLabel, "If your connected Fenz product model name does not appear on the pull-down menu, "
                            "select \"USB Audio Device\" as the MIDI In/Out device", topLeft },
        { &inside (panel).stepLabels[0], "Step 1", centred },
        { &inside (panel).stepLabels[4], "Step 5", centred },
        { &inside (panel).stepNumberLabels[0], "Step 1:", topLeft },
        { &inside (panel).stepNumberLabels[2], "Step 3:", topLeft },
        { &inside (panel).stepNumberLabels[4], "Step 5:", topLeft },
        { &inside (panel).stepTextLabels[0], "Please connect your Fenz device and click \"Connect\" button to create the connection.", topLeft },
        { &inside (panel).stepTextLabels[1], "Click \"Erase\" button to enter into \"Firmware upgrade mode\".", topLeft },
        { &inside (panel).stepTextLabels[2], "Click \"Activate\" button to activate the \"Firmware upgrade mode\".", topLeft },
        { &inside (panel).stepTextLabels[3], "Click \"Select Version\", the process will automatically search for the most up to "
                                    "date firmware for your device at our website.", topLeft },
        { &inside (panel).stepTextLabels[4], "Click \"Upgrade\" to start the file upload process.", topLeft },
    };

    for (const auto& r : rows)
    {
        EXPECT_EQ (r.label->getText(), r.text);
        EXPECT_EQ (r.label->getJustificationType(), r.justification) << r.text;
    }

    for (int k = 0; k < 5; ++k)
    {
        EXPECT_EQ (inside (panel).stepLabels[k].getText(), "Step " + juce::String (k + 1));
        EXPECT_EQ (inside (panel).stepNumberLabels[k].getText(), "Step " + juce::String (k + 1) + ":");
        EXPECT_EQ (inside (panel).stepTextLabels[k].getMinimumHorizontalScale(), 1.0f);
    }

    const char* buttonTexts[] = { "Connect", "Erase", "Activate", "Select Version", "Upgrade" };
    auto buttons = stepButtons (panel);

    for (int k = 0; k < 5; ++k)
        EXPECT_EQ (buttons[(size_t) k]->getButtonText(), buttonTexts[k]);

    EXPECT_EQ (inside (panel).updateDeviceNameButton.getButtonText(), "Update Device Name");
    EXPECT_EQ (inside (panel).updateDeviceNameButton.getTooltip(), "Click here to update the displaying name of your device.");

    // Every child is shown, every label in black, the bar in sky blue.
    int labels = 0;

    for (auto* child : panel.getChildren())
    {
        EXPECT_TRUE (child->isVisible());

        if (auto* label = dynamic_cast<juce::Label*> (child))
        {
            ++labels;
            EXPECT_EQ (label->findColour (juce::Label::textColourId), juce::Colours::black) << label->getText();
        }
    }

    EXPECT_EQ (labels, 18);
    EXPECT_EQ (panel.getNumChildComponents(), 18 + 6 + 1);
    EXPECT_EQ (inside (panel).progressBar.findColour (juce::ProgressBar::foregroundColourId), juce::Colours::skyblue);
}

//==============================================================================
TEST_F (UpgradePanel, LaysOutItsTable)
{
    FirmwareUpgradeComponent panel (176);
    using R = juce::Rectangle<int>;

    struct Row { juce::Component* component; R bounds; };
    const std::vector<Row> rows
    {
        { &inside (panel).statusLabel,            R (0, 10, 514, 20) },
        { &inside (panel).progressBar,            R (40, 36, 434, 24) },
        { &inside (panel).stepLabels[0],          R (17, 66, 90, 20) },
        { &inside (panel).stepLabels[1],          R (113, 66, 90, 20) },
        { &inside (panel).stepLabels[2],          R (209, 66, 90, 20) },
        { &inside (panel).stepLabels[3],          R (305, 66, 90, 20) },
        { &inside (panel).stepLabels[4],          R (401, 66, 90, 20) },
        { &inside (panel).stepButton (0),         R (17, 92, 90, 20) },
        { &inside (panel).stepButton (1),         R (113, 92, 90, 20) },
        { &inside (panel).stepButton (2),         R (209, 92, 90, 20) },
        { &inside (panel).stepButton (3),         R (305, 92, 90, 20) },
        { &inside (panel).stepButton (4),         R (401, 92, 90, 20) },
        { &inside (panel).stepNumberLabels[0],    R (17, 130, 70, 20) },
        { &inside (panel).stepTextLabels[0],      R (93, 130, 407, 50) },
        { &inside (panel).noteCaptionLabel,       R (17, 186, 70, 20) },
        { &inside (panel).noteLabel,              R (93, 186, 407, 50) },
        { &inside (panel).stepNumberLabels[1],    R (17, 242, 70, 20) },
        { &inside (panel).stepTextLabels[1],      R (93, 242, 407, 50) },
        { &inside (panel).stepNumberLabels[2],    R (17, 298, 70, 20) },
        { &inside (panel).stepTextLabels[2],      R (93, 298, 407, 50) },
        { &inside (panel).stepNumberLabels[3],    R (17, 354, 70, 20) },
        { &inside (panel).stepTextLabels[3],      R (93, 354, 407, 50) },
        { &inside (panel).stepNumberLabels[4],    R (17, 410, 70, 20) },
        { &inside (panel).stepTextLabels[4],      R (93, 410, 407, 50) },
        { &inside (panel).updateDeviceNameButton, R (209, 446, 90, 20) },
    };

    for (const auto& r : rows)
        EXPECT_EQ (r.component->getBounds(), r.bounds) << r.bounds.toString();
}

TEST_F (UpgradePanel, LayoutFollowsTheWidth)
{
    FirmwareUpgradeComponent panel (176);
    panel.setSize (600, 491);

    auto buttons = stepButtons (panel);
    const int xs[] = { 60, 156, 252, 348, 444 };

    for (int k = 0; k < 5; ++k)
    {
        EXPECT_EQ (buttons[(size_t) k]->getBounds(), juce::Rectangle<int> (xs[k], 92, 90, 20));
        EXPECT_EQ (inside (panel).stepLabels[k].getBounds(), juce::Rectangle<int> (xs[k], 66, 90, 20));
        // The text column starts 76 right of the captions and ends 20 before the edge.
        EXPECT_EQ (inside (panel).stepNumberLabels[k].getX(), 60);
        EXPECT_EQ (inside (panel).stepTextLabels[k].getX(), 136);
        EXPECT_EQ (inside (panel).stepTextLabels[k].getRight(), 586);
    }

    EXPECT_EQ (inside (panel).statusLabel.getBounds(), juce::Rectangle<int> (0, 10, 600, 20));
    EXPECT_EQ (inside (panel).progressBar.getBounds(), juce::Rectangle<int> (40, 36, 520, 24));
    EXPECT_EQ (inside (panel).noteLabel.getBounds(), juce::Rectangle<int> (136, 186, 450, 50));
    EXPECT_EQ (inside (panel).updateDeviceNameButton.getBounds(), juce::Rectangle<int> (252, 446, 90, 20));

    // An odd width drops the half pixel.
    panel.setSize (515, 491);
    EXPECT_EQ (inside (panel).stepButton (testsupport::connectStep).getX(), 17);
}

//==============================================================================
TEST_F (UpgradePanel, UpdateProgressMovesStepProgressAndButtonsTogether)
{
    FirmwareUpgradeComponent panel (176);

    struct Row { int newStep; int step; double progress; const char* enabled; };
    const Row rows[] =
    {
        { 3,  3, 0.8, "xxxxx" },
        { -7, -1, 0.0, "x----" },     // any negative step is the start
        { 0,  0, 0.2, "xx---" },
        { 1,  1, 0.4, "xxx--" },
        { 2,  2, 0.6, "xxxx-" },
        { 3,  3, 0.8, "xxxxx" },
        { 4,  4, 1.0, "xxxxx" },
        { 1,  1, 0.4, "xxx--" },      // steps may go back
        { -1, -1, 0.0, "x----" },
    };

    for (const auto& r : rows)
    {
        panel.updateProgress (r.newStep);
        EXPECT_EQ (panel.getState().step, r.step) << r.newStep;
        EXPECT_DOUBLE_EQ (panel.getState().progress, r.progress) << r.newStep;
        EXPECT_EQ (enabledSteps (panel), r.enabled) << r.newStep;
        EXPECT_TRUE (inside (panel).updateDeviceNameButton.isEnabled());
    }
}

//==============================================================================
TEST_F (UpgradePanel, KeysMAndTToggleModesAndTitleInEveryOrder)
{
    struct Row { const char* keys; bool online; bool test; const char* title; };
    const Row rows[] =
    {
        { "M",    false, false, "Firmware Upgrade [M]" },
        { "MM",   true,  false, "Firmware Upgrade" },
        { "T",    true,  true,  "Firmware Upgrade." },
        { "TT",   true,  false, "Firmware Upgrade" },
        { "MT",   false, true,  "Firmware Upgrade." },        // T never shows " [M]"
        { "TM",   false, true,  "Firmware Upgrade. [M]" },
        { "MTM",  true,  true,  "Firmware Upgrade." },
        { "TMT",  false, false, "Firmware Upgrade" },
        { "MTT",  false, false, "Firmware Upgrade" },
        { "TMM",  true,  true,  "Firmware Upgrade." },
        { "m",    false, false, "Firmware Upgrade [M]" },     // letters may come in lower case
        { "t",    true,  true,  "Firmware Upgrade." },
        { "mTtM", true,  false, "Firmware Upgrade" },
    };

    for (const auto& r : rows)
    {
        fenz::bTest = false;
        FirmwareUpgradeComponent panel (176);
        juce::DialogWindow dialog ("Firmware Upgrade", juce::Colours::lightgrey, true, false);
        dialog.setContentNonOwned (&panel, true);

        for (const char* key = r.keys; *key != 0; ++key)
            EXPECT_FALSE (panel.keyPressed (juce::KeyPress (*key))) << r.keys;

        EXPECT_EQ (inside (panel).onlineMode, r.online) << r.keys;
        EXPECT_EQ (fenz::bTest, r.test) << r.keys;
        EXPECT_EQ (dialog.getName(), r.title) << r.keys;

        // The fourth step keeps its button text and description whatever the mode.
        EXPECT_EQ (inside (panel).stepButton (testsupport::versionStep).getButtonText(), "Select Version") << r.keys;
        EXPECT_TRUE (inside (panel).stepTextLabels[3].getText().startsWith ("Click \"Select Version\"")) << r.keys;

        dialog.clearContentComponent();
    }
}

TEST_F (UpgradePanel, OtherKeysChangeNothing)
{
    FirmwareUpgradeComponent panel (176);
    juce::DialogWindow dialog ("Firmware Upgrade", juce::Colours::lightgrey, true, false);
    dialog.setContentNonOwned (&panel, true);
    inside (panel).dialogs.showMessageBox = [] (auto, auto&, auto&) { ADD_FAILURE() << "a box for a key other than F1"; };

    for (const auto& key : { juce::KeyPress ('X'), juce::KeyPress ('R'), juce::KeyPress (juce::KeyPress::F2Key),
                             juce::KeyPress (juce::KeyPress::escapeKey), juce::KeyPress ('1') })
        EXPECT_FALSE (panel.keyPressed (key));

    EXPECT_TRUE (inside (panel).onlineMode);
    EXPECT_FALSE (fenz::bTest);
    EXPECT_EQ (dialog.getName(), "Firmware Upgrade");
    dialog.clearContentComponent();
}

TEST_F (UpgradePanel, KeysWithoutAWindowOnlyToggle)
{
    FirmwareUpgradeComponent panel (176);

    panel.keyPressed (juce::KeyPress ('M'));
    panel.keyPressed (juce::KeyPress ('T'));

    EXPECT_FALSE (inside (panel).onlineMode);
    EXPECT_TRUE (fenz::bTest);
}

TEST_F (UpgradePanel, F1ShowsTheAboutBoxAndWaitsForIt)
{
    RecordingLookAndFeel lookAndFeel;
    FirmwareUpgradeComponent panel (176);
    bool boxWasOpen = false;

    ModalScript script ({ [&] (juce::Component& modal)
    {
        boxWasOpen = dynamic_cast<juce::AlertWindow*> (&modal) != nullptr;
        modal.exitModalState (0);
    } });

    EXPECT_FALSE (panel.keyPressed (juce::KeyPress (juce::KeyPress::F1Key)));

    // The key returns only once the box is answered.
    EXPECT_TRUE (boxWasOpen);
    ASSERT_EQ (lookAndFeel.alerts.size(), 1u);
    EXPECT_EQ (lookAndFeel.alerts[0].icon, juce::MessageBoxIconType::NoIcon);
    EXPECT_EQ (lookAndFeel.alerts[0].title, "\n \nFenz Firmware Upgrader\n\nV1.19  Build 58");
    EXPECT_TRUE (lookAndFeel.alerts[0].message.startsWith ("\n\n \n"));
    EXPECT_EQ (lookAndFeel.alerts[0].numButtons, 1);
    EXPECT_TRUE (inside (panel).onlineMode);
    EXPECT_FALSE (fenz::bTest);
}

//==============================================================================
TEST_F (UpgradePanel, SetTitleNamesTheNearestDialogElseTheNearestDocumentWindow)
{
    FirmwareUpgradeComponent panel (176);

    {
        juce::DialogWindow dialog ("Firmware Upgrade", juce::Colours::lightgrey, true, false);
        dialog.setContentNonOwned (&panel, true);

        panel.SetTitle ("(3)");
        EXPECT_EQ (dialog.getName(), "Firmware Upgrade: (3)");
        panel.SetTitle ("Tamrel");
        EXPECT_EQ (dialog.getName(), "Firmware Upgrade: Tamrel");
        panel.SetTitle ({});
        EXPECT_EQ (dialog.getName(), "Firmware Upgrade");
        dialog.clearContentComponent();
    }

    {
        juce::DocumentWindow window ("Editor", juce::Colours::white, juce::DocumentWindow::allButtons, false);
        window.setContentNonOwned (&panel, true);

        panel.SetTitle ("(1)");
        EXPECT_EQ (window.getName(), "Firmware Upgrade: (1)");
        window.clearContentComponent();
    }

    {
        // A dialog farther out wins over a document window closer in.
        juce::DialogWindow dialog ("Outer", juce::Colours::lightgrey, true, false);
        juce::DocumentWindow window ("Inner", juce::Colours::white, juce::DocumentWindow::allButtons, false);
        window.setContentNonOwned (&panel, true);
        dialog.setContentNonOwned (&window, false);

        panel.SetTitle ("Ostrel");
        EXPECT_EQ (dialog.getName(), "Firmware Upgrade: Ostrel");
        EXPECT_EQ (window.getName(), "Inner");
        dialog.clearContentComponent();
        window.clearContentComponent();
    }

    {
        // In neither, nothing is named: not the plain parent, not the panel.
        juce::Component parent;
        parent.setName ("parent");
        parent.addAndMakeVisible (panel);

        panel.SetTitle ("(2)");
        EXPECT_EQ (parent.getName(), "parent");
        EXPECT_EQ (panel.getName(), "");
        parent.removeChildComponent (&panel);
    }
}

//==============================================================================
// The real windows behind the panel's seams.
TEST_F (UpgradePanel, DefaultChooserSeamRunsAModalDialogThatDoesNotOwnTheChooser)
{
    FirmwareUpgradeComponent panel (176);
    juce::Component chooser;
    chooser.setSize (300, 200);
    bool seen = false;

    {
        ModalScript script ({ [&] (juce::Component& modal)
        {
            auto* dialog = dynamic_cast<juce::DialogWindow*> (&modal);
            ASSERT_NE (dialog, nullptr);
            seen = true;
            EXPECT_EQ (dialog->getName(), "Choose Your Fenz Device");
            EXPECT_EQ (dialog->getContentComponent(), &chooser);
            EXPECT_TRUE (dialog->isUsingNativeTitleBar());
            EXPECT_FALSE (dialog->isResizable());
            modal.exitModalState (1);
        } });

        EXPECT_EQ (inside (panel).dialogs.runChooser (chooser, "Choose Your Fenz Device"), 1);
        EXPECT_TRUE (seen);
        pump();
    }

    // The dialog is gone and the chooser is still the caller's.
    EXPECT_EQ (chooser.getParentComponent(), nullptr);

    {
        ModalScript escape ({ [&] (juce::Component& modal)
        {
            auto* dialog = dynamic_cast<juce::DialogWindow*> (&modal);
            ASSERT_NE (dialog, nullptr);
            EXPECT_EQ (dialog->getName(), "Firmware Version");
            EXPECT_TRUE (dialog->escapeKeyPressed());      // Escape closes it, as cancelled
        } });

        EXPECT_NE (inside (panel).dialogs.runChooser (chooser, "Firmware Version"), 1);
        pump();
    }
}

TEST_F (UpgradePanel, DefaultBoxSeamShowsAnAlertWindowAndWaitsForIt)
{
    RecordingLookAndFeel lookAndFeel;
    FirmwareUpgradeComponent panel (176);
    bool answered = false;

    {
        ModalScript script ({ [&] (juce::Component& modal) { answered = true; modal.exitModalState (0); } });
        inside (panel).dialogs.showMessageBox (juce::MessageBoxIconType::WarningIcon, "Load File", "Not the matching firmware!");
        EXPECT_TRUE (answered);    // the blocking box returned only after its answer
    }

    ASSERT_EQ (lookAndFeel.alerts.size(), 1u);
    EXPECT_EQ (lookAndFeel.alerts[0].icon, juce::MessageBoxIconType::WarningIcon);
    EXPECT_EQ (lookAndFeel.alerts[0].title, "Load File");
    EXPECT_EQ (lookAndFeel.alerts[0].message, "Not the matching firmware!");
    EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0);
}

namespace
{
    template <typename Type>
    Type* findChildOfClass (juce::Component& root)
    {
        for (auto* child : root.getChildren())
        {
            if (auto* found = dynamic_cast<Type*> (child))
                return found;

            if (auto* found = findChildOfClass<Type> (*child))
                return found;
        }

        return nullptr;
    }
}

TEST_F (UpgradePanel, DefaultFileSeamAsksForABinFile)
{
    juce::TemporaryFile folder;
    ASSERT_TRUE (folder.getFile().createDirectory());
    const auto start = folder.getFile().getChildFile ("earlier.bin");
    FirmwareUpgradeComponent panel (176);
    bool seen = false;

    // Where no system chooser is installed, the framework shows its own, which a test can reach.
    ModalScript script ({ [&] (juce::Component& modal)
    {
        seen = true;
        EXPECT_EQ (modal.getName(), "Choose The Firmware File");

        if (auto* browser = findChildOfClass<juce::FileBrowserComponent> (modal))
        {
            EXPECT_TRUE (browser->isFileSuitable (folder.getFile().getChildFile ("tamrel.bin")));
            EXPECT_FALSE (browser->isFileSuitable (folder.getFile().getChildFile ("tamrel.txt")));
            EXPECT_EQ (browser->getRoot(), folder.getFile());
        }
        else
        {
            ADD_FAILURE() << "no file browser in the chooser";
        }

        modal.exitModalState (0);
    } });

    EXPECT_EQ (inside (panel).dialogs.chooseFirmwareFile (start), juce::File());
    EXPECT_TRUE (seen);
}

TEST_F (UpgradePanel, DefaultShellSeamRunsTheCommand)
{
    juce::TemporaryFile mark;
    FirmwareUpgradeComponent panel (176);

    inside (panel).dialogs.runShellCommand (("echo ran > '" + mark.getFile().getFullPathName() + "'").toRawUTF8());
    EXPECT_EQ (mark.getFile().loadFileAsString().trim(), "ran");
}

//==============================================================================
// Step 4's reason for offering a local file is seen before the file chooser opens: the chooser
// comes once the box has been answered, so that no box is left behind it, holding the keyboard
// and the panel's clicks unseen once the chooser has gone. A product the panel does not know
// has no list, so nothing is fetched.
TEST_F (UpgradePanel, Step4TellsWhyBeforeTheFileChooserOpens)
{
    RecordingLookAndFeel lookAndFeel;
    FirmwareUpgradeComponent panel (2000);
    int boxesOpenAtTheChooser = -1;

    const auto openBoxes = []
    {
        auto& modal = *juce::ModalComponentManager::getInstance();
        int n = 0;

        for (int i = 0; i < modal.getNumModalComponents(); ++i)
            n += dynamic_cast<juce::AlertWindow*> (modal.getModalComponent (i)) != nullptr ? 1 : 0;

        return n;
    };

    ModalScript script ({ [] (juce::Component& box)
                          {
                              EXPECT_NE (dynamic_cast<juce::AlertWindow*> (&box), nullptr) << "not the box first";
                              box.exitModalState (0);
                          },
                          [&] (juce::Component& chooser)
                          {
                              EXPECT_EQ (chooser.getName(), "Choose The Firmware File");
                              boxesOpenAtTheChooser = openBoxes();
                              chooser.exitModalState (0);
                          } });
    StuckDialogGuard guard (10000);

    panel.doStep4();

    EXPECT_FALSE (guard.fired());
    EXPECT_EQ (script.numAnswered(), 2u);
    EXPECT_EQ (boxesOpenAtTheChooser, 0);
    ASSERT_EQ (lookAndFeel.alerts.size(), 1u);
    EXPECT_EQ (lookAndFeel.alerts[0].icon, juce::MessageBoxIconType::NoIcon);
    EXPECT_EQ (lookAndFeel.alerts[0].title, "Firmware Upgrade");
    EXPECT_EQ (lookAndFeel.alerts[0].message, "Cannot fetch firmware details for Unknown product");
    EXPECT_EQ (lookAndFeel.alerts[0].numButtons, 1);

    pump();
    EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0) << "something still holds the panel";
    EXPECT_EQ (panel.getState().step, 2);
}
