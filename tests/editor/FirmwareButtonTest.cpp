#include "EditorTestSupport.h"
#include "ModalScript.h"
#include "fenz_FirmwareLaunch.h"
#include "fenz_FirmwareUpgradeComponent.h"
#include "PanelTestSeam.h"

using namespace testsupport;
using testsupport::pump;

namespace
{
    using FirmwareButton = EditorFixture;

    // Presses "Firmware Upgrade", confirms the warning and answers the product id the panel in
    // the opened dialog was built for; -1 when no such dialog opened.
    int productIdOfTheOpenedPanel (ContentComponent& c)
    {
        int shown = -1;

        ModalScript script ({
            [] (juce::Component& box)
            {
                EXPECT_EQ (box.getName(), "Firmware Upgrader about to start");
                box.exitModalState (1);
            },
            [&] (juce::Component& modal)
            {
                if (auto* dialog = dynamic_cast<fenz::FirmwareUpgradeDialog*> (&modal))
                {
                    EXPECT_EQ (dialog->getName(), "Firmware Upgrade");
                    shown = inside (dialog->getPanel()).initialPid;
                    EXPECT_EQ (inside (dialog->getPanel()).currentPid, shown);
                }

                modal.exitModalState (0);
            },
        });

        c.firmwareUpgradeButton.triggerClick();
        pump (100);
        EXPECT_EQ (script.numAnswered(), 2u);
        return shown;
    }

    TEST_F (FirmwareButton, OpensThePanelForTheModelBeingEdited)
    {
        auto& c = makeContent();
        fenz::bTest = true;

        EXPECT_EQ (productIdOfTheOpenedPanel (c), 176);
        EXPECT_FALSE (fenz::bTest);

        c.mouseDown (mouseAt (c, { 300.0f, 40.0f }));   // the model picture: the extender
        ASSERT_TRUE (c.isExtender);
        EXPECT_EQ (productIdOfTheOpenedPanel (c), 177);

        c.mouseDown (mouseAt (c, { 300.0f, 40.0f }));   // and back
        ASSERT_FALSE (c.isExtender);
        EXPECT_EQ (productIdOfTheOpenedPanel (c), 176);
    }

    TEST_F (FirmwareButton, CancelOpensNothing)
    {
        auto& c = makeContent();

        {
            ModalScript script ({ [] (juce::Component& box) { box.exitModalState (0); } });
            c.firmwareUpgradeButton.triggerClick();
            pump (100);
            EXPECT_EQ (script.numAnswered(), 1u);
        }

        ASSERT_EQ (lookAndFeel.alerts.size(), 1u);
        EXPECT_EQ (lookAndFeel.alerts[0].title, "Firmware Upgrader about to start");
    }
}
