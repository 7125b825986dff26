#pragma once

#include <juce_core/juce_core.h>

// Node and property identifiers of the mapping document. The control node's own type and the
// root's "current" property are not listed here: they are spelled where they are used.
namespace Tags
{
    static const juce::Identifier id       { "id" };
    static const juce::Identifier kind     { "kind" };
    static const juce::Identifier type     { "type" };
    static const juce::Identifier chan     { "chan" };
    static const juce::Identifier value    { "value" };
    static const juce::Identifier name     { "name" };
    static const juce::Identifier controls { "controls" };
    static const juce::Identifier map      { "map" };
    static const juce::Identifier mode     { "mode" };
    static const juce::Identifier modes    { "modes" };
}
