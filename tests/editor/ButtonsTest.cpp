#include <gtest/gtest.h>
#include <cstring>
#include <juce_gui_basics/juce_gui_basics.h>
#include "Buttons.h"
#include "UdMode.h"
#include "KestalFixture.h"
#include "ExpectedLabels.h"

namespace
{
    // One control widget per control id of the current map, each with the kind of its id.
    struct BoundControls : public KestalFixture
    {
        void bindAll()
        {
            controls.clear();
            const auto map = state().currentMap;

            for (int id = 1; id <= 108; ++id)
            {
                auto button = std::make_unique<MappableButton> ("new button");
                button->kindIndex = CtKind::kindOfId (id);
                button->setMapping (map.getControl (id));
                controls.push_back (std::move (button));
            }
        }

        MappableButton& control (int id) { return *controls[(size_t) id - 1]; }
        juce::ValueTree node (int id) { return state().currentMap.getControl (id); }

        std::vector<std::unique_ptr<MappableButton>> controls;
    };

    juce::MouseEvent mouseEventFor (juce::Component& target)
    {
        const auto now = juce::Time::getCurrentTime();
        return { juce::Desktop::getInstance().getMainMouseSource(), {}, {},
                 juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                 juce::MouseInputSource::defaultRotation, juce::MouseInputSource::defaultTiltX,
                 juce::MouseInputSource::defaultTiltY, &target, &target, now, {}, now, 1, false };
    }
}

//==============================================================================
TEST (MappableButton, StartsUnboundWithItsNameAsTextAndTheSelectionColours)
{
    MappableButton button ("pan3");

    EXPECT_EQ (button.getName(), "pan3");
    EXPECT_EQ (button.getButtonText(), "pan3");
    EXPECT_EQ (button.attachedLabel, nullptr);
    EXPECT_EQ (button.kindIndex, 0);
    EXPECT_EQ (button.controlId, -1);
    EXPECT_EQ (button.value.getValue(), juce::var (0));
    EXPECT_EQ (button.type.getValue(), juce::var (0));
    EXPECT_TRUE (button.chan.getValue().isVoid());

    EXPECT_EQ (button.findColour (juce::TextButton::buttonColourId), juce::Colour (0xff222222));
    EXPECT_EQ (button.findColour (juce::TextButton::buttonOnColourId), juce::Colour (0x804455a8));
    EXPECT_FALSE (button.getClickingTogglesState());
}

TEST (MappableButton, UnboundButtonHasNoLabelEvenWithoutTheMappingObject)
{
    MappableButton button ("new button");
    EXPECT_EQ (button.getLabelText(), "");
}

TEST (EditorWidgets, BoxesAndCommandButtonsStartNamelessAndEmpty)
{
    MapComboBox mapBox;
    ControlModeComboBox modeBox;
    CommandButton command;

    EXPECT_EQ (mapBox.getName(), "");
    EXPECT_TRUE (mapBox.itemValues.isEmpty());
    EXPECT_EQ (mapBox.getNumItems(), 0);
    EXPECT_EQ (modeBox.getName(), "");
    EXPECT_EQ (modeBox.getNumItems(), 0);
    EXPECT_EQ (command.getName(), "");
    EXPECT_EQ (command.getButtonText(), "");
}

//==============================================================================
// The label of every control in every live mode with the built-in assignment.
struct LabelsInMode : public BoundControls, public ::testing::WithParamInterface<int> {};

TEST_P (LabelsInMode, EveryControlShowsItsAssignment)
{
    const int mode = GetParam();
    state().setCurrentMode (mode);
    bindAll();

    for (int id = 1; id <= 108; ++id)
    {
        SCOPED_TRACE ("control " + std::to_string (id));
        EXPECT_EQ (control (id).getLabelText(), expected::labelOf (mode, id));
        EXPECT_EQ (control (id).getButtonText(), expected::labelOf (mode, id));
    }
}

INSTANTIATE_TEST_SUITE_P (AllLiveModes, LabelsInMode, ::testing::Values (0, 1, 2, 3));

// Texts the labels must read, taken straight from the documented examples.
struct LabelSpot
{
    int mode;
    int id;
    const char* label;
};

struct LabelSpots : public BoundControls, public ::testing::WithParamInterface<LabelSpot> {};

TEST_P (LabelSpots, ReadsTheDocumentedText)
{
    state().setCurrentMode (GetParam().mode);
    bindAll();
    EXPECT_EQ (control (GetParam().id).getLabelText(), GetParam().label);
}

INSTANTIATE_TEST_SUITE_P (Examples, LabelSpots, ::testing::Values (
    LabelSpot { 0, 1, " C(-1)" }, LabelSpot { 0, 91, "CC16" }, LabelSpot { 0, 99, "CC60" },
    LabelSpot { 0, 102, "PB.3" }, LabelSpot { 0, 108, "PB.9" },
    LabelSpot { 1, 1, "REC.1" }, LabelSpot { 1, 49, "Option" }, LabelSpot { 1, 91, "CC16" },
    LabelSpot { 1, 98, "CC23" }, LabelSpot { 1, 99, "CC60" }, LabelSpot { 1, 100, "PB.1" },
    LabelSpot { 1, 107, "PB.8" }, LabelSpot { 1, 108, "PB.9" },
    LabelSpot { 2, 1, "REC.1" }, LabelSpot { 2, 91, "Pan.1" }, LabelSpot { 2, 98, "Pan.8" },
    LabelSpot { 2, 99, "Tape Tspt?" }, LabelSpot { 2, 100, "Vol.1" }, LabelSpot { 2, 107, "Vol.8" },
    LabelSpot { 2, 108, "Vol.M?" },
    LabelSpot { 3, 1, " C(-1)" }, LabelSpot { 3, 91, "CC16" }, LabelSpot { 3, 108, "PB.9" }),
    [] (const ::testing::TestParamInfo<LabelSpot>& spot)
    {
        return "mode" + std::to_string (spot.param.mode) + "_control" + std::to_string (spot.param.id);
    });

//==============================================================================
TEST_F (BoundControls, HuiButtonFollowsItsStoredNumberButContinuousControlsDoNot)
{
    state().setCurrentMode (2);
    bindAll();

    EXPECT_EQ (control (1).getLabelText(), "REC.1");   // stored number 19

    control (1).value = 60;
    control (1).updateText();
    EXPECT_EQ (control (1).getButtonText(), "Flip");

    for (const int id : { 91, 99, 100, 108 })
    {
        const auto before = control (id).getLabelText();
        control (id).value = 60;
        control (id).updateText();
        EXPECT_EQ (control (id).getButtonText(), before) << "control " << id;
    }
}

TEST_F (BoundControls, PresetModesShowTheBuiltInNumberWhateverTheMapHolds)
{
    for (const int mode : { 0, 1 })
    {
        state().setCurrentMode (mode);
        bindAll();

        for (const int id : { 1, 49, 91, 99, 103 })
        {
            node (id).setProperty (Tags::value, 77, nullptr);
            node (id).setProperty (Tags::chan, 12, nullptr);
            control (id).updateText();
            EXPECT_EQ (control (id).getButtonText(), expected::labelOf (mode, id)) << "mode " << mode << " control " << id;
        }
    }
}

// In the user-defined mode the label follows the user-defined table, entry by entry.
struct UserEntry
{
    int id;
    uint8_t entry[3];
    const char* label;
};

struct UserDefinedLabels : public BoundControls, public ::testing::WithParamInterface<UserEntry> {};

TEST_P (UserDefinedLabels, FollowTheUserTable)
{
    const auto& c = GetParam();
    state().setCurrentMode (3);
    bindAll();

    std::memcpy (ud[c.id - 1], c.entry, 3);
    control (c.id).updateText();
    EXPECT_EQ (control (c.id).getButtonText(), c.label);
}

INSTANTIATE_TEST_SUITE_P (Entries, UserDefinedLabels, ::testing::Values (
    UserEntry { 5, { 0xC, 0xC0, 5 }, "PC5" },
    UserEntry { 91, { 0xE, 0xE3, 0 }, "PB.4" },
    UserEntry { 60, { 0xE, 0x0F, 99 }, "PB.16" },       // only the channel bits count
    UserEntry { 2, { 0xB, 0x00, 7 }, "CC7" },
    UserEntry { 100, { 0x9, 0x90, 64 }, " E(4)" },
    UserEntry { 30, { 0x9, 0x90, 127 }, " G(9)" },
    UserEntry { 10, { 0x0, 0x00, 3 }, "eMidiType" },
    UserEntry { 99, { 0x8, 0x80, 3 }, "eMidiType" },
    UserEntry { 3, { 0x9, 0x90, 128 }, "" },            // no note has that number
    UserEntry { 4, { 0x9, 0x90, 255 }, "" }),
    [] (const ::testing::TestParamInfo<UserEntry>& userEntry)
    {
        const auto& e = userEntry.param.entry;
        return "control" + std::to_string (userEntry.param.id) + "_"
             + juce::String::toHexString (e, 3, 0).toUpperCase().toStdString();
    });

//==============================================================================
TEST_F (BoundControls, HuiButtonWithANumberThatIsNoHuiItemHasNoLabel)
{
    state().setCurrentMode (2);
    bindAll();

    for (const int stored : { 0, 8, 17, 119, 127, 128, 1000, -1 })
    {
        control (1).value = stored;
        control (1).updateText();
        EXPECT_EQ (control (1).getButtonText(), "") << "stored number " << stored;
    }

    for (const int stored : { 18, 118 })
    {
        control (1).value = stored;
        control (1).updateText();
        EXPECT_EQ (control (1).getButtonText(), protoolsControlNames[stored]) << "stored number " << stored;
    }
}

TEST_F (BoundControls, ControlsWithoutANodeHaveNoLabelInAnyMode)
{
    MappableButton neverBound ("new button");
    MappableButton boundToNothing ("new button");
    boundToNothing.setMapping (juce::ValueTree());
    MappableButton boundTooFar ("new button");
    boundTooFar.setMapping (juce::ValueTree ("control").setProperty (Tags::id, 109, nullptr));

    for (int mode = 0; mode < 4; ++mode)
    {
        state().setCurrentMode (mode);
        EXPECT_EQ (neverBound.getLabelText(), "") << "mode " << mode;
        EXPECT_EQ (boundToNothing.controlId, 0);
        EXPECT_EQ (boundToNothing.getLabelText(), "") << "mode " << mode;
        EXPECT_EQ (boundTooFar.controlId, 109);
        EXPECT_EQ (boundTooFar.getLabelText(), "") << "mode " << mode;
    }
}

TEST_F (BoundControls, ModeWithoutATableGivesNoLabels)
{
    bindAll();
    state().currentMap.tree.setProperty (Tags::mode, "cubase", nullptr);   // mode 4

    for (int id = 1; id <= 108; ++id)
        EXPECT_EQ (control (id).getLabelText(), "") << "control " << id;
}

//==============================================================================
TEST_F (BoundControls, BoundValuesReadAndWriteTheNode)
{
    bindAll();
    auto& button = control (12);
    auto n = node (12);

    EXPECT_EQ (button.controlId, 12);
    EXPECT_EQ (button.value.getValue(), n[Tags::value]);
    EXPECT_EQ (button.type.getValue(), n[Tags::type]);
    EXPECT_EQ (button.chan.getValue(), n[Tags::chan]);

    button.value = 60;
    button.chan = 5;
    button.type = "cc";
    EXPECT_EQ ((int) n[Tags::value], 60);
    EXPECT_EQ ((int) n[Tags::chan], 5);
    EXPECT_EQ (n[Tags::type].toString(), "cc");

    n.setProperty (Tags::value, 33, nullptr);
    EXPECT_EQ ((int) button.value.getValue(), 33);
}

TEST_F (BoundControls, RebindingReplacesTheOldLinks)
{
    state().setCurrentMode (0);
    auto first = node (7);
    MappableButton button ("new button");
    button.setMapping (first);

    state().setCurrentMode (2);
    auto second = node (7);
    button.setMapping (second);

    EXPECT_EQ ((int) button.value.getValue(), 25);   // HUI's stored number of control 7
    EXPECT_EQ (button.getButtonText(), "REC.7");

    const auto firstValue = first[Tags::value];
    button.value = 60;
    EXPECT_EQ ((int) second[Tags::value], 60);
    EXPECT_EQ (first[Tags::value], firstValue);
}

TEST_F (BoundControls, AttachedCaptionGetsTheTextAndTheButtonKeepsItsOwn)
{
    juce::Label caption ("new label", "Pan. 1");
    MappableButton knob ("pan1");
    knob.setButtonText ("");
    knob.attachedLabel = &caption;
    knob.kindIndex = 1;
    knob.setMapping (node (91));

    EXPECT_EQ (caption.getText(), "CC16");
    EXPECT_EQ (knob.getButtonText(), "");
}

//==============================================================================
TEST_F (BoundControls, TooltipShowsTheLabelOnlyOverTheSelectedControl)
{
    bindAll();
    auto& button = control (1);
    const auto event = mouseEventFor (button);

    button.mouseEnter (event);
    EXPECT_EQ (button.getTooltip(), "");

    button.setToggleState (true, juce::dontSendNotification);
    button.mouseEnter (event);
    EXPECT_EQ (button.getTooltip(), " C(-1)");

    button.mouseExit (event);
    EXPECT_EQ (button.getTooltip(), "");

    button.setTooltip ("stale");
    button.setToggleState (false, juce::dontSendNotification);
    button.mouseExit (event);
    EXPECT_EQ (button.getTooltip(), "");
}
