#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The name of the MIDI output that the editor treats as the surface. Empty until the editor's
// automatic pick finds a surface or the device chooser stores a name.
extern juce::String g_lastSelectedDevice;

// The port-name rule shared by the device chooser and the editor's automatic pick.
namespace DeviceSelectHelper
{
    /** True for a name that looks like one of our surfaces' ports: it contains "Varn", or both
        "fenz" and "midi", each in any letter case. The name is tested as it is, untrimmed. */
    bool validDeviceName (const juce::String& name);

    /** The port layer's distinct MIDI output names (in the system's order, each exact name
        once, no blank ones) that pass validDeviceName. */
    juce::StringArray listedDeviceNames();
}

// The modal chooser's content in which the user picks the surface's MIDI output. Its caller
// shows it in a dialog that does not own it, reads selectedName after an accepted run and
// deletes it afterwards.
class DeviceSelectComponent  : public juce::Component,
                               public juce::Button::Listener,
                               public juce::ComboBox::Listener
{
public:
    DeviceSelectComponent();
    ~DeviceSelectComponent() override;

    void paint (juce::Graphics& g) override;
    void resized() override;
    void buttonClicked (juce::Button* button) override;
    void comboBoxChanged (juce::ComboBox* box) override;

    juce::String selectedName;

private:
    juce::ComboBox portList;
    juce::TextButton cancelButton;
    juce::TextButton connectButton;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DeviceSelectComponent)
};
