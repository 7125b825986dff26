#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace fenz
{

// The frame every chooser of ours shares, the editor's port chooser as well as the upgrader's
// port and version choosers: a box to pick from across the middle, and the button that accepts
// directly left of Cancel in the bottom right corner. A chooser keeps its parts as its own
// members and gives its own answers; this only names, adds and places the parts it hands over.
namespace ChooserFrame
{
    /** The size a chooser is made with. */
    constexpr int width = 300, height = 200;

    /** Names the chooser "DeviceSelectComponent" and adds, all visible and in this order (its
        child order), the accepting button with the given text, the Cancel button and the box. */
    void addParts (juce::Component& chooser, juce::TextButton& accept, const juce::String& acceptText,
                   juce::TextButton& cancel, juce::ComboBox& box);

    /** Places the parts in the chooser's bounds: the box across the middle, Cancel in the bottom
        right corner and the accepting button directly left of it, each button as wide as the
        space allows up to 100 pixels and as high as it allows up to 30, Cancel first. */
    void layOut (juce::Component& chooser, juce::ComboBox& box, juce::Button& accept, juce::Button& cancel);
}

} // namespace fenz
