#pragma once

#include <juce_core/juce_core.h>

namespace fenz
{

// The maker's catalogue of device models: which model a MIDI port belongs to, judged by the
// port's name, and what a product id is called on screen. Nothing is stored; every answer
// depends on the arguments alone, so any thread may ask.
struct Product
{
    using PID = int;

    static constexpr PID tamrel  = 176;   // the main unit
    static constexpr PID ostrel  = 177;   // the extender
    static constexpr PID noModel = 2000;  // no model recognised from the port name

    // The display name of a catalogued id; "Unknown" for any other value.
    static juce::String getName (PID pid);

    // The id of the model whose port-name pattern fits the given name (case and surrounding
    // blanks ignored), or noModel when none does.
    static PID fromDeviceName (const juce::String& name);

    Product() = delete;
};

} // namespace fenz
