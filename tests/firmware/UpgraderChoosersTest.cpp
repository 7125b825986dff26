#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ChooserTestSupport.h"
#include "FakeMidiPorts.h"
#include "fenz_UpgraderChoosers.h"

#include <chrono>
#include <functional>
#include <vector>

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using namespace testsupport;

namespace
{

// Counts the change notifications a combo box sends.
struct ChangeCounter : public juce::ComboBox::Listener
{
    void comboBoxChanged (juce::ComboBox*) override  { ++changes; }
    int changes = 0;
};

// Both choosers have the same three children, added in this order.
template <typename Chooser>
void expectBuiltAlike (Chooser& chooser)
{
    EXPECT_EQ (chooser.getName(), "DeviceSelectComponent");
    EXPECT_EQ (chooser.getWidth(), 300);
    EXPECT_EQ (chooser.getHeight(), 200);

    ASSERT_EQ (chooser.getNumChildComponents(), 3);
    EXPECT_EQ (chooser.getChildComponent (0), &chooser.okButton);
    EXPECT_EQ (chooser.getChildComponent (1), &chooser.cancelButton);
    EXPECT_EQ (chooser.getChildComponent (2), &chooser.comboBox);

    EXPECT_EQ (chooser.okButton.getButtonText(), "OK");
    EXPECT_EQ (chooser.cancelButton.getButtonText(), "Cancel");
    EXPECT_EQ (chooser.comboBox.getName(), "");

    for (auto* c : chooser.getChildren())
        EXPECT_TRUE (c->isVisible());
}

template <typename Chooser>
void expectLayout (Chooser& chooser)
{
    const struct { int w, h; juce::Rectangle<int> box, ok, cancel; } cases[] {
        { 300, 200, { 8, 76, 284, 24 },  { 90, 160, 100, 30 },  { 190, 160, 100, 30 } },
        { 640, 481, { 8, 216, 624, 24 }, { 430, 441, 100, 30 }, { 530, 441, 100, 30 } },
        // Too small for two full buttons: Cancel keeps its width and OK gets what is left.
        { 150, 20,  { 8, -14, 134, 24 }, { -10, -10, 50, 20 },  { 40, -10, 100, 20 } },
        // Narrower than one button: Cancel takes the whole width, OK none of it.
        { 60, 45,   { 8, -2, 44, 24 },   { -10, 5, 0, 30 },     { -10, 5, 60, 30 } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.w) + " x " + juce::String (c.h));
        chooser.setSize (c.w, c.h);

        EXPECT_EQ (chooser.comboBox.getBounds(), c.box);
        EXPECT_EQ (chooser.okButton.getBounds(), c.ok);
        EXPECT_EQ (chooser.cancelButton.getBounds(), c.cancel);
    }
}

class UpgraderChooserTest : public ::testing::Test
{
protected:
    testsupport::FakeMidiPorts system;   // the machine's devices: whatever names a test gives
};

juce::ValueTree firmwareList (std::initializer_list<juce::NamedValueSet> entries)
{
    juce::ValueTree list ("firmwares");

    for (const auto& entry : entries)
    {
        juce::ValueTree firmware ("firmware");

        for (const auto& property : entry)
            firmware.setProperty (property.name, property.value, nullptr);

        list.appendChild (firmware, nullptr);
    }

    return list;
}

juce::NamedValueSet entry (std::initializer_list<juce::NamedValueSet::NamedValue> values)
{
    return juce::NamedValueSet (values);
}

} // namespace

//==============================================================================
// The steps ask for one direction or the other; the listing itself is the port layer's.
TEST_F (UpgraderChooserTest, DeviceNamesAreThePortLayersDistinctNamesOfTheDirectionAskedFor)
{
    system.outputs = { "Out", "", "Out", "out" };
    system.inputs = { " ", "In", "In" };

    EXPECT_THAT (toVector (fenz::DeviceHelpers::getDeviceNames (true)), ElementsAreArray (std::vector<juce::String> { "Out", "out" }));
    EXPECT_THAT (toVector (fenz::DeviceHelpers::getDeviceNames (false)), ElementsAreArray (std::vector<juce::String> { "In" }));
}

//==============================================================================
TEST_F (UpgraderChooserTest, PortChooserOffersTheInputsWithTheFirstPreselectedWithoutNotifying)
{
    const struct { const char* what; juce::StringArray inputs; std::vector<juce::String> items; const char* first; } cases[] {
        { "two ports",         { "X", "Y" },                   { "X", "Y" },      "X" },
        { "listed once each",  { "X", "", "X", "x", "\t" },    { "X", "x" },      "X" },
        { "no port",           {},                             {},                ""  },
        { "only blanks",       { " ", "" },                    {},                ""  },
    };

    system.outputs = { "An output", "Another output" };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        system.inputs = c.inputs;

        fenz::DeviceSelectComponent chooser;
        ChangeCounter counter;
        chooser.comboBox.addListener (&counter);
        deliverPendingMessages();

        expectBuiltAlike (chooser);
        expectItemsNumberedFromOne (chooser.comboBox, c.items);

        EXPECT_EQ (chooser.comboBox.getSelectedItemIndex(), c.items.empty() ? -1 : 0);
        EXPECT_EQ (chooser.comboBox.getText(), c.first);
        EXPECT_EQ (chooser.selectedName, c.first);
        EXPECT_EQ (counter.changes, 0);

        chooser.comboBox.removeListener (&counter);
    }
}

TEST_F (UpgraderChooserTest, PortChooserCopiesTheUsersChoiceIntoSelectedName)
{
    system.inputs = { "X", "Y", "Z" };
    fenz::DeviceSelectComponent chooser;

    chooser.comboBox.setSelectedId (3, juce::sendNotificationSync);
    EXPECT_EQ (chooser.selectedName, "Z");

    chooser.comboBox.setSelectedId (2, juce::sendNotificationSync);
    EXPECT_EQ (chooser.selectedName, "Y");
}

TEST_F (UpgraderChooserTest, PortChooserOkEndsTheRunWithOneAndLeavesSelectedNameAsItStands)
{
    const struct { const char* what; juce::StringArray inputs; std::function<void (fenz::DeviceSelectComponent&)> choose; const char* name; } cases[] {
        { "OK at once",           { "X", "Y" }, [] (fenz::DeviceSelectComponent&) {},                                             "X" },
        { "the user chose Y",     { "X", "Y" }, [] (fenz::DeviceSelectComponent& c) { c.comboBox.setSelectedId (2, juce::sendNotificationSync); }, "Y" },
        // OK takes the name as the last notification left it; it does not read the box again.
        { "box changed silently", { "X", "Y" }, [] (fenz::DeviceSelectComponent& c) { c.comboBox.setSelectedId (2, juce::dontSendNotification); }, "X" },
        { "no port",              {},           [] (fenz::DeviceSelectComponent&) {},                                             ""  },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        system.inputs = c.inputs;
        fenz::DeviceSelectComponent chooser;

        const auto result = runModal (chooser, "Choose Your Fenz Device", [&] (juce::DialogWindow&)
        {
            c.choose (chooser);
            chooser.okButton.triggerClick();
        });

        EXPECT_EQ (result, 1);
        EXPECT_EQ (chooser.selectedName, c.name);
        EXPECT_EQ (chooser.getParentComponent(), nullptr);
    }
}

namespace
{

// Records when the dialog disappears from the screen.
struct HideWatcher : public juce::ComponentListener
{
    void componentVisibilityChanged (juce::Component& c) override
    {
        if (! c.isVisible() && ! hidden)
        {
            hidden = true;
            hiddenAt = std::chrono::steady_clock::now();
        }
    }

    bool hidden = false;
    std::chrono::steady_clock::time_point hiddenAt;
};

} // namespace

TEST_F (UpgraderChooserTest, PortChooserCancelClosesTheDialogOnlyAfterThreeHundredMillisecondsWithZero)
{
    system.inputs = { "X", "Y" };
    fenz::DeviceSelectComponent chooser;
    HideWatcher watcher;
    std::chrono::steady_clock::time_point clickedAt;

    const auto result = runModal (chooser, "Choose Your Fenz Device", [&] (juce::DialogWindow& dialog)
    {
        chooser.comboBox.setSelectedId (2, juce::sendNotificationSync);
        dialog.addComponentListener (&watcher);
        EXPECT_TRUE (dialog.isVisible());

        clickedAt = std::chrono::steady_clock::now();
        chooser.buttonClicked (&chooser.cancelButton);
    });

    EXPECT_EQ (result, 0);
    ASSERT_TRUE (watcher.hidden);
    EXPECT_GE (watcher.hiddenAt - clickedAt, std::chrono::milliseconds (300));
    EXPECT_EQ (chooser.selectedName, "Y");
}

TEST_F (UpgraderChooserTest, PortChooserClosedByItsWindowGivesZero)
{
    system.inputs = { "X" };
    fenz::DeviceSelectComponent chooser;

    const auto result = runModal (chooser, "Choose Your Fenz Device",
                                  [] (juce::DialogWindow& dialog) { dialog.closeButtonPressed(); });

    EXPECT_EQ (result, 0);
    EXPECT_EQ (chooser.selectedName, "X");
}

TEST_F (UpgraderChooserTest, ChoosersOutsideADialogIgnoreTheirButtons)
{
    system.inputs = { "X", "Y" };
    fenz::DeviceSelectComponent ports;
    fenz::FirmwareSelectComponent versions (firmwareList ({ entry ({ { "name", "Alpha" }, { "version", "2.1" } }) }));

    for (auto* button : { &ports.okButton, &ports.cancelButton })
        ports.buttonClicked (button);

    for (auto* button : { &versions.okButton, &versions.cancelButton })
        versions.buttonClicked (button);

    EXPECT_EQ (ports.selectedName, "X");
    EXPECT_EQ (ports.comboBox.getSelectedItemIndex(), 0);
    EXPECT_EQ (versions.comboBox.getSelectedItemIndex(), 0);
}

//==============================================================================
TEST_F (UpgraderChooserTest, VersionChooserOffersNameAndVersionOfEachEntryWithTheFirstSelected)
{
    const struct { const char* what; juce::ValueTree list; std::vector<juce::String> items; } cases[] {
        { "name and version, name only",
          firmwareList ({ entry ({ { "name", "Alpha" }, { "version", "2.1" }, { "fw", "alpha.bin" } }),
                          entry ({ { "name", "Beta" } }) }),
          { "Alpha v2.1", "Beta v" } },
        { "version only, numbers as text",
          firmwareList ({ entry ({ { "version", 3 } }),
                          entry ({ { "name", 176 }, { "version", 1.5 } }),
                          entry ({}) }),
          { " v3", "176 v1.5", " v" } },
        { "equal entries stay apart",
          firmwareList ({ entry ({ { "name", "Tamrel" }, { "version", "1.14" } }),
                          entry ({ { "name", "Tamrel" }, { "version", "1.14" } }) }),
          { "Tamrel v1.14", "Tamrel v1.14" } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        fenz::FirmwareSelectComponent chooser (c.list);

        expectBuiltAlike (chooser);
        expectItemsNumberedFromOne (chooser.comboBox, c.items);

        EXPECT_EQ (chooser.comboBox.getSelectedId(), 1);
        EXPECT_EQ (chooser.comboBox.getSelectedItemIndex(), 0);
        EXPECT_TRUE (chooser.firmwares.isEquivalentTo (c.list));
    }
}

// The first item is selected with a notification that arrives later, through the message loop.
TEST_F (UpgraderChooserTest, VersionChooserAnnouncesItsFirstSelectionLater)
{
    fenz::FirmwareSelectComponent chooser (firmwareList ({ entry ({ { "name", "Alpha" } }) }));
    ChangeCounter counter;
    chooser.comboBox.addListener (&counter);

    EXPECT_EQ (counter.changes, 0);
    deliverPendingMessages();
    EXPECT_EQ (counter.changes, 1);
    EXPECT_EQ (chooser.comboBox.getSelectedItemIndex(), 0);

    chooser.comboBox.removeListener (&counter);
}

TEST_F (UpgraderChooserTest, VersionChooserKeepsACopyOfTheListItWasGiven)
{
    auto list = firmwareList ({ entry ({ { "name", "Alpha" }, { "version", "2.1" } }) });
    fenz::FirmwareSelectComponent chooser (list);

    list.getChild (0).setProperty ("name", "Changed", nullptr);
    list.appendChild (juce::ValueTree ("firmware"), nullptr);

    ASSERT_EQ (chooser.firmwares.getNumChildren(), 1);
    EXPECT_EQ (chooser.firmwares.getChild (0)["name"].toString(), "Alpha");
    EXPECT_EQ (chooser.comboBox.getNumItems(), 1);
}

TEST_F (UpgraderChooserTest, VersionChooserFromAnInvalidOrEmptyListOffersNothing)
{
    const struct { const char* what; juce::ValueTree list; } cases[] {
        { "invalid", juce::ValueTree() },
        { "empty",   juce::ValueTree ("firmwares") },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        fenz::FirmwareSelectComponent chooser (c.list);
        deliverPendingMessages();

        expectBuiltAlike (chooser);
        EXPECT_EQ (chooser.firmwares.isValid(), c.list.isValid());
        EXPECT_EQ (chooser.firmwares.getNumChildren(), 0);
        EXPECT_THAT (itemTexts (chooser.comboBox), IsEmpty());
        EXPECT_EQ (chooser.comboBox.getSelectedItemIndex(), -1);
        EXPECT_EQ (chooser.comboBox.getText(), "");
    }
}

TEST_F (UpgraderChooserTest, VersionChooserAnswersOneWithTheSelectedIndexOrZero)
{
    const auto list = firmwareList ({ entry ({ { "name", "Alpha" }, { "version", "2.1" } }),
                                      entry ({ { "name", "Beta" } }) });

    const struct { const char* what; std::function<void (fenz::FirmwareSelectComponent&, juce::DialogWindow&)> act;
                   int result, index; } cases[] {
        { "OK at once",         [] (fenz::FirmwareSelectComponent& c, juce::DialogWindow&) { c.okButton.triggerClick(); }, 1, 0 },
        { "Beta, then OK",      [] (fenz::FirmwareSelectComponent& c, juce::DialogWindow&)
                                { c.comboBox.setSelectedId (2, juce::sendNotificationSync); c.okButton.triggerClick(); }, 1, 1 },
        { "Cancel",             [] (fenz::FirmwareSelectComponent& c, juce::DialogWindow&) { c.cancelButton.triggerClick(); }, 0, 0 },
        { "the window's close", [] (fenz::FirmwareSelectComponent&, juce::DialogWindow& d) { d.closeButtonPressed(); }, 0, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        fenz::FirmwareSelectComponent chooser (list);
        HideWatcher watcher;

        const auto result = runModal (chooser, "Firmware Version", [&] (juce::DialogWindow& dialog)
        {
            dialog.addComponentListener (&watcher);
            c.act (chooser, dialog);
        });

        EXPECT_EQ (result, c.result);
        EXPECT_EQ (watcher.hidden, c.result == 0);
        EXPECT_EQ (chooser.comboBox.getSelectedItemIndex(), c.index);

        if (result == 1)
        {
            EXPECT_EQ (chooser.firmwares.getChild (c.index)["name"].toString(), c.index == 0 ? "Alpha" : "Beta");
        }
    }
}

//==============================================================================
TEST_F (UpgraderChooserTest, PortChooserLaysOutTheBoxAcrossTheMiddleAndOkDirectlyLeftOfCancel)
{
    system.inputs = { "X" };
    fenz::DeviceSelectComponent chooser;
    expectLayout (chooser);
}

TEST_F (UpgraderChooserTest, VersionChooserLaysOutTheBoxAcrossTheMiddleAndOkDirectlyLeftOfCancel)
{
    fenz::FirmwareSelectComponent chooser (firmwareList ({ entry ({ { "name", "Alpha" } }) }));
    expectLayout (chooser);
}
