#include <gtest/gtest.h>
#include "ModalScript.h"
#include "PanelTestSupport.h"
#include "fenz_FirmwareLaunch.h"
#include "fenz_MacVersion.h"
#include "fenz_FirmwareUpgradeComponent.h"
#include "PanelTestSeam.h"

using fenz::FirmwareUpgradeComponent;
using fenz::FirmwareUpgradeDialog;
using namespace testsupport;
using namespace testsupport;

namespace
{
    const char* warningText = "\n* IMPORTANT WARNING! *\n\n"
                              "FAILURE TO FOLLOW THESE INSTRUCTIONS COULD DAMAGE YOUR DEVICE!!\n\n"
                              "- Connect ONLY the device you want to update\n"
                              "- Make sure the power supply is connected (if any)\n"
                              "- Connect device directly to computer (no hub)\n"
                              "- Do not touch device during firmware update";

    struct Launch : public ::testing::Test
    {
        Launch()
        {
            // Values the launch must replace.
            fenz::bTest = true;
            fenz::_mac_major = 7936;

            editor.setBounds (200, 150, 700, 500);
            editor.addToDesktop (0);
            editor.setVisible (true);
        }

        ~Launch() override
        {
            fenz::bTest = false;
            fenz::_mac_major = 0;
        }

        void expectWarning()
        {
            ASSERT_FALSE (lookAndFeel.alerts.empty());
            const auto& box = lookAndFeel.alerts[0];
            EXPECT_EQ (box.icon, juce::MessageBoxIconType::InfoIcon);
            EXPECT_EQ (box.title, "Firmware Upgrader about to start");
            EXPECT_EQ (box.message, warningText);
            EXPECT_EQ (box.numButtons, 2);
        }

        FakeMidiPorts ports;
        RecordingLookAndFeel lookAndFeel;
        juce::Component editor;
    };

    // The globals as the launch sets them on this system.
    void expectGlobalsSet()
    {
        EXPECT_FALSE (fenz::bTest);
       #if JUCE_MAC
        EXPECT_EQ (fenz::_mac_major, fenz::MacVersion::ofThisSystem());
       #else
        EXPECT_EQ (fenz::_mac_major, 0);
       #endif
    }
}

TEST_F (Launch, CancelLeavesTheGlobalsSetAndOpensNothing)
{
    bool globalsSetBeforeTheBox = false;

    {
        ModalScript script ({ [&] (juce::Component& modal)
        {
            globalsSetBeforeTheBox = ! fenz::bTest && fenz::_mac_major != 7936;
            EXPECT_NE (dynamic_cast<juce::AlertWindow*> (&modal), nullptr);
            modal.exitModalState (0);      // Cancel
        } });

        fenz::launchFirmwareUpgrade (176, &editor);
        pump (100);                         // the script fails the test should anything else open
        EXPECT_EQ (script.numAnswered(), 1u);
    }

    expectWarning();
    EXPECT_EQ (lookAndFeel.alerts.size(), 1u);
    EXPECT_TRUE (globalsSetBeforeTheBox);
    expectGlobalsSet();

    for (int i = 0; i < juce::TopLevelWindow::getNumTopLevelWindows(); ++i)
        EXPECT_EQ (dynamic_cast<FirmwareUpgradeDialog*> (juce::TopLevelWindow::getTopLevelWindow (i)), nullptr);
}

TEST_F (Launch, OkRunsThePanelInItsDialogUntilItCloses)
{
    juce::Component::SafePointer<juce::Component> shownPanel;

    for (const int productId : { 176, 177 })
    {
        lookAndFeel.alerts.clear();
        fenz::bTest = true;
        bool dialogSeen = false;

        ModalScript script ({
            [] (juce::Component& box) { box.exitModalState (1); },     // OK
            [&] (juce::Component& modal)
            {
                auto* dialog = dynamic_cast<FirmwareUpgradeDialog*> (&modal);
                ASSERT_NE (dialog, nullptr);
                dialogSeen = true;

                auto& panel = dialog->getPanel();
                shownPanel = &panel;
                EXPECT_EQ (dialog->getName(), "Firmware Upgrade");
                EXPECT_EQ (inside (panel).initialPid, productId);
                EXPECT_EQ (inside (panel).pid, productId);
                EXPECT_EQ (inside (panel).currentPid, productId);
                EXPECT_EQ (panel.getWidth(), 514);
                EXPECT_EQ (panel.getHeight(), 491);
                EXPECT_TRUE (dialog->isUsingNativeTitleBar());
                EXPECT_FALSE (dialog->isResizable());
                EXPECT_TRUE (dialog->isVisible());

                const auto centre = dialog->getScreenBounds().getCentre();
                const auto editorCentre = editor.getScreenBounds().getCentre();
                EXPECT_LE (std::abs (centre.x - editorCentre.x), 1) << centre.toString();
                EXPECT_LE (std::abs (centre.y - editorCentre.y), 1) << centre.toString();

                // The panel's title rules reach this dialog.
                panel.SetTitle ("Tamrel");
                EXPECT_EQ (dialog->getName(), "Firmware Upgrade: Tamrel");

                EXPECT_TRUE (dialog->escapeKeyPressed());              // Escape closes it
            },
        });

        fenz::launchFirmwareUpgrade (productId, &editor);

        EXPECT_TRUE (dialogSeen) << productId;
        expectWarning();
        expectGlobalsSet();

        // The launch returned with the dialog closed, and the panel went with it.
        EXPECT_EQ (shownPanel, nullptr);
        EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0);
    }
}
