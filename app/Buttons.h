#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// One on-screen surface control, bound to one `control` node of the current mode's map. It
// shows the control's assignment as a short label and keeps live links to the node's "type",
// "chan" and "value" properties, through which the attribute boxes edit the assignment.
// The editor marks the selected control by switching its toggle state on.
class MappableButton : public juce::TextButton
{
public:
    explicit MappableButton (const juce::String& name);
    ~MappableButton() override;

    void mouseEnter (const juce::MouseEvent&) override;
    void mouseExit (const juce::MouseEvent&) override;

    /** Puts the control's label into the caption label when one is attached, else onto the
        button itself. */
    virtual void updateText();

    /** The control's display text in the current mode; empty where the control, the mode or
        the assignment has no name. */
    virtual juce::String getLabelText();

    /** Binds the button to a control node, replacing any earlier binding, and refreshes its
        text. */
    void setMapping (juce::ValueTree node);

    juce::Label* attachedLabel = nullptr;   // caption beside the button, not owned
    int kindIndex = 0;                      // 0 button, 1 knob, 2 jog wheel, 3 fader, 4 master fader
    int controlId = -1;                     // id of the bound control, 1 to 108
    juce::Value value { juce::var (0) };
    juce::Value chan;
    juce::Value type { juce::var (0) };

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MappableButton)
};

// The look the surface sections give their caption and number labels: centred black text of
// height 15, not editable.
void styleSectionLabel (juce::Label& label);

// The control-mode box; the editor gives it its four items.
class ControlModeComboBox : public juce::ComboBox
{
public:
    ControlModeComboBox();
    ~ControlModeComboBox() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ControlModeComboBox)
};

// A combo box with an int behind each item: entry i of itemValues belongs to the item at
// index i.
class MapComboBox : public juce::ComboBox
{
public:
    MapComboBox();
    ~MapComboBox() override;

    juce::Array<int> itemValues;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MapComboBox)
};

// One of the editor's command buttons; the editor gives it its text.
class CommandButton : public juce::TextButton
{
public:
    CommandButton();
    ~CommandButton() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CommandButton)
};
