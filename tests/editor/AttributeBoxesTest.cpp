#include <gtest/gtest.h>
#include <cstring>
#include <juce_gui_basics/juce_gui_basics.h>
#include "EditorTestSupport.h"
#include "ExpectedDefaults.h"
#include "ExpectedLabels.h"
#include "Arrays.h"
#include "UdMode.h"

// The mode box and the three attribute boxes of the editor content: what they show for the
// selected control in every mode, and what a change in them does to the map, the user-defined
// table, the control labels and the bytes a transfer sends.
namespace
{
    using testsupport::pump;
    using SurfaceControl = fenz::VirtualSurface::ControlAssignment;

    //==============================================================================
    // Expected box contents, worked out from the naming rules and the name tables.

    bool isButton (int id)  { return id <= 90; }

    // A note's name: the pitch class (naturals with a leading blank) and the octave.
    juce::String noteName (int n)
    {
        static const char* const classes[] = { " C", "C#", " D", "D#", " E", " F", "F#", " G", "G#", " A", "A#", " B" };
        return juce::String (classes[n % 12]) + "(" + juce::String (n / 12 - 1) + ")";
    }

    // The workstation function a button's note triggers in a mode.
    juce::String functionName (int mode, int note)
    {
        switch (mode)
        {
            case 1:  return logicNotes[note];
            case 3:  return nuendoNotes[note];
            default: return cubaseNotes[note];
        }
    }

    // The HUI items a control of this id may be given, in the order the box offers them.
    std::vector<int> huiItems (int id)
    {
        std::vector<int> items;

        if (isButton (id))       for (int h = 18; h <= 107; ++h) items.push_back (h);
        else if (id <= 98)       for (int h = 9; h <= 16; ++h)   items.push_back (h);
        else if (id == 99)       items = { 17 };
        else if (id <= 107)      { for (int h = 0; h <= 7; ++h) items.push_back (h);
                                   for (int h = 9; h <= 16; ++h) items.push_back (h); }
        else                     items = { 8, 17 };

        return items;
    }

    struct Item
    {
        juce::String text;
        int id;
        int value;
    };

    // The message box's items for a control of the given message type ("note", "cc",
    // "program", "pitch") in a mode.
    std::vector<Item> messageItems (int mode, int id, const juce::String& type)
    {
        std::vector<Item> items;

        if (mode == 2)
        {
            for (int h : huiItems (id))
                items.push_back ({ protoolsControlNames[h], (int) items.size() + 1, h });

            return items;
        }

        for (int w = 0; w < 128; ++w)
        {
            juce::String name = type == "note" ? noteName (w)
                              : type == "cc"   ? juce::String (CC[w])
                                               : juce::String();

            if (isButton (id))
                name += "  " + functionName (mode, w);

            items.push_back ({ juce::String (w) + ") " + name, w + 1, w });
        }

        return items;
    }

    juce::StringArray typeTexts (int id)
    {
        return isButton (id) ? juce::StringArray { "1) Note", "2) CC", "3) Program" }
                             : juce::StringArray { "1) CC", "2) Pitch" };
    }

    int typeIndex (int id, const juce::String& type)
    {
        const auto texts = isButton (id) ? juce::StringArray { "note", "cc", "program" }
                                         : juce::StringArray { "cc", "pitch" };
        return texts.indexOf (type);
    }

    // Which message item a control's number selects: in HUI mode a button's stored item (if the
    // box offers it) and nothing for the others; elsewhere the table's data byte.
    int messageIndex (int mode, int id, int number)
    {
        if (mode != 2)
            return number;

        const auto items = huiItems (id);
        const auto found = std::find (items.begin(), items.end(), number);
        return isButton (id) && found != items.end() ? (int) (found - items.begin()) : -1;
    }

    ::testing::AssertionResult hasItems (const MapComboBox& box, const std::vector<Item>& items, bool withValues)
    {
        if (box.getNumItems() != (int) items.size())
            return ::testing::AssertionFailure() << box.getNumItems() << " items instead of " << items.size();

        if (box.itemValues.size() != (withValues ? (int) items.size() : 0))
            return ::testing::AssertionFailure() << box.itemValues.size() << " item values";

        for (int i = 0; i < (int) items.size(); ++i)
        {
            if (box.getItemText (i) != items[(size_t) i].text)
                return ::testing::AssertionFailure() << "item " << i << " reads \"" << box.getItemText (i)
                                                     << "\" instead of \"" << items[(size_t) i].text << "\"";

            if (box.getItemId (i) != items[(size_t) i].id)
                return ::testing::AssertionFailure() << "item " << i << " has id " << box.getItemId (i);

            if (withValues && box.itemValues[i] != items[(size_t) i].value)
                return ::testing::AssertionFailure() << "item " << i << " has value " << box.itemValues[i];
        }

        return ::testing::AssertionSuccess();
    }

    std::vector<Item> channelItems()
    {
        std::vector<Item> items;
        for (int c = 1; c <= 16; ++c)
            items.push_back ({ juce::String (c), c, 0 });
        return items;
    }

    std::vector<Item> typeItems (int id)
    {
        std::vector<Item> items;
        for (const auto& text : typeTexts (id))
            items.push_back ({ text, (int) items.size() + 1, 0 });
        return items;
    }

    // What a control's text reads on screen: its caption when it has one, else its own text.
    juce::String shownText (const MappableButton& control)
    {
        return control.attachedLabel != nullptr ? control.attachedLabel->getText() : control.getButtonText();
    }

    // Everything a box shows, to tell whether something touched it.
    struct BoxState
    {
        juce::StringArray texts;
        juce::Array<int> ids, values;
        int selected;
        bool enabled;

        bool operator== (const BoxState& o) const
        {
            return texts == o.texts && ids == o.ids && values == o.values && selected == o.selected && enabled == o.enabled;
        }
    };

    BoxState stateOf (const MapComboBox& box)
    {
        BoxState s { {}, {}, box.itemValues, box.getSelectedItemIndex(), box.isEnabled() };
        for (int i = 0; i < box.getNumItems(); ++i)
        {
            s.texts.add (box.getItemText (i));
            s.ids.add (box.getItemId (i));
        }
        return s;
    }

    std::ostream& operator<< (std::ostream& os, const BoxState& s)
    {
        return os << s.texts.size() << " items, selected " << s.selected << (s.enabled ? ", enabled" : ", disabled");
    }

    bool sameTable (const DefaultTable& a, const DefaultTable& b)  { return std::memcmp (a, b, sizeof (DefaultTable)) == 0; }

    std::array<int, 3> entryOf (const DefaultTable& t, int id)  { return { t[id - 1][0], t[id - 1][1], t[id - 1][2] }; }

    // What the surface should hold for a control with its built-in assignment.
    SurfaceControl defaultWire (int id)
    {
        const auto a = expected::mcpDefault (id);
        return { a.type == "note" ? 0 : a.type == "cc" ? 2 : 1, a.chan, a.value };
    }

    //==============================================================================
    enum class Box { type, channel, number };

    // One user change: the item chosen in one of the three attribute boxes.
    struct Step
    {
        Box box;
        int itemId;
    };

    struct AttributeBoxes : public testsupport::EditorFixture
    {
        // The content, built while the given mode is current.
        ContentComponent& openInMode (int mode)
        {
            state().setCurrentMode (mode);
            return makeContent();
        }

        MappableButton& select (int id)
        {
            auto* c = control (id);
            EXPECT_NE (c, nullptr) << "no control with id " << id;
            click (*c);
            return *c;
        }

        MapComboBox& boxOf (Box b)
        {
            return b == Box::type ? content->msgTypeBox : b == Box::channel ? content->channelBox : content->messageBox;
        }

        // A user's choice in a box: the listener runs at once, before anything else happens.
        void choose (juce::ComboBox& box, int itemId)
        {
            ASSERT_GE (box.indexOfItemId (itemId), 0) << "the box has no item " << itemId;
            box.setSelectedId (itemId, juce::sendNotificationSync);
        }

        void apply (const std::vector<Step>& steps)
        {
            for (const auto& s : steps)
                choose (boxOf (s.box), s.itemId);
        }

        void chooseMode (int mode)  { choose (content->modeBox, mode + 1); }

        // The boxes show a control whose table entry has this type and channel and whose
        // number (the table's data byte, or in HUI mode the stored item) is this.
        void expectBoxesShow (int mode, int id, const expected::Assignment& a)
        {
            SCOPED_TRACE ("mode " + std::to_string (mode) + ", control " + std::to_string (id));
            const bool editable = mode == 3;
            auto& c = *content;

            EXPECT_TRUE (hasItems (c.channelBox, channelItems(), false));
            EXPECT_EQ (c.channelBox.getSelectedItemIndex(), mode == 2 ? -1 : a.chan - 1);
            EXPECT_EQ (c.channelBox.isEnabled(), editable);

            EXPECT_TRUE (hasItems (c.msgTypeBox, typeItems (id), false));
            EXPECT_EQ (c.msgTypeBox.getSelectedItemIndex(), mode == 2 ? -1 : typeIndex (id, a.type));
            EXPECT_EQ (c.msgTypeBox.isEnabled(), editable);

            EXPECT_TRUE (hasItems (c.messageBox, messageItems (mode, id, a.type), true));
            EXPECT_EQ (c.messageBox.getSelectedItemIndex(), messageIndex (mode, id, a.value));
            EXPECT_EQ (c.messageBox.isEnabled(), editable);

            EXPECT_EQ (c.messageLabel.getText(), mode == 1 || mode == 2 ? "Function" : "Message");
        }

        // Everything an attribute change could reach: the maps, both writable tables, the
        // current mode and every control's text.
        struct Model
        {
            juce::String modes;
            DefaultTable user, mcp;
            int mode;
            juce::StringArray texts;
        };

        Model snapshot()
        {
            Model m;
            m.modes = state().modes.toXmlString();
            std::memcpy (m.user, ud, sizeof (ud));
            std::memcpy (m.mcp, cb, sizeof (cb));
            m.mode = kestal->getCurrCtMode();
            for (int id = 1; id <= 108; ++id)
                m.texts.add (shownText (*control (id)));
            return m;
        }

        void expectUnchanged (const Model& before)
        {
            const auto now = snapshot();
            EXPECT_EQ (now.modes, before.modes);
            EXPECT_TRUE (sameTable (now.user, before.user));
            EXPECT_TRUE (sameTable (now.mcp, before.mcp));
            EXPECT_EQ (now.mode, before.mode);
            EXPECT_EQ (now.texts, before.texts);
        }

        void expectEveryLabelOfMode (int mode)
        {
            for (int id = 1; id <= 108; ++id)
                EXPECT_EQ (shownText (*control (id)), expected::labelOf (mode, id)) << "control " << id;
        }
    };

    // The same, with a simulated main unit on the MIDI ports before the content picks one.
    struct AttributeBoxesWithSurface : public AttributeBoxes
    {
        AttributeBoxesWithSurface()  { surface.install(); }

        // Send Data, as the user presses it; the surface's user-defined assignment afterwards.
        fenz::VirtualSurface::Assignment sendUserDefined()
        {
            const auto alertsBefore = lookAndFeel.alerts.size();
            click (content->sendDataButton);
            pump (100);

            EXPECT_EQ (lookAndFeel.alerts.size(), alertsBefore + 1);
            if (lookAndFeel.alerts.size() > alertsBefore)
            {
                EXPECT_EQ (lookAndFeel.alerts.back().title, "Send Mapping");
                EXPECT_EQ (lookAndFeel.alerts.back().message, "Done!");
            }

            const auto assignment = surface.getAssignment (3);
            EXPECT_TRUE (assignment.has_value()) << surface.getNotes().joinIntoString ("\n");
            return assignment.value_or (fenz::VirtualSurface::Assignment {});
        }

        fenz::VirtualSurface surface { fenz::VirtualSurface::Model::tamrel };
    };

    juce::String modeCaseName (int mode)
    {
        static const char* const names[] = { "Mcp", "Logic", "Hui", "UserDefined" };
        return names[mode];
    }
}

namespace fenz
{
    static void PrintTo (const VirtualSurface::ControlAssignment& c, std::ostream* os)
    {
        *os << "{type " << c.type << ", channel " << c.channel << ", number " << c.number << "}";
    }
}

//==============================================================================
// What the boxes show for one control in one mode with the built-in assignment.

struct ShownCase
{
    int mode;
    int id;
};

static void PrintTo (const ShownCase& c, std::ostream* os)  { *os << "mode " << c.mode << ", control " << c.id; }

struct BoxesShowTheSelectedControl : public AttributeBoxes, public ::testing::WithParamInterface<ShownCase> {};

TEST_P (BoxesShowTheSelectedControl, InItsMode)
{
    const auto [mode, id] = GetParam();
    openInMode (mode);

    auto& c = select (id);

    EXPECT_TRUE (c.getToggleState());
    EXPECT_EQ (content->findSelectedControl(), &c);
    expectBoxesShow (mode, id, expected::expectedDefault (mode, id));
    EXPECT_EQ (shownText (c), expected::labelOf (mode, id));
    EXPECT_EQ (c.getTooltip(), expected::labelOf (mode, id));
}

// A strip button, a control-section button whose entry carries another status nibble (49), the
// HUI button whose stored item the box does not offer (89), a knob, the jog wheel, a fader and
// the master fader, in each of the four modes.
INSTANTIATE_TEST_SUITE_P (EveryModeEveryKind, BoxesShowTheSelectedControl,
    ::testing::ValuesIn ([] {
        std::vector<ShownCase> cases;
        for (int mode = 0; mode < 4; ++mode)
            for (int id : { 1, 49, 89, 91, 99, 100, 108 })
                cases.push_back ({ mode, id });
        return cases;
    }()),
    [] (const auto& p) { return (modeCaseName (p.param.mode) + "_control" + juce::String (p.param.id)).toStdString(); });

//==============================================================================
// Item texts checked letter by letter against the names the editor is meant to show.

struct SpotCase
{
    const char* name;
    int mode;
    int id;
    int typeItem;                                     // a type chosen first, 0 for none
    int numItems;
    std::vector<std::pair<int, const char*>> texts;   // item index and its text
    int selected;                                     // message item selected, -1 for none
};

static void PrintTo (const SpotCase& c, std::ostream* os)  { *os << c.name; }

struct MessageItemTexts : public AttributeBoxes, public ::testing::WithParamInterface<SpotCase> {};

TEST_P (MessageItemTexts, ReadAsNamed)
{
    const auto& p = GetParam();
    openInMode (p.mode);
    select (p.id);

    if (p.typeItem != 0)
        choose (content->msgTypeBox, p.typeItem);

    const auto& box = content->messageBox;
    ASSERT_EQ (box.getNumItems(), p.numItems);

    for (const auto& [index, text] : p.texts)
        EXPECT_EQ (box.getItemText (index), text) << "item " << index;

    EXPECT_EQ (box.getSelectedItemIndex(), p.selected);
}

INSTANTIATE_TEST_SUITE_P (Names, MessageItemTexts, ::testing::Values (
    SpotCase { "McpButton", 0, 1, 0, 128, { { 0, "0)  C(-1)  REC.1" }, { 1, "1) C#(-1)  REC.2" }, { 127, "127)  G(9)  " } }, 0 },
    SpotCase { "LogicButton", 1, 1, 0, 128, { { 40, "40)  E(2)  Track" }, { 102, "102) F#(7)  User B" } }, 0 },
    SpotCase { "LogicButtonOfItsOwnNumber", 1, 49, 0, 128, { { 71, "71)  B(4)  Option" } }, 71 },
    SpotCase { "UserDefinedKnob", 3, 91, 0, 128, { { 0, "0) Bank MSB*(GS)" }, { 16, "16) Gp Control #1" },
                                                   { 121, "121) Reset All Contorllers(GM)" }, { 127, "127) Poly Mode On" } }, 16 },
    SpotCase { "UserDefinedKnobAsPitchBend", 3, 91, 2, 128, { { 0, "0) " }, { 16, "16) " }, { 127, "127) " } }, 16 },
    SpotCase { "UserDefinedButtonAsControlChange", 3, 1, 2, 128, { { 0, "0) Bank MSB*(GS)  REC.1" }, { 65, "65) Portamento(Gs)  " },
                                                                 { 76, "76) Sound Control #7  Sends" } }, 0 },
    SpotCase { "UserDefinedButtonAsProgramChange", 3, 1, 3, 128, { { 0, "0)   REC.1" }, { 112, "112)   Touch.M" } }, 0 },
    SpotCase { "HuiFader", 2, 100, 0, 16, { { 0, "Vol.1" }, { 1, "Vol.2" }, { 2, "Vol.3" }, { 3, "Vol.4" }, { 4, "Vol.5" },
                                            { 5, "Vol.6" }, { 6, "Vol.7" }, { 7, "Vol.8" }, { 8, "Pan.1" }, { 9, "Pan.2" },
                                            { 10, "Pan.3" }, { 11, "Pan.4" }, { 12, "Pan.5" }, { 13, "Pan.6" },
                                            { 14, "Pan.7" }, { 15, "Pan.8" } }, -1 },
    SpotCase { "HuiMasterFader", 2, 108, 0, 2, { { 0, "Vol.M?" }, { 1, "Tape Tspt?" } }, -1 },
    SpotCase { "HuiJogWheel", 2, 99, 0, 1, { { 0, "Tape Tspt?" } }, -1 },
    SpotCase { "HuiStripButton", 2, 1, 0, 90, { { 0, "(nil)" }, { 1, "REC.1" }, { 89, "Down?" } }, 1 },
    SpotCase { "HuiControlSectionButton", 2, 88, 0, 90, { { 88, "Zoom?" } }, 88 },
    SpotCase { "HuiButtonWhoseItemIsNotOffered", 2, 89, 0, 90, { { 89, "Down?" } }, -1 }),
    [] (const auto& p) { return std::string (p.param.name); });

//==============================================================================
// The built-in number in modes 0 and 1, and the loaded one in HUI and user-defined mode.

struct LoadedNumberCase
{
    int mode;
    int id;
    int fileValue;       // the number the loaded file gives the control
    int selected;        // the message item then selected
    const char* label;
};

static void PrintTo (const LoadedNumberCase& c, std::ostream* os)  { *os << "mode " << c.mode << ", control " << c.id; }

struct LoadedNumbers : public AttributeBoxes, public ::testing::WithParamInterface<LoadedNumberCase> {};

TEST_P (LoadedNumbers, SelectTheNumberTheModeTakesFromItsTable)
{
    const auto p = GetParam();
    openInMode (p.mode);
    auto& c = select (p.id);

    auto map = state().findMode (p.mode).createCopy();
    CtMap (map).getControl (p.id).setProperty (Tags::value, p.fileValue, nullptr);

    juce::TemporaryFile file (".pelto");
    ASSERT_TRUE (map.createXml()->writeTo (file.getFile()));
    content->browseForMappingFile = [&] (bool) { return file.getFile(); };

    click (content->loadFileButton);

    EXPECT_TRUE (lookAndFeel.alerts.empty());
    EXPECT_EQ ((int) CtMap (state().currentMap).getControl (p.id)[Tags::value], p.fileValue);
    EXPECT_EQ (content->messageBox.getSelectedItemIndex(), p.selected);
    EXPECT_EQ (shownText (c), p.label);
    EXPECT_TRUE (c.getToggleState());
}

INSTANTIATE_TEST_SUITE_P (EveryMode, LoadedNumbers, ::testing::Values (
    LoadedNumberCase { 0, 1, 77, 0, " C(-1)" },
    LoadedNumberCase { 1, 49, 20, 71, "Option" },
    LoadedNumberCase { 2, 1, 60, 42, "Flip" },
    LoadedNumberCase { 3, 1, 77, 77, " F(5)" }),
    [] (const auto& p) { return modeCaseName (p.param.mode).toStdString(); });

//==============================================================================
// User-defined edits, followed from the boxes to the bytes the surface receives.

struct EditCase
{
    const char* name;
    int id;
    std::vector<Step> steps;
    juce::String type;               // the node's type afterwards
    int chan, value;                 // the node's channel and number afterwards
    std::array<int, 3> entry;        // the user-defined table's entry afterwards
    juce::String label;
    SurfaceControl wire;             // what the surface holds for the control after Send Data
};

static void PrintTo (const EditCase& c, std::ostream* os)  { *os << c.name; }

struct UserDefinedEdits : public AttributeBoxesWithSurface, public ::testing::WithParamInterface<EditCase> {};

TEST_P (UserDefinedEdits, ReachTheMapTheTableTheLabelAndTheSurface)
{
    const auto& p = GetParam();
    openInMode (3);
    auto& c = select (p.id);

    DefaultTable userBefore;
    std::memcpy (userBefore, ud, sizeof (ud));

    apply (p.steps);

    // The node.
    const auto node = state().currentMap.getControl (p.id);
    EXPECT_EQ (node[Tags::type].toString(), p.type);
    EXPECT_EQ ((int) node[Tags::chan], p.chan);
    EXPECT_EQ ((int) node[Tags::value], p.value);

    // The table: this entry only.
    EXPECT_EQ (entryOf (ud, p.id), p.entry);
    for (int id = 1; id <= 108; ++id)
    {
        if (id != p.id)
        {
            EXPECT_EQ (entryOf (ud, id), entryOf (userBefore, id)) << "control " << id;
        }
    }

    // The label, and what the boxes show now.
    EXPECT_EQ (c.getLabelText(), p.label);
    EXPECT_EQ (shownText (c), p.label);
    EXPECT_EQ (content->msgTypeBox.getSelectedItemIndex(), typeIndex (p.id, p.type));
    EXPECT_EQ (content->channelBox.getSelectedItemIndex(), p.chan - 1);
    EXPECT_TRUE (hasItems (content->messageBox, messageItems (3, p.id, p.type), true));
    EXPECT_EQ (content->messageBox.getSelectedItemIndex(), p.value);

    // The next transfer.
    const auto wires = sendUserDefined();
    EXPECT_EQ (wires[(size_t) p.id - 1], p.wire);
    for (int id = 1; id <= 108; ++id)
    {
        if (id != p.id)
        {
            EXPECT_EQ (wires[(size_t) id - 1], defaultWire (id)) << "control " << id;
        }
    }
}

INSTANTIATE_TEST_SUITE_P (Edits, UserDefinedEdits, ::testing::Values (
    // Buttons start as notes on channel 1 (entry 09 90 nn).
    EditCase { "ButtonToProgramChangeFive", 5, { { Box::type, 3 }, { Box::number, 6 } },
               "program", 1, 5, { 0x0C, 0xC0, 5 }, "PC5", { 3, 1, 5 } },
    EditCase { "ButtonToControlChange", 1, { { Box::type, 2 } },
               "cc", 1, 0, { 0x0B, 0xB0, 0 }, "CC0", { 2, 1, 0 } },
    EditCase { "ButtonChannel", 10, { { Box::channel, 5 } },
               "note", 5, 9, { 0x09, 0x94, 9 }, " A(-1)", { 0, 5, 9 } },
    EditCase { "ButtonNumber", 20, { { Box::number, 101 } },
               "note", 1, 100, { 0x09, 0x90, 100 }, " E(7)", { 0, 1, 100 } },
    EditCase { "ButtonTypeKeepsTheChannel", 30, { { Box::channel, 12 }, { Box::type, 2 } },
               "cc", 12, 29, { 0x0B, 0xBB, 29 }, "CC29", { 2, 12, 29 } },
    EditCase { "ProgramChangeBackToNote", 7, { { Box::type, 3 }, { Box::type, 1 } },
               "note", 1, 6, { 0x09, 0x90, 6 }, "F#(-1)", { 0, 1, 6 } },
    // Entry 09 B0 00: the channel goes into the low nibble, the status nibble stays.
    EditCase { "ButtonChannelKeepsTheStatusNibble", 41, { { Box::channel, 3 } },
               "note", 3, 0, { 0x09, 0xB2, 0 }, " C(-1)", { 0, 3, 0 } },
    // Knobs start as control changes 16 to 23 on channel 1 (0B B0 nn).
    EditCase { "KnobToPitchBend", 91, { { Box::type, 2 } },
               "pitch", 1, 16, { 0x0E, 0xE0, 16 }, "PB.1", { 1, 1, 16 } },
    EditCase { "KnobToPitchBendOnChannelFour", 94, { { Box::type, 2 }, { Box::channel, 4 } },
               "pitch", 4, 19, { 0x0E, 0xE3, 19 }, "PB.4", { 1, 4, 19 } },
    EditCase { "KnobNumber", 98, { { Box::number, 101 } },
               "cc", 1, 100, { 0x0B, 0xB0, 100 }, "CC100", { 2, 1, 100 } },
    EditCase { "JogWheelChannelAndNumber", 99, { { Box::channel, 2 }, { Box::number, 65 } },
               "cc", 2, 64, { 0x0B, 0xB1, 64 }, "CC64", { 2, 2, 64 } },
    // Faders start as pitch bend on their strip's channel (0E En 00); a fader's control change
    // goes out with the note code, the only other code a fader takes.
    EditCase { "FaderToControlChange", 100, { { Box::type, 1 }, { Box::number, 8 } },
               "cc", 1, 7, { 0x0B, 0xB0, 7 }, "CC7", { 0, 1, 7 } },
    EditCase { "FaderBackToPitchBendKeepsItsChannel", 103, { { Box::type, 1 }, { Box::type, 2 } },
               "pitch", 4, 0, { 0x0E, 0xE3, 0 }, "PB.4", { 1, 4, 0 } },
    EditCase { "MasterFaderChannelSixteen", 108, { { Box::channel, 16 } },
               "pitch", 16, 0, { 0x0E, 0xEF, 0 }, "PB.16", { 1, 16, 0 } }),
    [] (const auto& p) { return std::string (p.param.name); });

//==============================================================================
// In the preset modes the boxes are disabled; a change that reaches them all the same writes the
// node, never a table.

struct PresetModeChange : public AttributeBoxes, public ::testing::WithParamInterface<int> {};

TEST_P (PresetModeChange, WritesOnlyTheNode)
{
    const int mode = GetParam();
    openInMode (mode);
    auto& c = select (1);

    DefaultTable userBefore, mcpBefore;
    std::memcpy (userBefore, ud, sizeof (ud));
    std::memcpy (mcpBefore, cb, sizeof (cb));

    apply ({ { Box::channel, 5 }, { Box::type, 2 }, { Box::number, 10 } });

    // The tenth item is the number 9, or in HUI mode the tenth item a button is offered (27).
    const auto node = state().currentMap.getControl (1);
    EXPECT_EQ ((int) node[Tags::chan], 5);
    EXPECT_EQ (node[Tags::type].toString(), "cc");
    EXPECT_EQ ((int) node[Tags::value], mode == 2 ? 27 : 9);

    EXPECT_TRUE (sameTable (ud, userBefore));
    EXPECT_TRUE (sameTable (cb, mcpBefore));

    // The label follows the table, or in HUI mode the stored item.
    static const char* const labels[] = { " C(-1)", "REC.1", "SOLO.1" };
    EXPECT_EQ (shownText (c), labels[mode]);
}

INSTANTIATE_TEST_SUITE_P (Modes, PresetModeChange, ::testing::Values (0, 1, 2),
                          [] (const auto& p) { return modeCaseName (p.param).toStdString(); });

//==============================================================================
// A change in a box while no control is selected.

struct UnselectedChange : public AttributeBoxes, public ::testing::WithParamInterface<Step> {};

TEST_P (UnselectedChange, ChangesNothingButTheBox)
{
    const auto step = GetParam();
    openInMode (3);
    select (1);
    content->clearToggleStates();
    ASSERT_EQ (content->findSelectedControl(), nullptr);

    const auto before = snapshot();
    const auto typeBefore = stateOf (content->msgTypeBox), channelBefore = stateOf (content->channelBox),
               messageBefore = stateOf (content->messageBox);

    apply ({ step });

    expectUnchanged (before);
    EXPECT_EQ (boxOf (step.box).getSelectedId(), step.itemId);

    auto withoutSelection = [] (BoxState s) { s.selected = 0; return s; };

    const std::pair<Box, BoxState> boxes[] = { { Box::type, typeBefore }, { Box::channel, channelBefore },
                                               { Box::number, messageBefore } };

    for (const auto& [b, was] : boxes)
    {
        const auto now = stateOf (boxOf (b));
        if (b == step.box)
        {
            EXPECT_EQ (withoutSelection (now), withoutSelection (was));
        }
        else
        {
            EXPECT_EQ (now, was);
        }
    }
}

INSTANTIATE_TEST_SUITE_P (EachBox, UnselectedChange,
    ::testing::Values (Step { Box::type, 2 }, Step { Box::channel, 7 }, Step { Box::number, 50 }),
    [] (const auto& p) { return p.param.box == Box::type ? "type" : p.param.box == Box::channel ? "channel" : "number"; });

//==============================================================================
TEST_F (AttributeBoxes, TypeChangeRebuildsOnlyTheMessageBox)
{
    openInMode (3);
    select (1);
    choose (content->messageBox, 61);   // note 60

    // Marks that a rebuild of the type or channel box would wipe out.
    content->msgTypeBox.addItem ("mark", 50);
    content->channelBox.addItem ("mark", 50);
    content->channelBox.setSelectedId (9, juce::dontSendNotification);

    choose (content->msgTypeBox, 2);

    EXPECT_EQ (content->msgTypeBox.getNumItems(), 4);
    EXPECT_EQ (content->channelBox.getNumItems(), 17);
    EXPECT_EQ (content->channelBox.getSelectedId(), 9);

    EXPECT_TRUE (hasItems (content->messageBox, messageItems (3, 1, "cc"), true));
    EXPECT_EQ (content->messageBox.getSelectedItemIndex(), 60);
    EXPECT_EQ (content->messageBox.getText(), "60) --  F7");
}

//==============================================================================
// The mode box.

struct ModeChangeCase
{
    int from, to, id;
};

static void PrintTo (const ModeChangeCase& c, std::ostream* os)  { *os << c.from << " to " << c.to << ", control " << c.id; }

struct ModeBoxChange : public AttributeBoxes, public ::testing::WithParamInterface<ModeChangeCase> {};

TEST_P (ModeBoxChange, SwitchesTheMapKeepsTheSelectionAndRefreshes)
{
    const auto p = GetParam();
    openInMode (p.from);
    auto& c = select (p.id);

    chooseMode (p.to);

    EXPECT_EQ ((int) kestal->getCurrCtMode(), p.to);
    EXPECT_EQ (state().currentMap.tree, state().findMode (p.to));
    EXPECT_EQ (content->modeBox.getSelectedItemIndex(), p.to);

    EXPECT_EQ (content->findSelectedControl(), &c);
    for (int id = 1; id <= 108; ++id)
        EXPECT_EQ (control (id)->getToggleState(), id == p.id) << "control " << id;

    expectEveryLabelOfMode (p.to);
    expectBoxesShow (p.to, p.id, expected::expectedDefault (p.to, p.id));
}

INSTANTIATE_TEST_SUITE_P (Modes, ModeBoxChange, ::testing::Values (
    ModeChangeCase { 0, 1, 49 }, ModeChangeCase { 0, 2, 100 }, ModeChangeCase { 0, 3, 91 },
    ModeChangeCase { 2, 0, 89 }, ModeChangeCase { 3, 1, 108 }, ModeChangeCase { 1, 2, 1 }),
    [] (const auto& p) { return modeCaseName (p.param.from).toStdString() + "To" + modeCaseName (p.param.to).toStdString()
                                + "_control" + std::to_string (p.param.id); });

TEST_F (AttributeBoxes, EachModeKeepsItsOwnEdits)
{
    openInMode (3);
    auto& c = select (1);
    apply ({ { Box::type, 2 }, { Box::channel, 5 }, { Box::number, 8 } });
    ASSERT_EQ (shownText (c), "CC7");

    chooseMode (0);

    expectBoxesShow (0, 1, expected::mcpDefault (1));
    EXPECT_EQ (shownText (c), " C(-1)");
    const auto mcpNode = CtMap (state().findMode (0)).getControl (1);
    EXPECT_EQ (mcpNode[Tags::type].toString(), "note");
    EXPECT_EQ ((int) mcpNode[Tags::chan], 1);
    EXPECT_EQ ((int) mcpNode[Tags::value], 0);

    chooseMode (3);

    expectBoxesShow (3, 1, { "cc", 5, 7 });
    EXPECT_EQ (shownText (c), "CC7");
    EXPECT_EQ (entryOf (ud, 1), (std::array<int, 3> { 0x0B, 0xB4, 7 }));
    const auto userNode = state().currentMap.getControl (1);
    EXPECT_EQ (userNode[Tags::type].toString(), "cc");
    EXPECT_EQ ((int) userNode[Tags::chan], 5);
    EXPECT_EQ ((int) userNode[Tags::value], 7);
}

TEST_F (AttributeBoxes, ModeChangeBeforeAnySelectionLeavesTheBoxesEmpty)
{
    makeContent();
    EXPECT_EQ (content->modeBox.getSelectedItemIndex(), 0);

    chooseMode (2);

    EXPECT_EQ ((int) kestal->getCurrCtMode(), 2);
    expectEveryLabelOfMode (2);

    for (auto* box : { &content->messageBox, &content->msgTypeBox, &content->channelBox })
    {
        EXPECT_EQ (box->getNumItems(), 0);
        EXPECT_TRUE (box->itemValues.isEmpty());
        EXPECT_TRUE (box->isEnabled());
    }

    EXPECT_EQ (content->messageLabel.getText(), "Message");
}

TEST_F (AttributeBoxes, ModeChangeWithoutASelectedControlLeavesTheBoxesAsTheyWere)
{
    makeContent();
    select (49);
    content->clearToggleStates();

    const auto type = stateOf (content->msgTypeBox), channel = stateOf (content->channelBox),
               message = stateOf (content->messageBox);

    chooseMode (1);

    EXPECT_EQ ((int) kestal->getCurrCtMode(), 1);
    expectEveryLabelOfMode (1);

    EXPECT_EQ (stateOf (content->msgTypeBox), type);
    EXPECT_EQ (stateOf (content->channelBox), channel);
    EXPECT_EQ (stateOf (content->messageBox), message);
    EXPECT_EQ (content->messageLabel.getText(), "Message");
}

//==============================================================================
// Saving, resetting and loading a user-defined mapping.

TEST_F (AttributeBoxesWithSurface, UserDefinedEditsSurviveSaveResetAndLoad)
{
    makeContent();
    chooseMode (3);

    struct Edit
    {
        int id;
        std::vector<Step> steps;
        juce::String type;
        int chan, value;
        std::array<int, 3> entry;
        juce::String label;
        SurfaceControl wire;
    };

    const Edit edits[] = {
        { 5,   { { Box::type, 3 }, { Box::number, 6 } },    "program", 1, 5,   { 0x0C, 0xC0, 5 },   "PC5",    { 3, 1, 5 } },
        { 92,  { { Box::type, 2 }, { Box::channel, 4 } },   "pitch",   4, 17,  { 0x0E, 0xE3, 17 },  "PB.4",   { 1, 4, 17 } },
        { 60,  { { Box::channel, 3 }, { Box::number, 101 } }, "note",  3, 100, { 0x09, 0x92, 100 }, " E(7)",  { 0, 3, 100 } },
        { 99,  { { Box::number, 65 } },                     "cc",      1, 64,  { 0x0B, 0xB0, 64 },  "CC64",   { 2, 1, 64 } },
        { 1,   { { Box::type, 2 }, { Box::number, 8 } },    "cc",      1, 7,   { 0x0B, 0xB0, 7 },   "CC7",    { 2, 1, 7 } },
    };

    for (const auto& e : edits)
    {
        select (e.id);
        apply (e.steps);
        ASSERT_EQ (shownText (*control (e.id)), e.label) << "control " << e.id;
    }

    auto& selected = *control (1);

    auto expectEdits = [&] (const char* when)
    {
        SCOPED_TRACE (when);

        for (const auto& e : edits)
        {
            const auto node = state().currentMap.getControl (e.id);
            EXPECT_EQ (node[Tags::type].toString(), e.type) << "control " << e.id;
            EXPECT_EQ ((int) node[Tags::chan], e.chan) << "control " << e.id;
            EXPECT_EQ ((int) node[Tags::value], e.value) << "control " << e.id;
            EXPECT_EQ (entryOf (ud, e.id), e.entry) << "control " << e.id;
            EXPECT_EQ (shownText (*control (e.id)), e.label) << "control " << e.id;
        }
    };

    // Save.
    juce::TemporaryFile file (".pelto");
    std::vector<bool> asked;
    content->browseForMappingFile = [&] (bool forSaving) { asked.push_back (forSaving); return file.getFile(); };

    click (content->saveFileButton);

    EXPECT_EQ (asked, std::vector<bool> { true });
    EXPECT_TRUE (lookAndFeel.alerts.empty());
    ASSERT_TRUE (file.getFile().existsAsFile());

    // A program change is written down by name.
    const auto saved = juce::ValueTree::fromXml (file.getFile().loadFileAsString());
    EXPECT_EQ (CtMap (saved).getControl (5)[Tags::type].toString(), "program");

    // Reset with the key.
    EXPECT_FALSE (content->keyPressed (juce::KeyPress ('r')));

    EXPECT_TRUE (sameTable (ud, cubaseButtons0ForTmr));
    for (const auto& e : edits)
    {
        const auto a = expected::mcpDefault (e.id);
        const auto node = state().currentMap.getControl (e.id);
        EXPECT_EQ (node[Tags::type].toString(), a.type) << "control " << e.id;
        EXPECT_EQ ((int) node[Tags::chan], a.chan) << "control " << e.id;
        EXPECT_EQ ((int) node[Tags::value], a.value) << "control " << e.id;
        EXPECT_EQ (shownText (*control (e.id)), expected::labelOf (3, e.id)) << "control " << e.id;
    }
    EXPECT_TRUE (selected.getToggleState());
    expectBoxesShow (3, 1, expected::mcpDefault (1));

    // Load.
    click (content->loadFileButton);

    EXPECT_EQ (asked, (std::vector<bool> { true, false }));
    EXPECT_TRUE (lookAndFeel.alerts.empty());
    EXPECT_EQ ((int) kestal->getCurrCtMode(), 3);
    EXPECT_EQ (content->modeBox.getSelectedItemIndex(), 3);
    expectEdits ("after loading");
    EXPECT_EQ (content->findSelectedControl(), &selected);
    expectBoxesShow (3, 1, { "cc", 1, 7 });

    // The program change comes back as one: its box item and its label.
    select (5);
    expectBoxesShow (3, 5, { "program", 1, 5 });

    // And the surface receives the edited assignment.
    const auto wires = sendUserDefined();

    for (int id = 1; id <= 108; ++id)
    {
        auto expectedWire = defaultWire (id);
        for (const auto& e : edits)
            if (e.id == id)
                expectedWire = e.wire;

        EXPECT_EQ (wires[(size_t) id - 1], expectedWire) << "control " << id;
    }
}

//==============================================================================
// Load File and Save File that fail, and choosers that are cancelled.

struct FileCase
{
    const char* name;
    bool loading;
    enum Target { notXml, missingFile, missingFolder, cancelled } target;
    const char* title;     // of the box shown, nullptr for none
    const char* message;
};

static void PrintTo (const FileCase& c, std::ostream* os)  { *os << c.name; }

struct FileFailures : public AttributeBoxes, public ::testing::WithParamInterface<FileCase> {};

TEST_P (FileFailures, ChangeNothing)
{
    const auto& p = GetParam();
    openInMode (3);
    select (10);
    apply ({ { Box::channel, 5 }, { Box::type, 3 } });

    juce::TemporaryFile scratch (".pelto");
    const auto missingFolder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                                   .getNonexistentChildFile ("kestal-no-folder", "", false);
    juce::File target;

    switch (p.target)
    {
        case FileCase::notXml:        ASSERT_TRUE (scratch.getFile().replaceWithText ("this is not a mapping\n")); target = scratch.getFile(); break;
        case FileCase::missingFile:   target = scratch.getFile(); break;
        case FileCase::missingFolder: target = missingFolder.getChildFile ("map.pelto"); break;
        case FileCase::cancelled:     break;
    }

    std::vector<bool> asked;
    content->browseForMappingFile = [&] (bool forSaving) { asked.push_back (forSaving); return target; };

    const auto before = snapshot();
    const auto type = stateOf (content->msgTypeBox), channel = stateOf (content->channelBox),
               message = stateOf (content->messageBox);

    click (p.loading ? content->loadFileButton : content->saveFileButton);
    pump (100);

    EXPECT_EQ (asked, std::vector<bool> { ! p.loading });

    if (p.title == nullptr)
    {
        EXPECT_TRUE (lookAndFeel.alerts.empty());
    }
    else
    {
        ASSERT_EQ (lookAndFeel.alerts.size(), 1u);
        EXPECT_EQ (lookAndFeel.alerts[0].title, p.title);
        EXPECT_EQ (lookAndFeel.alerts[0].message, p.message);
    }

    expectUnchanged (before);
    EXPECT_EQ (content->modeBox.getSelectedItemIndex(), 3);
    EXPECT_EQ (stateOf (content->msgTypeBox), type);
    EXPECT_EQ (stateOf (content->channelBox), channel);
    EXPECT_EQ (stateOf (content->messageBox), message);
    EXPECT_EQ (content->findSelectedControl(), control (10));

    EXPECT_FALSE (missingFolder.exists());
    if (p.target != FileCase::notXml)
    {
        EXPECT_FALSE (scratch.getFile().exists());
    }
}

INSTANTIATE_TEST_SUITE_P (Files, FileFailures, ::testing::Values (
    FileCase { "LoadNotXml", true, FileCase::notXml, "Load Mapping", "Could not load mapping data" },
    FileCase { "LoadMissingFile", true, FileCase::missingFile, "Load Mapping", "Could not load mapping data" },
    FileCase { "LoadCancelled", true, FileCase::cancelled, nullptr, "" },
    FileCase { "SaveIntoMissingFolder", false, FileCase::missingFolder, "Save Mapping", "Failed to write mapping file" },
    FileCase { "SaveCancelled", false, FileCase::cancelled, nullptr, "" }),
    [] (const auto& p) { return std::string (p.param.name); });
