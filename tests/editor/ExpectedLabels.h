#pragma once

#include <juce_core/juce_core.h>
#include "Arrays.h"
#include "ControllerMap.h"
#include "ExpectedDefaults.h"

// The label a control shows in a live mode with the built-in assignment, worked out from the
// labelling rules and the written-out defaults rather than from the default tables:
//  - a note names the note (in Logic mode the workstation function of that note),
//  - a control change reads "CC" and the controller number,
//  - a pitch bend reads "PB." and the channel,
//  - in HUI mode a button names the HUI item stored in the map, and the continuous controls
//    their fixed items.
namespace expected
{
inline juce::String labelOf (int mode, int id)
{
    if (mode == 2)
    {
        if (id <= 90)   return protoolsControlNames[huiDefault (id).value];
        if (id <= 98)   return "Pan." + juce::String (id - 90);
        if (id == 99)   return "Tape Tspt?";
        if (id <= 107)  return "Vol." + juce::String (id - 99);
        return "Vol.M?";
    }

    const auto a = expectedDefault (mode, id);

    if (a.type == "note")
        return mode == 1 ? juce::String (logicNotes[a.value]) : juce::String (NOTE[a.value]);

    if (a.type == "cc")
        return "CC" + juce::String (a.value);

    return "PB." + juce::String (a.chan);
}
}
