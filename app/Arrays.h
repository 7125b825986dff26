#pragma once

#include <cstdint>
#include <juce_core/juce_core.h>

// The built-in tables of the mapping model.
//
// A default table holds 108 entries of three bytes, indexed by control id - 1:
//   byte 0  type nibble: 0x9 note, 0xB control change, 0xC program change, 0xE pitch bend, 0 none
//   byte 1  MIDI status byte; readers take only its low four bits, the channel - 1
//   byte 2  data byte: the note or controller number
using DefaultTable = uint8_t[108][3];

extern const DefaultTable cubaseButtons0ForTmr;   // the MCP defaults; source of cb and ud
extern DefaultTable cb;                           // mode 0, MCP
extern const DefaultTable lg;                     // mode 1, Logic
extern const DefaultTable lv;                     // mode 2, HUI
extern DefaultTable ud;                           // mode 3, user defined (declared in UdMode.h too)

// Entry m is the table of mode m, for the live modes 0 to 3 only.
extern const uint8_t (* const arrForMoid[4])[3];

// Value lists, indexed by a control's position among the controls of its kind.
extern const uint8_t protoolsKnobIndexes[8];
extern const uint8_t protoolsFaderIndexes[16];
extern const uint8_t protoolsMasterFaderIndexes[2];
extern const uint8_t protoolsJogWheelIndexes[1];
extern const uint8_t protoolsButtonDefaults[50];
extern const uint8_t protoolsButtonIndexes[101];
extern const uint8_t abletonLiveKnobValues[8];
extern const uint8_t abletonLiveFaderValues[16];
extern const uint8_t abletonLiveMasterFaderValues[2];

// The HUI item list of a control kind: the item numbers a control of that kind may carry, of
// which entry s is the HUI item of the kind's control s wherever that control's item is fixed
// (every kind but the buttons). Lists are read through here, never picked by kind elsewhere.
struct HuiItemList
{
    const uint8_t* items = nullptr;
    int size = 0;

    /** Entry i; 0 past the end of the list. */
    int operator[] (int i) const noexcept { return i >= 0 && i < size ? items[i] : 0; }

    /** Whether one of the first `count` entries is `item`. */
    bool holdsAmongFirst (int count, int item) const noexcept;
};

/** The HUI item list of a kind (0 button, 1 knob, 2 jog wheel, 3 fader, 4 master fader); an
    empty list for any other number. */
HuiItemList huiItemsOfKind (int kind) noexcept;

/** The HUI item of a control whose item does not follow its stored number (every kind but the
    buttons): the entry of its kind's list at its sub-index; -1 for a button or an id outside
    1 to 108. */
int fixedHuiItemOf (int id) noexcept;

// Name tables: rows of NUL-terminated ASCII names, zero-filled to the row width.
using NameRow = char[40];
using NameTable = NameRow[128];

extern const NameTable NOTE;
extern const NameTable CC;
extern const NameTable PITCH;
extern const NameRow* const NCPP[3];              // value names of 0 note, 1 cc, 2 pitch
extern const char msgTypes[4][20];                // "Note", "CC", "Program", "Pitch"
extern const NameTable protoolsControlNames;      // HUI item names
extern const NameTable cubaseNotes;
extern const NameTable nuendoNotes;
extern const NameTable logicNotes;
extern const NameRow abletonLiveKnobs[8];
extern const NameRow abletonLiveFader[16];
extern const NameRow abletonLiveMasterFader[2];

extern const int huiItemCounts[5];
extern const int huiLabelCounts[5];
extern const int tyvaOfSele[4];
extern const int typeNibbles[3];

// The message-type choices: 0 note, 1 control change, 2 program change, 3 pitch bend. Every
// reader turns a box item, a status nibble or a stored type text into a choice, and a choice
// into its name, nibble, value names or type text, through here and nowhere else.
struct MsgTypeChoice
{
    enum : int { note = 0, controlChange = 1, programChange = 2, pitchBend = 3 };
    static constexpr int numChoices = 4;

    /** How many choices the message-type box offers a button (note, control change, program
        change) or a continuous control (control change, pitch bend). */
    static int numOffered (bool forButton) noexcept;

    /** The choice behind item `item` (from 0) of the message-type box; -1 past its items. */
    static int offeredAt (bool forButton, int item) noexcept;

    /** The item of the message-type box whose choice has the status nibble; 0, the first item,
        for a nibble that no offered choice has. */
    static int itemOfNibble (bool forButton, int nibble) noexcept;

    /** The choice behind that item: the one the box shows for the nibble. */
    static int choiceOfNibble (bool forButton, int nibble) noexcept;

    /** The choice's display name, a row of msgTypes. */
    static const char* nameOf (int choice) noexcept;

    /** The choice's status nibble, an entry of tyvaOfSele. */
    static int nibbleOf (int choice) noexcept;

    /** The names of the choice's numbers, an entry of NCPP: NOTE, CC, or the empty PITCH rows. */
    static const NameRow* valueNamesOf (int choice) noexcept;

    /** The type text a control node stores for the choice. */
    static juce::String slugOf (int choice);

    /** The choice that a control node's type text stands for; note for a text of no choice. */
    static int ofSlug (const juce::String& typeText);
};

// The defaults lookup of the current mode.
struct Defa
{
    /** Byte 2 of the control's entry in the current map's table; 0 for an id outside 1 to 108
        or a current mode without a table. */
    static int getMsVal (int id);

    /** The table of a mode, or nullptr for a mode without one. */
    static const uint8_t (*tableForMode (int mode))[3];
};
