#pragma once

#include <juce_core/juce_core.h>
#include <map>

// The built-in assignment of every live mode, written out range by range rather than copied
// from the tables, so that a wrong table row shows up against it.
namespace expected
{
struct Assignment
{
    juce::String type;
    int chan;
    int value;
};

inline Assignment mcpDefault (int id)
{
    static const int row42[] = { 50, 48, 49, 46, 47, 52, 53 };
    static const int row75[] = { 83, 91, 86, 92, 88, 89, 90, 95, 94, 93, 101, 96, 98, 100, 99, 97 };

    if (id <= 40)               return { "note", 1, id - 1 };
    if (id == 41)               return { "note", 1, 0 };
    if (id <= 48)               return { "note", 1, row42[id - 42] };
    if (id <= 52)               return { "note", 1, 0 };
    if (id <= 60)               return { "note", 1, id + 1 };
    if (id <= 66)               return { "note", 1, id - 21 };
    if (id <= 74)               return { "note", 1, id + 7 };
    if (id <= 90)               return { "note", 1, row75[id - 75] };
    if (id <= 98)               return { "cc", 1, id - 75 };
    if (id == 99)               return { "cc", 1, 60 };
    if (id <= 107)              return { "pitch", id - 99, 0 };
    return { "pitch", 9, 0 };
}

inline Assignment logicDefault (int id)
{
    static const std::map<int, int> changed { { 49, 71 }, { 50, 51 }, { 51, 73 }, { 52, 70 },
        { 62, 42 }, { 63, 44 }, { 64, 41 }, { 65, 43 }, { 67, 79 }, { 68, 74 }, { 69, 75 },
        { 72, 76 }, { 73, 84 }, { 74, 85 }, { 75, 89 }, { 79, 87 }, { 80, 88 } };

    auto a = mcpDefault (id);
    if (auto it = changed.find (id); it != changed.end())
        a.value = it->second;
    return a;
}

inline Assignment huiDefault (int id)
{
    const juce::String type = id <= 54 ? "note" : "cc";

    if (id <= 40)  return { type, 1, id + 18 };
    if (id <= 88)  return { type, 1, 59 + (id - 41) };
    if (id == 89)  return { type, 1, 112 };
    if (id == 90)  return { type, 1, 111 };
    if (id <= 98)  return { type, 1, 9 + (id - 91) };
    if (id == 99)  return { type, 1, 17 };
    if (id <= 107) return { type, 1, id - 100 };
    return { type, 1, 8 };
}

inline Assignment expectedDefault (int mode, int id)
{
    switch (mode)
    {
        case 1:  return logicDefault (id);
        case 2:  return huiDefault (id);
        default: return mcpDefault (id);
    }
}

}
