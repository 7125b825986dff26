#include "EditorTestSupport.h"
#include "AboutComponent.h"
#include "Arrays.h"

using namespace testsupport;
using testsupport::pump;

namespace
{
    struct Bounds { juce::Component* component; juce::Rectangle<int> expected; };

    std::vector<Bounds> expectedLayout (ContentComponent& c, int height)
    {
        const int h = height;
        return {
            { &c.modeBox,               { 25, h - 65, 200, 22 } },
            { &c.msgTypeBox,            { 255, h - 65, 110, 22 } },
            { &c.channelBox,            { 395, h - 65, 110, 22 } },
            { &c.messageBox,            { 535, h - 65, 200, 22 } },
            { &c.controlModeLabel,      { 25, h - 85, 200, 22 } },
            { &c.msgTypeLabel,          { 255, h - 85, 110, 22 } },
            { &c.channelLabel,          { 395, h - 85, 110, 22 } },
            { &c.messageLabel,          { 535, h - 85, 200, 22 } },
            { &c.firmwareUpgradeButton, { 35, h - 33, 94, 23 } },
            { &c.connectButton,         { 313, h - 33, 94, 23 } },
            { &c.sendDataButton,        { 419, h - 33, 94, 23 } },
            { &c.loadFileButton,        { 525, h - 33, 94, 23 } },
            { &c.saveFileButton,        { 631, h - 33, 94, 23 } },
            { &c.mixerSection,          { 0, 66, 540, 500 } },
        };
    }

    void expectMainUnit (ContentComponent& c)
    {
        EXPECT_FALSE (c.isExtender);
        EXPECT_EQ (Kestal::getInstance()->impl->productId, 176);
        EXPECT_EQ (c.getWidth(), 1010);
        EXPECT_EQ (c.getHeight(), 670);
        EXPECT_TRUE (c.controlSection.isVisible());
        EXPECT_EQ (c.controlSection.getBounds(), juce::Rectangle<int> (540, 22, 450, 670));
    }

    void expectExtender (ContentComponent& c)
    {
        EXPECT_TRUE (c.isExtender);
        EXPECT_EQ (Kestal::getInstance()->impl->productId, 177);
        EXPECT_EQ (c.getWidth(), 760);
        EXPECT_EQ (c.getHeight(), 670);
        EXPECT_TRUE (c.controlSection.getBounds().isEmpty());
    }

    using EditorContent = EditorFixture;

    //==============================================================================
    TEST_F (EditorContent, StartsWithTheMainUnitWhenNoSurfaceIsAttached)
    {
        auto& c = makeContent();
        expectMainUnit (c);
        EXPECT_TRUE (g_lastSelectedDevice.isEmpty());
        EXPECT_EQ (c.modeBox.getSelectedId(), 1);
        EXPECT_EQ (c.modeBox.getText(), "1) MCP");
        EXPECT_EQ (c.messageLabel.getText(), "Message");

        // Send Data finds nothing either and reports the transfer's own text.
        click (c.sendDataButton);
        ASSERT_EQ (lookAndFeel.alerts.size(), 1u);
        EXPECT_EQ (lookAndFeel.alerts[0].title, "Send Mapping");
        EXPECT_EQ (lookAndFeel.alerts[0].message, "No device selected");
    }

    TEST_F (EditorContent, StartsWithTheExtenderWhenTheFirstSurfaceIsOne)
    {
        fenz::VirtualSurface extender (fenz::VirtualSurface::Model::ostrel);
        extender.install();

        auto& c = makeContent();
        expectExtender (c);
        EXPECT_EQ (g_lastSelectedDevice, extender.getPortName());
        EXPECT_TRUE (c.controlSection.isVisible());   // only its bounds are empty at start-up
    }

    TEST_F (EditorContent, ModeBoxListsTheFourLiveModes)
    {
        auto& c = makeContent();
        ASSERT_EQ (c.modeBox.getNumItems(), 4);
        const char* texts[] = { "1) MCP", "2) Logic", "3) HUI", "4) User Defined (MCP)" };

        for (int i = 0; i < 4; ++i)
        {
            EXPECT_EQ (c.modeBox.getItemText (i), texts[i]);
            EXPECT_EQ (c.modeBox.getItemId (i), i + 1);
        }
    }

    TEST_F (EditorContent, TheAutomaticPickTakesTheFirstListedSurface)
    {
        struct Case { juce::StringArray ports; juce::String picked; };

        const Case cases[] = {
            { { "Fenz Dravo MIDI", "Varn Tamrel 2", "Varn Ostrel" }, "Varn Tamrel 2" },
            { { "Tamrel MIDI", "fenz OSTREL midi" }, "fenz OSTREL midi" },      // the first has neither word
            { { "  ", "VARN TAMREL", "VARN TAMREL" }, "VARN TAMREL" },
            { { "Varn Korran R", "Fenz Lumbrel 1 MIDI" }, "" },                 // surfaces of other models
            { {}, "" },
        };

        for (const auto& c : cases)
        {
            systemPorts.outputs = c.ports;
            EXPECT_EQ (findSurfaceOutput(), c.picked) << c.ports.joinIntoString (" | ");
        }
    }

    TEST_F (EditorContent, LaysOutEveryChildForBothModels)
    {
        auto& c = makeContent();

        for (const auto& b : expectedLayout (c, 670))
            EXPECT_EQ (b.component->getBounds(), b.expected) << b.component->getName();

        c.mouseDown (mouseAt (c, { 300.0f, 40.0f }));   // the model picture
        expectExtender (c);
        EXPECT_FALSE (c.controlSection.isVisible());

        for (const auto& b : expectedLayout (c, 670))
            EXPECT_EQ (b.component->getBounds(), b.expected) << b.component->getName();
    }

    TEST_F (EditorContent, ChildrenStackInTheirOrder)
    {
        auto& c = makeContent();
        const juce::Component* expected[] = { &c.mixerSection, &c.controlSection, &c.controlModeLabel, &c.modeBox,
                                               &c.messageLabel, &c.messageBox, &c.channelLabel, &c.channelBox,
                                               &c.msgTypeLabel, &c.msgTypeBox, &c.saveFileButton, &c.loadFileButton,
                                               &c.sendDataButton, &c.firmwareUpgradeButton, &c.connectButton };

        ASSERT_EQ (c.getNumChildComponents(), (int) std::size (expected));

        for (int i = 0; i < c.getNumChildComponents(); ++i)
            EXPECT_EQ (c.getChildComponent (i), expected[i]) << i;

        EXPECT_EQ (c.saveFileButton.getButtonText(), "Save File");
        EXPECT_EQ (c.firmwareUpgradeButton.getButtonText(), "Firmware Upgrade");
        EXPECT_FALSE (c.msgTypeBox.getWantsKeyboardFocus());
        EXPECT_FALSE (c.channelBox.getWantsKeyboardFocus());
        EXPECT_TRUE (c.modeBox.getWantsKeyboardFocus());
        EXPECT_TRUE (c.messageBox.getWantsKeyboardFocus());
    }

    //==============================================================================
    TEST_F (EditorContent, TheModelPictureSwitchesBetweenTheTwoModels)
    {
        auto& c = makeContent();

        // Just outside the picture's drawn rectangle (274, 24, 196, 42) nothing happens.
        for (auto outside : { juce::Point<float> (273.0f, 30.0f), { 470.0f, 30.0f }, { 300.0f, 66.0f }, { 300.0f, 23.0f } })
        {
            c.mouseDown (mouseAt (c, outside));
            expectMainUnit (c);
        }

        c.mouseDown (mouseAt (c, { 274.0f, 24.0f }));
        expectExtender (c);
        EXPECT_FALSE (c.controlSection.isVisible());

        c.mouseDown (mouseAt (c, { 469.0f, 65.0f }));
        expectMainUnit (c);
    }

    TEST_F (EditorContent, TheLogoHotAreaShowsTheHintAndOpensTheAboutBox)
    {
        auto& c = makeContent();

        struct Case { juce::Point<float> at; bool inside; };

        // The hot area lies right of and below the drawn logo (24, 24, 87, 25): x 55..141, y 33..57.
        for (auto k : { Case { { 55.0f, 33.0f }, true }, Case { { 141.0f, 57.0f }, true }, Case { { 30.0f, 30.0f }, false },
                        Case { { 142.0f, 40.0f }, false }, Case { { 60.0f, 58.0f }, false }, Case { { 54.0f, 40.0f }, false } })
        {
            c.mouseMove (mouseAt (c, k.at));
            EXPECT_EQ (c.showAboutHint, k.inside) << k.at.toString();
            EXPECT_EQ (c.lastMousePos, k.at);
        }

        c.mouseMove (mouseAt (c, { 60.0f, 40.0f }));
        c.mouseExit (mouseAt (c, { 60.0f, 40.0f }));
        EXPECT_FALSE (c.showAboutHint);

        auto openAboutBoxes = []
        {
            int n = 0;
            for (int i = 0; i < juce::TopLevelWindow::getNumTopLevelWindows(); ++i)
                if (auto* d = dynamic_cast<juce::DialogWindow*> (juce::TopLevelWindow::getTopLevelWindow (i)))
                    if (d->getName() == "About Tamrel/Ostrel Pelto" && dynamic_cast<AboutComponent*> (d->getContentComponent()) != nullptr)
                        ++n;
            return n;
        };

        c.mouseMove (mouseAt (c, { 60.0f, 40.0f }));
        c.mouseDown (mouseAt (c, { 60.0f, 40.0f }));
        pump();
        EXPECT_FALSE (c.showAboutHint);
        EXPECT_EQ (openAboutBoxes(), 1);

        // It does not wait for the box: a second click opens a second one.
        c.mouseDown (mouseAt (c, { 60.0f, 40.0f }));
        pump();
        EXPECT_EQ (openAboutBoxes(), 2);
        expectMainUnit (c);
    }

    TEST_F (EditorContent, PaintsTheModelPictureAndTheHint)
    {
        auto& c = makeContent();

        auto pixel = [&c] (int x, int y) { return c.createComponentSnapshot (c.getLocalBounds()).getPixelAt (x, y); };

        // Background, then the panel.
        EXPECT_EQ (pixel (5, 5), juce::Colour (0xffeeeeee));
        EXPECT_EQ (pixel (300, 575), juce::Colour (0xffc8c8c8));

        // The pictures are drawn at half size inside their rectangles; something of each shows.
        auto picturePixels = [&] (juce::Rectangle<int> area)
        {
            auto snapshot = c.createComponentSnapshot (c.getLocalBounds());
            int differing = 0;
            for (int y = area.getY(); y < area.getBottom(); ++y)
                for (int x = area.getX(); x < area.getRight(); ++x)
                    differing += snapshot.getPixelAt (x, y) != juce::Colour (0xffc8c8c8) ? 1 : 0;
            return differing;
        };

        EXPECT_GT (picturePixels ({ 24, 24, 87, 25 }), 50);
        EXPECT_GT (picturePixels ({ 274, 24, 196, 42 }), 200);

        // No hint bubble until the pointer rests in the hot area.
        const juce::Rectangle<int> bubble (100, 40, 45, 10);
        const int withoutHint = picturePixels (bubble);
        c.mouseMove (mouseAt (c, { 100.0f, 45.0f }));
        EXPECT_GT (picturePixels (bubble), withoutHint + 100);
    }

    //==============================================================================
    TEST_F (EditorContent, ClickingAControlSelectsItAloneAndShowsItsLabelAsTooltip)
    {
        auto& c = makeContent();

        for (int id : { 1, 91, 45, 99, 108, 100 })
        {
            auto* button = control (id);
            ASSERT_NE (button, nullptr) << id;
            click (*button);

            EXPECT_EQ (c.findSelectedControl(), button) << id;
            EXPECT_EQ (button->getTooltip(), button->getLabelText()) << id;

            int on = 0;
            for (int other = 1; other <= 108; ++other)
                if (auto* b = control (other))
                    on += b->getToggleState() ? 1 : 0;
            EXPECT_EQ (on, 1) << id;
        }

        c.clearToggleStates();
        EXPECT_EQ (c.findSelectedControl(), nullptr);
    }

    TEST_F (EditorContent, KeyRResetsTheCurrentMapWithOrWithoutModifiers)
    {
        auto& c = makeContent();
        auto& state = *kestal->impl;

        const juce::KeyPress keys[] = { juce::KeyPress ('r'), juce::KeyPress ('R', juce::ModifierKeys::shiftModifier, 'R'),
                                        juce::KeyPress ('r', juce::ModifierKeys::commandModifier, 0),
                                        juce::KeyPress ('R', juce::ModifierKeys::altModifier | juce::ModifierKeys::ctrlModifier, 0) };

        for (const auto& key : keys)
        {
            state.currentMap.getControl (1).setProperty (Tags::value, 77, nullptr);
            state.currentMap.getControl (100).setProperty (Tags::chan, 12, nullptr);
            click (*control (1));

            EXPECT_FALSE (c.keyPressed (key)) << key.getTextDescription();
            EXPECT_EQ ((int) state.currentMap.getControl (1)[Tags::value], 0);
            EXPECT_EQ ((int) state.currentMap.getControl (100)[Tags::chan], 1);
            EXPECT_EQ (c.findSelectedControl(), control (1));
        }

        // Another key changes nothing and goes on as well.
        state.currentMap.getControl (1).setProperty (Tags::value, 77, nullptr);
        EXPECT_FALSE (c.keyPressed (juce::KeyPress ('t')));
        EXPECT_EQ ((int) state.currentMap.getControl (1)[Tags::value], 77);
    }

    //==============================================================================
    TEST_F (EditorContent, SendDataReachesTheSurfaceAndSaysDone)
    {
        fenz::VirtualSurface surface (fenz::VirtualSurface::Model::tamrel);
        surface.install();

        auto& c = makeContent();
        kestal->impl->setCurrentMode (1);
        c.modeBox.setSelectedItemIndex (1, juce::dontSendNotification);
        click (c.sendDataButton);

        EXPECT_EQ (kestal->impl->deviceName, surface.getPortName());
        ASSERT_EQ (lookAndFeel.alerts.size(), 1u);
        EXPECT_EQ (lookAndFeel.alerts[0].title, "Send Mapping");
        EXPECT_EQ (lookAndFeel.alerts[0].message, "Done!");
        EXPECT_EQ (surface.getNumTransfersTaken(), 1);
        EXPECT_TRUE (surface.getAssignment (1).has_value());
    }

    TEST_F (EditorContent, SendDataPicksASurfaceThatAppearedAfterStartUp)
    {
        auto& c = makeContent();
        EXPECT_TRUE (g_lastSelectedDevice.isEmpty());

        fenz::VirtualSurface surface (fenz::VirtualSurface::Model::ostrel);
        surface.install();
        click (c.sendDataButton);

        EXPECT_EQ (g_lastSelectedDevice, surface.getPortName());
        ASSERT_EQ (lookAndFeel.alerts.size(), 1u);
        EXPECT_EQ (lookAndFeel.alerts[0].message, "Done!");
        EXPECT_EQ (surface.getNumTransfersTaken(), 1);

        // Send Data does not change the model shown.
        expectMainUnit (c);
    }

    TEST_F (EditorContent, SendDataReportsASurfaceThatCannotBeOpened)
    {
        fenz::VirtualSurface surface (fenz::VirtualSurface::Model::tamrel);
        surface.install();
        auto& c = makeContent();

        surface.setRefusesToOpenOutput (true);
        click (c.sendDataButton);
        ASSERT_EQ (lookAndFeel.alerts.size(), 1u);
        EXPECT_EQ (lookAndFeel.alerts[0].message, surface.getPortName() + ": could not open device");

        surface.setRefusesToOpenOutput (false);
        surface.setHidesPorts (true);
        click (c.sendDataButton);
        ASSERT_EQ (lookAndFeel.alerts.size(), 2u);
        EXPECT_EQ (lookAndFeel.alerts[1].message, surface.getPortName() + ": device does not exist");
        EXPECT_TRUE (surface.getReceivedMessages().empty());
    }

    //==============================================================================
    // Runs the Connect button's chooser, doing `inside` with it once it is open.
    void connectWith (ContentComponent& c, std::function<void (juce::DialogWindow&, DeviceSelectComponent&)> inside)
    {
        struct WhenOpen : juce::Timer
        {
            std::function<void()> action;
            int ticks = 0;

            void timerCallback() override
            {
                auto* manager = juce::ModalComponentManager::getInstance();

                if (manager->getNumModalComponents() > 0 || ++ticks > 200)
                {
                    stopTimer();
                    action();
                }
            }
        };

        bool seen = false;
        WhenOpen whenOpen;
        whenOpen.action = [&]
        {
            auto* modal = juce::ModalComponentManager::getInstance()->getModalComponent (0);
            auto* dialog = dynamic_cast<juce::DialogWindow*> (modal);
            auto* chooser = dialog != nullptr ? dynamic_cast<DeviceSelectComponent*> (dialog->getContentComponent()) : nullptr;

            if (chooser == nullptr)
            {
                ADD_FAILURE() << "no chooser dialog is open";
                testsupport::endEveryModalRun();
                return;
            }

            seen = true;
            EXPECT_EQ (dialog->getName(), "Select your device");
            inside (*dialog, *chooser);
        };

        whenOpen.startTimer (10);
        c.connectButton.triggerClick();
        pump (100);
        EXPECT_TRUE (seen);
    }

    juce::TextButton* chooserButton (DeviceSelectComponent& chooser, const juce::String& text)
    {
        for (auto* child : chooser.getChildren())
            if (auto* button = dynamic_cast<juce::TextButton*> (child))
                if (button->getButtonText() == text)
                    return button;
        return nullptr;
    }

    juce::ComboBox* chooserList (DeviceSelectComponent& chooser)
    {
        for (auto* child : chooser.getChildren())
            if (auto* box = dynamic_cast<juce::ComboBox*> (child))
                return box;
        return nullptr;
    }

    TEST_F (EditorContent, ConnectListsTheSurfaceAndTakesTheChosenModel)
    {
        fenz::VirtualSurface mainUnit (fenz::VirtualSurface::Model::tamrel);
        fenz::VirtualSurface extender (fenz::VirtualSurface::Model::ostrel);
        mainUnit.install();
        extender.install();
        systemPorts.outputs = { "Some Synth", "Fenz Dravo MIDI" };

        auto& c = makeContent();
        expectMainUnit (c);

        connectWith (c, [&] (juce::DialogWindow&, DeviceSelectComponent& chooser)
        {
            auto* list = chooserList (chooser);
            ASSERT_NE (list, nullptr);
            ASSERT_EQ (list->getNumItems(), 3);
            EXPECT_EQ (list->getItemText (0), "Fenz Dravo MIDI");
            EXPECT_EQ (list->getItemText (1), mainUnit.getPortName());
            EXPECT_EQ (list->getItemText (2), extender.getPortName());
            EXPECT_EQ (list->getText(), mainUnit.getPortName());   // the one picked at start-up

            list->setSelectedItemIndex (2, juce::sendNotificationSync);
            chooserButton (chooser, "Connect")->triggerClick();
        });

        EXPECT_EQ (kestal->impl->deviceName, extender.getPortName());
        EXPECT_EQ (g_lastSelectedDevice, extender.getPortName());
        expectExtender (c);
        EXPECT_FALSE (c.controlSection.isVisible());

        // Another maker's model is taken as the device, but the model shown stays.
        connectWith (c, [&] (juce::DialogWindow&, DeviceSelectComponent& chooser)
        {
            chooserList (chooser)->setSelectedItemIndex (0, juce::sendNotificationSync);
            chooserButton (chooser, "Connect")->triggerClick();
        });

        EXPECT_EQ (kestal->impl->deviceName, "Fenz Dravo MIDI");
        expectExtender (c);
    }

    TEST_F (EditorContent, CancellingConnectStillDerivesTheModelFromThePick)
    {
        auto& c = makeContent();
        kestal->impl->deviceName = "kept";

        // A surface appears after start-up: Connect picks it before the chooser opens.
        fenz::VirtualSurface extender (fenz::VirtualSurface::Model::ostrel);
        extender.install();

        connectWith (c, [&] (juce::DialogWindow&, DeviceSelectComponent& chooser)
        {
            chooserButton (chooser, "Cancel")->triggerClick();
        });

        EXPECT_EQ (g_lastSelectedDevice, extender.getPortName());
        EXPECT_EQ (kestal->impl->deviceName, "kept");
        expectExtender (c);
    }

    //==============================================================================
    TEST_F (EditorContent, LoadFileSelectsTheLoadedModeWithoutTheModeBoxHandler)
    {
        auto& c = makeContent();
        juce::TemporaryFile file (".pelto");
        file.getFile().replaceWithText ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<map mode=\"pro-tools\" name=\"HUI\"><controls>"
                                        "<control id=\"45\" kind=\"button\" type=\"note\" chan=\"1\" value=\"60\"/></controls></map>\n");
        c.browseForMappingFile = [&] (bool forSaving) { EXPECT_FALSE (forSaving); return file.getFile(); };

        click (*control (45));
        click (c.loadFileButton);

        EXPECT_TRUE (lookAndFeel.alerts.empty());
        EXPECT_EQ (c.modeBox.getSelectedItemIndex(), 2);
        EXPECT_EQ ((int) kestal->getCurrCtMode(), 2);
        EXPECT_EQ (control (45)->getButtonText(), "Flip");          // rebound to the loaded map
        EXPECT_EQ (c.messageLabel.getText(), "Function");
        EXPECT_EQ (c.messageBox.getText(), "Flip");                 // the selected control's loaded number
        EXPECT_EQ (c.findSelectedControl(), control (45));
    }

    TEST_F (EditorContent, FileCommandsReportTheirFailuresAndStaySilentOtherwise)
    {
        auto& c = makeContent();
        juce::TemporaryFile notAMapping (".pelto");
        notAMapping.getFile().replaceWithText ("not a mapping");
        juce::TemporaryFile saved (".pelto");

        juce::File chosen;
        c.browseForMappingFile = [&] (bool) { return chosen; };

        chosen = notAMapping.getFile();
        click (c.loadFileButton);
        ASSERT_EQ (lookAndFeel.alerts.size(), 1u);
        EXPECT_EQ (lookAndFeel.alerts[0].title, "Load Mapping");
        EXPECT_EQ (lookAndFeel.alerts[0].message, "Could not load mapping data");
        EXPECT_EQ (c.modeBox.getSelectedItemIndex(), 0);

        chosen = saved.getFile().getChildFile ("no-such-folder").getChildFile ("map.pelto");
        click (c.saveFileButton);
        ASSERT_EQ (lookAndFeel.alerts.size(), 2u);
        EXPECT_EQ (lookAndFeel.alerts[1].title, "Save Mapping");
        EXPECT_EQ (lookAndFeel.alerts[1].message, "Failed to write mapping file");

        chosen = saved.getFile();
        click (c.saveFileButton);
        EXPECT_TRUE (saved.getFile().loadFileAsString().contains ("<map mode=\"mackie\""));

        // Cancelled choosers do nothing at all.
        chosen = juce::File();
        click (c.saveFileButton);
        click (c.loadFileButton);
        EXPECT_EQ (lookAndFeel.alerts.size(), 2u);
    }

    // The chooser on Linux takes a name as typed; the "*.pelto" filter of Load File would then
    // hide a mapping saved as "studio".
    TEST (MappingExtension, IsAddedOnlyWhenTheChosenNameHasNone)
    {
        const auto folder = juce::File ("/maps");
        struct Case { const char* chosen; const char* saved; };

        for (auto c : { Case { "studio", "studio.pelto" }, Case { "studio.pelto", "studio.pelto" },
                        Case { "studio.xml", "studio.xml" }, Case { "my.studio.PELTO", "my.studio.PELTO" },
                        Case { "studio.", "studio.pelto" }, Case { ".studio", ".studio.pelto" } })
            EXPECT_EQ (withMappingExtension (folder.getChildFile (c.chosen)), folder.getChildFile (c.saved)) << c.chosen;

        EXPECT_EQ (withMappingExtension (juce::File()), juce::File());
    }
}
