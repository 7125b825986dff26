#include "Arrays.h"
#include "ControllerMap.h"
#include "Kestal.h"

#include <algorithm>
#include <cstring>
#include <iterator>

// The MCP assignment of the main unit. Every other live mode's table is this one with a few
// rows changed, and the user-defined table starts from it.
const DefaultTable cubaseButtons0ForTmr = {
    /*   1 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   1 }, { 0x09, 0x90,   2 }, { 0x09, 0x90,   3 },
    /*   5 */ { 0x09, 0x90,   4 }, { 0x09, 0x90,   5 }, { 0x09, 0x90,   6 }, { 0x09, 0x90,   7 },
    /*   9 */ { 0x09, 0x90,   8 }, { 0x09, 0x90,   9 }, { 0x09, 0x90,  10 }, { 0x09, 0x90,  11 },
    /*  13 */ { 0x09, 0x90,  12 }, { 0x09, 0x90,  13 }, { 0x09, 0x90,  14 }, { 0x09, 0x90,  15 },
    /*  17 */ { 0x09, 0x90,  16 }, { 0x09, 0x90,  17 }, { 0x09, 0x90,  18 }, { 0x09, 0x90,  19 },
    /*  21 */ { 0x09, 0x90,  20 }, { 0x09, 0x90,  21 }, { 0x09, 0x90,  22 }, { 0x09, 0x90,  23 },
    /*  25 */ { 0x09, 0x90,  24 }, { 0x09, 0x90,  25 }, { 0x09, 0x90,  26 }, { 0x09, 0x90,  27 },
    /*  29 */ { 0x09, 0x90,  28 }, { 0x09, 0x90,  29 }, { 0x09, 0x90,  30 }, { 0x09, 0x90,  31 },
    /*  33 */ { 0x09, 0x90,  32 }, { 0x09, 0x90,  33 }, { 0x09, 0x90,  34 }, { 0x09, 0x90,  35 },
    /*  37 */ { 0x09, 0x90,  36 }, { 0x09, 0x90,  37 }, { 0x09, 0x90,  38 }, { 0x09, 0x90,  39 },
    /*  41 */ { 0x09, 0xB0,   0 }, { 0x09, 0x90,  50 }, { 0x09, 0x90,  48 }, { 0x09, 0x90,  49 },
    /*  45 */ { 0x09, 0x90,  46 }, { 0x09, 0x90,  47 }, { 0x09, 0x90,  52 }, { 0x09, 0x90,  53 },
    /*  49 */ { 0x09, 0xB0,   0 }, { 0x09, 0xB0,   0 }, { 0x09, 0xB0,   0 }, { 0x09, 0x90,   0 },
    /*  53 */ { 0x09, 0x90,  54 }, { 0x09, 0x90,  55 }, { 0x09, 0x90,  56 }, { 0x09, 0x90,  57 },
    /*  57 */ { 0x09, 0x90,  58 }, { 0x09, 0x90,  59 }, { 0x09, 0x90,  60 }, { 0x09, 0x90,  61 },
    /*  61 */ { 0x09, 0x90,  40 }, { 0x09, 0x90,  41 }, { 0x09, 0x90,  42 }, { 0x09, 0x90,  43 },
    /*  65 */ { 0x09, 0x90,  44 }, { 0x09, 0x90,  45 }, { 0x09, 0x90,  74 }, { 0x09, 0x90,  75 },
    /*  69 */ { 0x09, 0x90,  76 }, { 0x09, 0x90,  77 }, { 0x09, 0x90,  78 }, { 0x09, 0x90,  79 },
    /*  73 */ { 0x09, 0x90,  80 }, { 0x09, 0x90,  81 }, { 0x09, 0x90,  83 }, { 0x09, 0x90,  91 },
    /*  77 */ { 0x09, 0x90,  86 }, { 0x09, 0x90,  92 }, { 0x09, 0x90,  88 }, { 0x09, 0x90,  89 },
    /*  81 */ { 0x09, 0x90,  90 }, { 0x09, 0x90,  95 }, { 0x09, 0x90,  94 }, { 0x09, 0x90,  93 },
    /*  85 */ { 0x09, 0x90, 101 }, { 0x09, 0x90,  96 }, { 0x09, 0x90,  98 }, { 0x09, 0x90, 100 },
    /*  89 */ { 0x09, 0x90,  99 }, { 0x09, 0x90,  97 }, { 0x0B, 0xB0,  16 }, { 0x0B, 0xB0,  17 },
    /*  93 */ { 0x0B, 0xB0,  18 }, { 0x0B, 0xB0,  19 }, { 0x0B, 0xB0,  20 }, { 0x0B, 0xB0,  21 },
    /*  97 */ { 0x0B, 0xB0,  22 }, { 0x0B, 0xB0,  23 }, { 0x0B, 0xB0,  60 }, { 0x0E, 0xE0,   0 },
    /* 101 */ { 0x0E, 0xE1,   0 }, { 0x0E, 0xE2,   0 }, { 0x0E, 0xE3,   0 }, { 0x0E, 0xE4,   0 },
    /* 105 */ { 0x0E, 0xE5,   0 }, { 0x0E, 0xE6,   0 }, { 0x0E, 0xE7,   0 }, { 0x0E, 0xE8,   0 },
};

DefaultTable cb = {};

// The Logic table: the MCP table with 18 button rows changed. Row 41 carries no status high
// nibble, which no reader looks at.
const DefaultTable lg = {
    /*   1 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   1 }, { 0x09, 0x90,   2 }, { 0x09, 0x90,   3 },
    /*   5 */ { 0x09, 0x90,   4 }, { 0x09, 0x90,   5 }, { 0x09, 0x90,   6 }, { 0x09, 0x90,   7 },
    /*   9 */ { 0x09, 0x90,   8 }, { 0x09, 0x90,   9 }, { 0x09, 0x90,  10 }, { 0x09, 0x90,  11 },
    /*  13 */ { 0x09, 0x90,  12 }, { 0x09, 0x90,  13 }, { 0x09, 0x90,  14 }, { 0x09, 0x90,  15 },
    /*  17 */ { 0x09, 0x90,  16 }, { 0x09, 0x90,  17 }, { 0x09, 0x90,  18 }, { 0x09, 0x90,  19 },
    /*  21 */ { 0x09, 0x90,  20 }, { 0x09, 0x90,  21 }, { 0x09, 0x90,  22 }, { 0x09, 0x90,  23 },
    /*  25 */ { 0x09, 0x90,  24 }, { 0x09, 0x90,  25 }, { 0x09, 0x90,  26 }, { 0x09, 0x90,  27 },
    /*  29 */ { 0x09, 0x90,  28 }, { 0x09, 0x90,  29 }, { 0x09, 0x90,  30 }, { 0x09, 0x90,  31 },
    /*  33 */ { 0x09, 0x90,  32 }, { 0x09, 0x90,  33 }, { 0x09, 0x90,  34 }, { 0x09, 0x90,  35 },
    /*  37 */ { 0x09, 0x90,  36 }, { 0x09, 0x90,  37 }, { 0x09, 0x90,  38 }, { 0x09, 0x90,  39 },
    /*  41 */ { 0x09, 0x00,   0 }, { 0x09, 0x90,  50 }, { 0x09, 0x90,  48 }, { 0x09, 0x90,  49 },
    /*  45 */ { 0x09, 0x90,  46 }, { 0x09, 0x90,  47 }, { 0x09, 0x90,  52 }, { 0x09, 0x90,  53 },
    /*  49 */ { 0x09, 0x90,  71 }, { 0x09, 0x90,  51 }, { 0x09, 0x90,  73 }, { 0x09, 0x90,  70 },
    /*  53 */ { 0x09, 0x90,  54 }, { 0x09, 0x90,  55 }, { 0x09, 0x90,  56 }, { 0x09, 0x90,  57 },
    /*  57 */ { 0x09, 0x90,  58 }, { 0x09, 0x90,  59 }, { 0x09, 0x90,  60 }, { 0x09, 0x90,  61 },
    /*  61 */ { 0x09, 0x90,  40 }, { 0x09, 0x90,  42 }, { 0x09, 0x90,  44 }, { 0x09, 0x90,  41 },
    /*  65 */ { 0x09, 0x90,  43 }, { 0x09, 0x90,  45 }, { 0x09, 0x90,  79 }, { 0x09, 0x90,  74 },
    /*  69 */ { 0x09, 0x90,  75 }, { 0x09, 0x90,  77 }, { 0x09, 0x90,  78 }, { 0x09, 0x90,  76 },
    /*  73 */ { 0x09, 0x90,  84 }, { 0x09, 0x90,  85 }, { 0x09, 0x90,  89 }, { 0x09, 0x90,  91 },
    /*  77 */ { 0x09, 0x90,  86 }, { 0x09, 0x90,  92 }, { 0x09, 0x90,  87 }, { 0x09, 0x90,  88 },
    /*  81 */ { 0x09, 0x90,  90 }, { 0x09, 0x90,  95 }, { 0x09, 0x90,  94 }, { 0x09, 0x90,  93 },
    /*  85 */ { 0x09, 0x90, 101 }, { 0x09, 0x90,  96 }, { 0x09, 0x90,  98 }, { 0x09, 0x90, 100 },
    /*  89 */ { 0x09, 0x90,  99 }, { 0x09, 0x90,  97 }, { 0x0B, 0xB0,  16 }, { 0x0B, 0xB0,  17 },
    /*  93 */ { 0x0B, 0xB0,  18 }, { 0x0B, 0xB0,  19 }, { 0x0B, 0xB0,  20 }, { 0x0B, 0xB0,  21 },
    /*  97 */ { 0x0B, 0xB0,  22 }, { 0x0B, 0xB0,  23 }, { 0x0B, 0xB0,  60 }, { 0x0E, 0xE0,   0 },
    /* 101 */ { 0x0E, 0xE1,   0 }, { 0x0E, 0xE2,   0 }, { 0x0E, 0xE3,   0 }, { 0x0E, 0xE4,   0 },
    /* 105 */ { 0x0E, 0xE5,   0 }, { 0x0E, 0xE6,   0 }, { 0x0E, 0xE7,   0 }, { 0x0E, 0xE8,   0 },
};

// The HUI table: only the type and channel matter; every number comes from the value lists.
const DefaultTable lv = {
    /*   1 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 },
    /*   5 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 },
    /*   9 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 },
    /*  13 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 },
    /*  17 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 },
    /*  21 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 },
    /*  25 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 },
    /*  29 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 },
    /*  33 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 },
    /*  37 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 },
    /*  41 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 },
    /*  45 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 },
    /*  49 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 },
    /*  53 */ { 0x09, 0x90,   0 }, { 0x09, 0x90,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 },
    /*  57 */ { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 },
    /*  61 */ { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 },
    /*  65 */ { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 },
    /*  69 */ { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 },
    /*  73 */ { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 },
    /*  77 */ { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 },
    /*  81 */ { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 },
    /*  85 */ { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 },
    /*  89 */ { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 },
    /*  93 */ { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 },
    /*  97 */ { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 },
    /* 101 */ { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 },
    /* 105 */ { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 }, { 0x00, 0x00,   0 },
};

const uint8_t (* const arrForMoid[4])[3] = { cb, lg, lv, ud };

//==============================================================================
const uint8_t protoolsKnobIndexes[8]          = { 9, 10, 11, 12, 13, 14, 15, 16 };
const uint8_t protoolsFaderIndexes[16]        = { 0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14, 15, 16 };
const uint8_t protoolsMasterFaderIndexes[2]   = { 8, 17 };
const uint8_t protoolsJogWheelIndexes[1]      = { 17 };

const uint8_t protoolsButtonDefaults[50] = {
     59,  60,  61,  62,  63,  64,  65,  66,  67,  68,  69,  70,  71,  72,  73,  74,
     75,  76,  77,  78,  79,  80,  81,  82,  83,  84,  85,  86,  87,  88,  89,  90,
     91,  92,  93,  94,  95,  96,  97,  98,  99, 100, 101, 102, 103, 104, 105, 106,
    112, 111
};

const uint8_t protoolsButtonIndexes[101] = {
     18,  19,  20,  21,  22,  23,  24,  25,  26,  27,  28,  29,  30,  31,  32,  33,  34,
     35,  36,  37,  38,  39,  40,  41,  42,  43,  44,  45,  46,  47,  48,  49,  50,  51,
     52,  53,  54,  55,  56,  57,  58,  59,  60,  61,  62,  63,  64,  65,  66,  67,  68,
     69,  70,  71,  72,  73,  74,  75,  76,  77,  78,  79,  80,  81,  82,  83,  84,  85,
     86,  87,  88,  89,  90,  91,  92,  93,  94,  95,  96,  97,  98,  99, 100, 101, 102,
    103, 104, 105, 106, 107, 108, 109, 110, 111, 112, 113, 114, 115, 116, 117, 118
};

const uint8_t abletonLiveKnobValues[8]        = { 16, 17, 18, 19, 20, 21, 22, 23 };
const uint8_t abletonLiveFaderValues[16]      = { 0, 0, 0, 0, 0, 0, 0, 0, 16, 17, 18, 19, 20, 21, 22, 23 };
const uint8_t abletonLiveMasterFaderValues[2] = { 0, 60 };

HuiItemList huiItemsOfKind (int kind) noexcept
{
    switch (kind)
    {
        case CtKind::button:      return { protoolsButtonIndexes,      (int) std::size (protoolsButtonIndexes) };
        case CtKind::knob:        return { protoolsKnobIndexes,        (int) std::size (protoolsKnobIndexes) };
        case CtKind::jogWheel:    return { protoolsJogWheelIndexes,    (int) std::size (protoolsJogWheelIndexes) };
        case CtKind::fader:       return { protoolsFaderIndexes,       (int) std::size (protoolsFaderIndexes) };
        case CtKind::masterFader: return { protoolsMasterFaderIndexes, (int) std::size (protoolsMasterFaderIndexes) };
        default:                  return {};
    }
}

int fixedHuiItemOf (int id) noexcept
{
    const int kind = CtKind::kindOfId (id);

    if (kind < 0 || kind == CtKind::button)
        return -1;

    return huiItemsOfKind (kind)[CtKind::subIndexOfId (id)];
}

bool HuiItemList::holdsAmongFirst (int count, int item) const noexcept
{
    // A count may exceed the list's length (the jog wheel's label search counts 4 entries of
    // its one), so the search never goes past the list's own end.
    const auto* end = items + std::clamp (count, 0, size);
    return std::find (items, end, item) != end;
}

//==============================================================================
const uint8_t (*Defa::tableForMode (int mode))[3]
{
    return CtMode::isLive (mode) ? arrForMoid[mode] : nullptr;
}

int Defa::getMsVal (int id)
{
    auto* kestal = Kestal::getInstanceWithoutCreating();

    if (kestal == nullptr || ! CtKind::isValidId (id))
        return 0;

    const auto* table = tableForMode (CtMap (kestal->impl->currentMap).getCtMode());
    return table != nullptr ? table[id - 1][2] : 0;
}

//==============================================================================
namespace
{
    // The strips' buttons come first among the buttons; the main unit's function buttons, whose
    // HUI numbers protoolsButtonDefaults lists, follow them.
    constexpr int numStripButtons = 40;

    struct BuiltInAssignment
    {
        const char* type;
        int chan, value;
    };

    // The assignment a map of mode m gives control id when it is filled with its defaults:
    // type and channel from the mode's table, the number from the table or the value lists.
    BuiltInAssignment builtInAssignment (int m, const uint8_t (*table)[3], int id)
    {
        const auto* e = table[id - 1];
        const int s = CtKind::subIndexOfId (id);
        const bool hui = (m == CtMode::hui);

        int value = 0;

        switch (CtKind::kindOfId (id))
        {
            case CtKind::button:
                if (s < numStripButtons)
                    value = hui ? s + 19 : s;
                else
                    value = hui ? protoolsButtonDefaults[s - numStripButtons] : table[s][2];
                break;
            case CtKind::knob:        value = hui ? fixedHuiItemOf (id) : abletonLiveKnobValues[s]; break;
            case CtKind::jogWheel:    value = hui ? fixedHuiItemOf (id) : 60; break;
            case CtKind::fader:       value = hui ? fixedHuiItemOf (id) : abletonLiveFaderValues[s]; break;
            case CtKind::masterFader: value = hui ? fixedHuiItemOf (id) : abletonLiveMasterFaderValues[0]; break;
            default: break;
        }

        return { e[0] == 0x9 ? "note" : e[0] == 0xE ? "pitch" : "cc", (e[1] & 0x0F) + 1, value };
    }
}

void CtMap::setDefaultValues()
{
    const int m = getCtMode();

    if (m != CtMode::hui)
    {
        std::memcpy (cb, cubaseButtons0ForTmr, sizeof (cb));
        std::memcpy (ud, cubaseButtons0ForTmr, sizeof (ud));
    }

    // A map can only read as a mode without a table when it came from a file; such a map is
    // refused on loading, so there is nothing sensible to fill it with here.
    const auto* table = Defa::tableForMode (m);

    if (table == nullptr)
        return;

    auto controls = tree.getChildWithName (Tags::controls);

    for (int p = 0; p < CtKind::numControls; ++p)
    {
        auto control = controls.getChild (p);

        if (! control.isValid())
            continue;

        const int id = control.getProperty (Tags::id, 0);

        // A node with an id outside the surface has no entry to read and is left as it is.
        if (! CtKind::isValidId (id))
            continue;

        const auto a = builtInAssignment (m, table, id);
        control.setProperty (Tags::type, juce::String (a.type), nullptr);
        control.setProperty (Tags::chan, a.chan, nullptr);
        control.setProperty (Tags::value, a.value, nullptr);
    }
}

juce::ValueTree CtMap::makeStandInControl (CtMode m, int id)
{
    BuiltInAssignment a { "note", 1, 0 };

    // The user-defined mode has no built-in assignment of its own: its table, rebuilt from the
    // file, gives a control the file lacks a note on channel 1, number 0, and so does the map.
    if (m != CtMode::userDefined)
        if (const auto* table = Defa::tableForMode (m); table != nullptr && CtKind::isValidId (id))
            a = builtInAssignment (m, m == CtMode::mcp ? cubaseButtons0ForTmr : table, id);

    return makeControl (id, a.type, a.chan, a.value);
}
