#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace fenz
{

namespace DeviceHelpers
{
    // The port layer's distinct MIDI output (true) or input (false) names: in the system's
    // order, each exact name once (the first stays), without empty or blank names.
    juce::StringArray getDeviceNames (bool outputs);
}

// The upgrader's port chooser: one item per MIDI input, the first preselected. Its caller runs
// it in a modal dialog that does not own it, reads selectedName after a result of 1 and
// deletes it.
class DeviceSelectComponent : public juce::Component,
                              public juce::Button::Listener,
                              public juce::ComboBox::Listener
{
public:
    DeviceSelectComponent();
    ~DeviceSelectComponent() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void buttonClicked (juce::Button*) override;
    void comboBoxChanged (juce::ComboBox*) override;

    juce::String selectedName;
    juce::ComboBox comboBox;
    juce::TextButton cancelButton;
    juce::TextButton okButton;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DeviceSelectComponent)
};

// The version chooser: one item per entry of a firmware list ("name v version"), the first
// selected. After a result of 1 the caller looks up the entry of the selected item index in
// firmwares.
class FirmwareSelectComponent : public juce::Component,
                                public juce::Button::Listener,
                                public juce::ComboBox::Listener
{
public:
    explicit FirmwareSelectComponent (const juce::ValueTree& list);
    ~FirmwareSelectComponent() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void buttonClicked (juce::Button*) override;
    void comboBoxChanged (juce::ComboBox*) override;

    juce::ComboBox comboBox;
    juce::TextButton cancelButton;
    juce::TextButton okButton;
    juce::ValueTree firmwares;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FirmwareSelectComponent)
};

} // namespace fenz
