#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ChooserTestSupport.h"
#include "DeviceSelectComponent.h"
#include "FakeMidiPorts.h"

#include <functional>
#include <vector>

using ::testing::ElementsAreArray;
using namespace testsupport;

namespace
{

class DeviceChooserTest : public ::testing::Test
{
protected:
    testsupport::FakeMidiPorts system;   // the machine's devices: only the output names matter to the chooser

    void SetUp() override
    {
        g_lastSelectedDevice = {};
    }

    // The chooser's children are, in order: the connect button, the cancel button, the port list.
    static juce::TextButton& connectButton (DeviceSelectComponent& c)  { return child<juce::TextButton> (c, 0); }
    static juce::TextButton& cancelButton (DeviceSelectComponent& c)   { return child<juce::TextButton> (c, 1); }
    static juce::ComboBox& portList (DeviceSelectComponent& c)         { return child<juce::ComboBox> (c, 2); }

    template <typename Type>
    static Type& child (DeviceSelectComponent& c, int index)
    {
        auto* found = dynamic_cast<Type*> (c.getChildComponent (index));

        if (found == nullptr)
            throw std::runtime_error ("unexpected child at index " + std::to_string (index));

        return *found;
    }

    // Shows the chooser as the editor does.
    static int runModal (DeviceSelectComponent& chooser, std::function<void (juce::DialogWindow&)> whileOpen)
    {
        return testsupport::runModal (chooser, "Select your device", std::move (whileOpen));
    }
};

} // namespace

TEST (DeviceSelectHelper, AcceptsTheProductLineWordOrTheMakerWordTogetherWithMidi)
{
    const struct { const char* name; bool valid; } cases[] {
        { "Varn Tamrel",            true  },
        { "VARN",                   true  },
        { "my vArN port",           true  },
        { " Varn ",                 true  },   // tested untrimmed
        { "Fenzwerk MIDI 1",        true  },
        { "midi FENZ",              true  },
        { "fenzmidi",               true  },
        { "Fenzwerk Port",          false },   // the maker word alone
        { "Generic MIDI Out",       false },   // "midi" alone
        { "Var n",                  false },
        { "fenz mid i",             false },
        { "",                       false },
        { " \t ",                   false },
    };

    for (const auto& c : cases)
        EXPECT_EQ (DeviceSelectHelper::validDeviceName (c.name), c.valid) << '"' << c.name << '"';
}

TEST_F (DeviceChooserTest, ListsEachSurfacePortOnceInSystemOrderAndDropsTheRest)
{
    system.outputs = { "Varn Tamrel", "Other Synth", "Varn Tamrel", "varn tamrel", "   ",
                       "\t\n\v\f\r", "", "Fenzwerk Port", "Fenzwerk MIDI Out", "Varn Ostrel", "Varn Tamrel" };
    const std::vector<juce::String> expected { "Varn Tamrel", "varn tamrel", "Fenzwerk MIDI Out", "Varn Ostrel" };

    EXPECT_THAT (toVector (DeviceSelectHelper::listedDeviceNames()), ElementsAreArray (expected));

    DeviceSelectComponent chooser;
    expectItemsNumberedFromOne (portList (chooser), expected);
}

TEST_F (DeviceChooserTest, IsBuiltWithItsNameChildrenTextsAndSize)
{
    DeviceSelectComponent chooser;

    EXPECT_EQ (chooser.getName(), "DeviceSelectComponent");
    EXPECT_EQ (chooser.getWidth(), 300);
    EXPECT_EQ (chooser.getHeight(), 200);
    ASSERT_EQ (chooser.getNumChildComponents(), 3);
    EXPECT_EQ (connectButton (chooser).getButtonText(), "Connect");
    EXPECT_EQ (cancelButton (chooser).getButtonText(), "Cancel");
    EXPECT_EQ (portList (chooser).getName(), "");

    for (auto* c : chooser.getChildren())
        EXPECT_TRUE (c->isVisible());
}

TEST_F (DeviceChooserTest, PreselectsThePortChosenLastElseTheFirstWithoutNotifying)
{
    const juce::StringArray ports { "Varn A", "Varn B", "Varn C" };

    const struct { juce::StringArray outputs; const char* last; int index; const char* text; } cases[] {
        { ports, "Varn C", 2,  "Varn C" },
        { ports, "varn c", 0,  "Varn A" },   // letter case counts
        { ports, "Gone",   0,  "Varn A" },
        { ports, "",       0,  "Varn A" },
        { {},    "Varn C", -1, ""       },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String ("last chosen \"") + c.last + "\", " + juce::String (c.outputs.size()) + " ports");
        system.outputs = c.outputs;
        g_lastSelectedDevice = c.last;

        DeviceSelectComponent chooser;
        deliverPendingMessages();

        EXPECT_EQ (portList (chooser).getSelectedItemIndex(), c.index);
        EXPECT_EQ (portList (chooser).getText(), c.text);
        // A change notification would have copied the preselected text into selectedName.
        EXPECT_EQ (chooser.selectedName, c.last);
        EXPECT_EQ (g_lastSelectedDevice, c.last);
    }
}

TEST_F (DeviceChooserTest, AUsersChoiceIsCopiedIntoSelectedName)
{
    system.outputs = { "Varn A", "Varn B" };
    DeviceSelectComponent chooser;

    portList (chooser).setSelectedId (2, juce::sendNotificationSync);
    EXPECT_EQ (chooser.selectedName, "Varn B");
    EXPECT_EQ (g_lastSelectedDevice, "");

    portList (chooser).setSelectedId (1, juce::sendNotificationSync);
    EXPECT_EQ (chooser.selectedName, "Varn A");
}

TEST_F (DeviceChooserTest, LaysOutTheListAcrossTheMiddleAndTheButtonsBottomRight)
{
    const struct { int w, h; juce::Rectangle<int> list, cancel, connect; } cases[] {
        { 300, 200, { 8, 76, 284, 24 },  { 190, 160, 100, 30 }, { 90, 160, 100, 30 } },
        { 640, 481, { 8, 216, 624, 24 }, { 530, 441, 100, 30 }, { 430, 441, 100, 30 } },
        // Too small for two full buttons: the cancel button keeps its width, connect gets the rest.
        { 150, 20,  { 8, -14, 134, 24 }, { 40, -10, 100, 20 },  { -10, -10, 50, 20 } },
    };

    DeviceSelectComponent chooser;

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.w) + " x " + juce::String (c.h));
        chooser.setSize (c.w, c.h);

        EXPECT_EQ (portList (chooser).getBounds(), c.list);
        EXPECT_EQ (cancelButton (chooser).getBounds(), c.cancel);
        EXPECT_EQ (connectButton (chooser).getBounds(), c.connect);
    }
}

TEST_F (DeviceChooserTest, OutsideADialogConnectStillStoresTheNameAndCancelDoesNothing)
{
    system.outputs = { "Varn A" };
    DeviceSelectComponent chooser;

    chooser.buttonClicked (&cancelButton (chooser));
    EXPECT_EQ (g_lastSelectedDevice, "");

    chooser.buttonClicked (&connectButton (chooser));
    EXPECT_EQ (chooser.selectedName, "Varn A");
    EXPECT_EQ (g_lastSelectedDevice, "Varn A");
}

TEST_F (DeviceChooserTest, ConnectWithAPortSelectedEndsTheRunWithOne)
{
    system.outputs = { "Varn A", "Varn B" };
    g_lastSelectedDevice = "Varn B";
    DeviceSelectComponent chooser;

    const auto result = runModal (chooser, [&] (juce::DialogWindow&) { connectButton (chooser).triggerClick(); });

    EXPECT_EQ (result, 1);
    EXPECT_EQ (chooser.selectedName, "Varn B");
    EXPECT_EQ (g_lastSelectedDevice, "Varn B");
}

TEST_F (DeviceChooserTest, ConnectTakesThePortTheUserPickedInTheOpenDialog)
{
    system.outputs = { "Varn A", "Fenzwerk MIDI B" };
    DeviceSelectComponent chooser;

    const auto result = runModal (chooser, [&] (juce::DialogWindow&)
    {
        portList (chooser).setSelectedId (2, juce::sendNotificationSync);
        connectButton (chooser).triggerClick();
    });

    EXPECT_EQ (result, 1);
    EXPECT_EQ (chooser.selectedName, "Fenzwerk MIDI B");
    EXPECT_EQ (g_lastSelectedDevice, "Fenzwerk MIDI B");
}

TEST_F (DeviceChooserTest, ConnectWithAnEmptyListStoresTheEmptyTextAndKeepsTheDialogOpen)
{
    system.outputs = { "Other Synth" };
    g_lastSelectedDevice = "Varn Gone";
    DeviceSelectComponent chooser;
    bool stayedOpen = false;

    const auto result = runModal (chooser, [&] (juce::DialogWindow& dialog)
    {
        connectButton (chooser).triggerClick();

        // Delivered after the click.
        juce::MessageManager::callAsync ([&, safeDialog = juce::Component::SafePointer<juce::DialogWindow> (&dialog)]
        {
            stayedOpen = safeDialog != nullptr && safeDialog->isCurrentlyModal() && safeDialog->isVisible();
            EXPECT_EQ (g_lastSelectedDevice, "");
            cancelButton (chooser).triggerClick();
        });
    });

    EXPECT_TRUE (stayedOpen);
    EXPECT_EQ (result, 0);
    EXPECT_EQ (g_lastSelectedDevice, "");
    EXPECT_EQ (chooser.selectedName, "");
}

TEST_F (DeviceChooserTest, CancelEscapeAndTheCloseButtonEndTheRunWithZeroAndLeaveTheLastChoice)
{
    const struct { const char* how; std::function<void (DeviceSelectComponent&, juce::DialogWindow&)> close; } ways[] {
        { "Cancel",       [] (DeviceSelectComponent& c, juce::DialogWindow&) { cancelButton (c).triggerClick(); } },
        { "Escape",       [] (DeviceSelectComponent&, juce::DialogWindow& d)
                          { static_cast<juce::Component&> (d).keyPressed (juce::KeyPress (juce::KeyPress::escapeKey)); } },
        { "close button", [] (DeviceSelectComponent&, juce::DialogWindow& d) { d.closeButtonPressed(); } },
    };

    system.outputs = { "Varn A", "Varn B" };

    for (const auto& way : ways)
    {
        SCOPED_TRACE (way.how);
        g_lastSelectedDevice = "Varn B";
        DeviceSelectComponent chooser;

        const auto result = runModal (chooser, [&] (juce::DialogWindow& dialog)
        {
            portList (chooser).setSelectedId (1, juce::sendNotificationSync);
            way.close (chooser, dialog);
        });

        EXPECT_EQ (result, 0);
        EXPECT_EQ (g_lastSelectedDevice, "Varn B");
        EXPECT_EQ (chooser.selectedName, "Varn A");
    }
}
