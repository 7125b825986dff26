#include "Arrays.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{
constexpr int rowWidth = (int) sizeof (NameRow);
constexpr size_t longestName = 25;

std::string rowText (const NameRow& row)
{
    return std::string (row, strnlen (row, sizeof (row)));
}

struct Table
{
    const char* name;
    const NameRow* rows;
    int count;
};

const std::vector<Table>& allTables()
{
    static const std::vector<Table> tables {
        { "NOTE", NOTE, 128 },
        { "CC", CC, 128 },
        { "PITCH", PITCH, 128 },
        { "protoolsControlNames", protoolsControlNames, 128 },
        { "cubaseNotes", cubaseNotes, 128 },
        { "nuendoNotes", nuendoNotes, 128 },
        { "logicNotes", logicNotes, 128 },
        { "abletonLiveKnobs", abletonLiveKnobs, 8 },
        { "abletonLiveFader", abletonLiveFader, 16 },
        { "abletonLiveMasterFader", abletonLiveMasterFader, 2 },
    };
    return tables;
}

// A run of rows whose names follow "<prefix><first number + offset>".
struct NumberedRun
{
    const char* table;
    const NameRow* rows;
    int firstRow, lastRow;
    const char* prefix;
    int firstNumber;
};

// A run of rows that all hold the same text ("" for empty rows).
struct ConstantRun
{
    const char* table;
    const NameRow* rows;
    int firstRow, lastRow;
    const char* text;
};

struct Spot
{
    const char* table;
    const NameRow* rows;
    int row;
    const char* expected;
};
} // namespace

//==============================================================================
TEST (NameTables, EveryRowIsTerminatedZeroFilledAndShortEnough)
{
    for (const auto& t : allTables())
    {
        for (int r = 0; r < t.count; ++r)
        {
            SCOPED_TRACE (std::string (t.name) + " row " + std::to_string (r));
            const char* row = t.rows[r];
            const size_t len = strnlen (row, rowWidth);

            ASSERT_LT (len, (size_t) rowWidth) << "not NUL-terminated";
            EXPECT_LE (len, longestName);

            for (int i = (int) len; i < rowWidth; ++i)
                EXPECT_EQ (row[i], '\0') << "byte " << i << " after the terminator";

            for (size_t i = 0; i < len; ++i)
                EXPECT_TRUE (row[i] >= 0x20 && row[i] < 0x7f) << "byte " << i << " is not printable ASCII";
        }
    }
}

TEST (NameTables, MessageTypeNamesAreTerminatedWithinTheirWidth)
{
    const char* expected[4] = { "Note", "CC", "Program", "Pitch" };

    for (int c = 0; c < 4; ++c)
    {
        SCOPED_TRACE (c);
        ASSERT_LT (strnlen (msgTypes[c], sizeof (msgTypes[c])), sizeof (msgTypes[c]));
        EXPECT_STREQ (msgTypes[c], expected[c]);

        for (size_t i = std::strlen (msgTypes[c]); i < sizeof (msgTypes[c]); ++i)
            EXPECT_EQ (msgTypes[c][i], '\0');
    }
}

//==============================================================================
TEST (NameTables, NoteNamesFollowPitchClassAndOctave)
{
    const char* pitchClasses[12] = { "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B" };

    for (int n = 0; n < 128; ++n)
    {
        const std::string pc = pitchClasses[n % 12];
        const std::string expected = (pc.size() == 1 ? " " : "") + pc + "(" + std::to_string (n / 12 - 1) + ")";
        EXPECT_EQ (rowText (NOTE[n]), expected) << "note " << n;
        EXPECT_EQ (rowText (NOTE[n]).size(), n < 12 ? 6u : 5u) << "note " << n;
    }
}

TEST (NameTables, ValueNameTablesByMessageType)
{
    EXPECT_EQ (NCPP[0], NOTE);
    EXPECT_EQ (NCPP[1], CC);
    EXPECT_EQ (NCPP[2], PITCH);

    for (int v = 0; v < 128; ++v)
        EXPECT_EQ (PITCH[v][0], '\0') << "value " << v;
}

//==============================================================================
TEST (NameTables, NumberedRunsFollowTheirRule)
{
    const std::vector<NumberedRun> runs {
        { "CC", CC, 16, 23, "Gp Control #", 1 },
        { "CC", CC, 75, 79, "Sound Control #", 6 },
        { "CC", CC, 80, 83, "GP Control #", 5 },

        { "protoolsControlNames", protoolsControlNames, 0, 7, "Vol.", 1 },
        { "protoolsControlNames", protoolsControlNames, 9, 16, "Pan.", 1 },
        { "protoolsControlNames", protoolsControlNames, 19, 26, "REC.", 1 },
        { "protoolsControlNames", protoolsControlNames, 27, 34, "SOLO.", 1 },
        { "protoolsControlNames", protoolsControlNames, 35, 42, "MUTE.", 1 },
        { "protoolsControlNames", protoolsControlNames, 43, 50, "SEL.", 1 },
        { "protoolsControlNames", protoolsControlNames, 51, 58, "Mon", 1 },

        { "cubaseNotes", cubaseNotes, 0, 7, "REC.", 1 },
        { "cubaseNotes", cubaseNotes, 8, 15, "SOLO.", 1 },
        { "cubaseNotes", cubaseNotes, 16, 23, "MUTE.", 1 },
        { "cubaseNotes", cubaseNotes, 24, 31, "SEL.", 1 },
        { "cubaseNotes", cubaseNotes, 32, 39, "Mon", 1 },
        { "cubaseNotes", cubaseNotes, 54, 61, "F", 1 },
        { "cubaseNotes", cubaseNotes, 104, 111, "Touch.", 1 },

        { "logicNotes", logicNotes, 54, 61, "F", 1 },
        { "logicNotes", logicNotes, 104, 111, "Touch.", 1 },

        { "abletonLiveKnobs", abletonLiveKnobs, 0, 7, "Pan.", 1 },
        { "abletonLiveFader", abletonLiveFader, 0, 7, "Vol.", 1 },
        { "abletonLiveFader", abletonLiveFader, 8, 15, "Pan.", 1 },
    };

    for (const auto& run : runs)
        for (int r = run.firstRow; r <= run.lastRow; ++r)
            EXPECT_EQ (rowText (run.rows[r]), run.prefix + std::to_string (run.firstNumber + r - run.firstRow))
                << run.table << " row " << r;
}

TEST (NameTables, ConstantRunsHoldTheirText)
{
    const std::vector<ConstantRun> runs {
        { "CC", CC, 3, 3, "--" },
        { "CC", CC, 9, 9, "--" },
        { "CC", CC, 12, 15, "--" },
        { "CC", CC, 24, 37, "--" },
        { "CC", CC, 39, 63, "--" },
        { "CC", CC, 85, 90, "--" },
        { "CC", CC, 102, 119, "--" },

        { "protoolsControlNames", protoolsControlNames, 113, 127, "" },
        { "cubaseNotes", cubaseNotes, 62, 69, "" },
        { "cubaseNotes", cubaseNotes, 115, 127, "" },
        { "logicNotes", logicNotes, 113, 127, "" },
    };

    for (const auto& run : runs)
        for (int r = run.firstRow; r <= run.lastRow; ++r)
            EXPECT_EQ (rowText (run.rows[r]), run.text) << run.table << " row " << r;
}

TEST (NameTables, OnlyTheStatedRowsAreEmpty)
{
    auto expectFilled = [] (const char* name, const NameRow* rows, int first, int last)
    {
        for (int r = first; r <= last; ++r)
            EXPECT_NE (rows[r][0], '\0') << name << " row " << r;
    };

    expectFilled ("NOTE", NOTE, 0, 127);
    expectFilled ("CC", CC, 0, 127);
    expectFilled ("protoolsControlNames", protoolsControlNames, 0, 112);
    expectFilled ("cubaseNotes", cubaseNotes, 0, 61);
    expectFilled ("cubaseNotes", cubaseNotes, 70, 114);
    expectFilled ("logicNotes", logicNotes, 0, 112);
    expectFilled ("abletonLiveKnobs", abletonLiveKnobs, 0, 7);
    expectFilled ("abletonLiveFader", abletonLiveFader, 0, 15);
    expectFilled ("abletonLiveMasterFader", abletonLiveMasterFader, 0, 1);
}

TEST (NameTables, UserDefinedModeSharesTheMcpFunctions)
{
    for (int r = 0; r < 128; ++r)
        EXPECT_EQ (std::memcmp (nuendoNotes[r], cubaseNotes[r], sizeof (NameRow)), 0) << "row " << r;
}

TEST (NameTables, LogicSharesTheChannelStripFunctions)
{
    for (int r = 0; r < 40; ++r)
        EXPECT_EQ (std::memcmp (logicNotes[r], cubaseNotes[r], sizeof (NameRow)), 0) << "row " << r;
}

//==============================================================================
TEST (NameTables, SpotRows)
{
    const std::vector<Spot> spots {
        { "NOTE", NOTE, 0, " C(-1)" },
        { "NOTE", NOTE, 1, "C#(-1)" },
        { "NOTE", NOTE, 11, " B(-1)" },
        { "NOTE", NOTE, 12, " C(0)" },
        { "NOTE", NOTE, 60, " C(4)" },
        { "NOTE", NOTE, 61, "C#(4)" },
        { "NOTE", NOTE, 127, " G(9)" },

        { "CC", CC, 0, "Bank MSB*(GS)" },
        { "CC", CC, 1, "Modulation(GM)" },
        { "CC", CC, 7, "Volume*(GM)" },
        { "CC", CC, 10, "Pan(GM)" },
        { "CC", CC, 11, "Expression*(GM)" },
        { "CC", CC, 16, "Gp Control #1" },
        { "CC", CC, 38, "Data Entry LSB" },
        { "CC", CC, 64, "Hold Pedal #1*(GM)" },
        { "CC", CC, 65, "Portamento(Gs)" },
        { "CC", CC, 67, "Soft Pedal(Gs)" },
        { "CC", CC, 74, "Sound Brightness" },
        { "CC", CC, 80, "GP Control #5" },
        { "CC", CC, 84, "Portamento Control(GS)" },
        { "CC", CC, 91, "Reverb Level(GS)" },
        { "CC", CC, 98, "Non-RPN*Param LSB(GS)" },
        { "CC", CC, 101, "RPN*Parameter MSB(GM)" },
        { "CC", CC, 120, "All Sound Off*(GS)" },
        { "CC", CC, 121, "Reset All Contorllers(GM)" },
        { "CC", CC, 127, "Poly Mode On" },

        { "protoolsControlNames", protoolsControlNames, 8, "Vol.M?" },
        { "protoolsControlNames", protoolsControlNames, 17, "Tape Tspt?" },
        { "protoolsControlNames", protoolsControlNames, 18, "(nil)" },
        { "protoolsControlNames", protoolsControlNames, 59, "(nil)" },
        { "protoolsControlNames", protoolsControlNames, 68, "Option" },
        { "protoolsControlNames", protoolsControlNames, 71, "Read?" },
        { "protoolsControlNames", protoolsControlNames, 79, "Pan" },
        { "protoolsControlNames", protoolsControlNames, 81, "Assign?" },
        { "protoolsControlNames", protoolsControlNames, 89, "Send E" },
        { "protoolsControlNames", protoolsControlNames, 90, "Edit" },
        { "protoolsControlNames", protoolsControlNames, 102, "Stop" },
        { "protoolsControlNames", protoolsControlNames, 103, "Scrub?" },
        { "protoolsControlNames", protoolsControlNames, 111, "Down?" },
        { "protoolsControlNames", protoolsControlNames, 112, "Right?" },

        { "cubaseNotes", cubaseNotes, 40, "Page<<" },
        { "cubaseNotes", cubaseNotes, 52, "Name/Value" },
        { "cubaseNotes", cubaseNotes, 53, "SMPTE/Beats" },
        { "cubaseNotes", cubaseNotes, 70, "Undo" },
        { "cubaseNotes", cubaseNotes, 83, "Shift" },
        { "cubaseNotes", cubaseNotes, 84, "Trnspt<" },
        { "cubaseNotes", cubaseNotes, 94, "Play" },
        { "cubaseNotes", cubaseNotes, 102, "User A" },
        { "cubaseNotes", cubaseNotes, 103, "User B" },
        { "cubaseNotes", cubaseNotes, 112, "Touch.M" },
        { "cubaseNotes", cubaseNotes, 114, "Beats LED" },

        { "logicNotes", logicNotes, 40, "Track" },
        { "logicNotes", logicNotes, 42, "Pan/ Surround" },
        { "logicNotes", logicNotes, 52, "Name/ Value" },
        { "logicNotes", logicNotes, 53, "SMPTE /Beats" },
        { "logicNotes", logicNotes, 62, "MIDI Tracks" },
        { "logicNotes", logicNotes, 74, "Read /Off" },
        { "logicNotes", logicNotes, 79, "Group" },
        { "logicNotes", logicNotes, 80, "Save" },
        { "logicNotes", logicNotes, 94, "Play" },
        { "logicNotes", logicNotes, 101, "Scrub" },
        { "logicNotes", logicNotes, 102, "User B" },
        { "logicNotes", logicNotes, 103, "User A" },
        { "logicNotes", logicNotes, 112, "Touch.M" },

        { "abletonLiveMasterFader", abletonLiveMasterFader, 0, "Vol.M" },
        { "abletonLiveMasterFader", abletonLiveMasterFader, 1, "Tape Tspt" },
    };

    for (const auto& s : spots)
        EXPECT_EQ (rowText (s.rows[s.row]), s.expected) << s.table << " row " << s.row;
}

//==============================================================================
TEST (NameTables, HuiCountsBoundTheItemLists)
{
    const int itemCounts[5] = { 90, 8, 1, 16, 2 };
    const int labelCounts[5] = { 101, 8, 4, 16, 2 };

    for (int k = 0; k < 5; ++k)
    {
        EXPECT_EQ (huiItemCounts[k], itemCounts[k]) << "kind " << k;
        EXPECT_EQ (huiLabelCounts[k], labelCounts[k]) << "kind " << k;
        EXPECT_LE (huiItemCounts[k], huiLabelCounts[k]) << "kind " << k;
    }
}

TEST (NameTables, StatusNibbles)
{
    const int choiceNibbles[4] = { 0x9, 0xB, 0xC, 0xE };
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ (tyvaOfSele[c], choiceNibbles[c]) << "choice " << c;

    const int typeNibble[3] = { 0x9, 0xB, 0xE };
    for (int t = 0; t < 3; ++t)
        EXPECT_EQ (typeNibbles[t], typeNibble[t]) << "type " << t;
}

//==============================================================================
// The message-type box of a button offers note, control change and program change; that of a
// continuous control control change and pitch bend. Each choice carries its own name, nibble,
// value names and stored type text.
TEST (MessageTypeChoices, TheBoxOffersEachControlItsOwnChoicesInOrder)
{
    struct Case { bool forButton; std::vector<int> choices; };

    for (const auto& c : { Case { true, { MsgTypeChoice::note, MsgTypeChoice::controlChange, MsgTypeChoice::programChange } },
                           Case { false, { MsgTypeChoice::controlChange, MsgTypeChoice::pitchBend } } })
    {
        ASSERT_EQ (MsgTypeChoice::numOffered (c.forButton), (int) c.choices.size());

        for (int item = 0; item < (int) c.choices.size(); ++item)
        {
            EXPECT_EQ (MsgTypeChoice::offeredAt (c.forButton, item), c.choices[(size_t) item]) << c.forButton << " item " << item;
            EXPECT_EQ (MsgTypeChoice::itemOfNibble (c.forButton, MsgTypeChoice::nibbleOf (c.choices[(size_t) item])), item)
                << c.forButton << " item " << item;
            EXPECT_EQ (MsgTypeChoice::choiceOfNibble (c.forButton, MsgTypeChoice::nibbleOf (c.choices[(size_t) item])),
                       c.choices[(size_t) item]) << c.forButton << " item " << item;
        }

        EXPECT_EQ (MsgTypeChoice::offeredAt (c.forButton, -1), -1) << c.forButton;
        EXPECT_EQ (MsgTypeChoice::offeredAt (c.forButton, (int) c.choices.size()), -1) << c.forButton;
    }

    // A nibble the box does not offer shows its first item.
    for (int nibble : { 0, 0xE })
    {
        EXPECT_EQ (MsgTypeChoice::itemOfNibble (true, nibble), 0) << nibble;
        EXPECT_EQ (MsgTypeChoice::choiceOfNibble (true, nibble), MsgTypeChoice::note) << nibble;
    }

    for (int nibble : { 0, 0x9, 0xC })
    {
        EXPECT_EQ (MsgTypeChoice::itemOfNibble (false, nibble), 0) << nibble;
        EXPECT_EQ (MsgTypeChoice::choiceOfNibble (false, nibble), MsgTypeChoice::controlChange) << nibble;
    }
}

TEST (MessageTypeChoices, EachChoiceHasItsNameNibbleValueNamesAndTypeText)
{
    struct Case { int choice; const char* name; int nibble; const NameRow* valueNames; const char* slug; };

    for (const auto& c : { Case { MsgTypeChoice::note,          "Note",    0x9, NOTE,  "note" },
                           Case { MsgTypeChoice::controlChange, "CC",      0xB, CC,    "cc" },
                           Case { MsgTypeChoice::programChange, "Program", 0xC, PITCH, "program" },
                           Case { MsgTypeChoice::pitchBend,     "Pitch",   0xE, PITCH, "pitch" } })
    {
        EXPECT_STREQ (MsgTypeChoice::nameOf (c.choice), c.name);
        EXPECT_EQ (MsgTypeChoice::nibbleOf (c.choice), c.nibble) << c.name;
        EXPECT_EQ (MsgTypeChoice::valueNamesOf (c.choice), c.valueNames) << c.name;
        EXPECT_EQ (MsgTypeChoice::slugOf (c.choice), juce::String (c.slug)) << c.name;
        EXPECT_EQ (MsgTypeChoice::ofSlug (c.slug), c.choice) << c.name;
    }

    // Type texts are compared exactly; any other reads as a note.
    for (const char* text : { "", "Note", "CC", " cc", "pitch ", "programme", "button" })
        EXPECT_EQ (MsgTypeChoice::ofSlug (text), MsgTypeChoice::note) << "'" << text << "'";
}
