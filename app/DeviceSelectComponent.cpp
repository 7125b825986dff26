#include "DeviceSelectComponent.h"

#include "fenz_MidiPorts.h"

juce::String g_lastSelectedDevice;

namespace DeviceSelectHelper
{

bool validDeviceName (const juce::String& name)
{
    if (name.containsIgnoreCase ("Varn"))
        return true;

    return name.containsIgnoreCase ("fenz") && name.containsIgnoreCase ("midi");
}

juce::StringArray listedDeviceNames()
{
    juce::StringArray listed;

    for (const auto& name : fenz::MidiPorts::getDistinctOutputNames())
        if (validDeviceName (name))
            listed.add (name);

    return listed;
}

} // namespace DeviceSelectHelper

DeviceSelectComponent::DeviceSelectComponent()
{
    setName ("DeviceSelectComponent");

    connectButton.setButtonText ("Connect");
    addAndMakeVisible (connectButton);
    cancelButton.setButtonText ("Cancel");
    addAndMakeVisible (cancelButton);
    addAndMakeVisible (portList);

    const auto names = DeviceSelectHelper::listedDeviceNames();

    for (int i = 0; i < names.size(); ++i)
        portList.addItem (names[i], i + 1);

    selectedName = g_lastSelectedDevice;

    // Filling in the port chosen last is not a user's choice: no notification.
    if (names.size() > 0)
        portList.setSelectedItemIndex (juce::jmax (0, names.indexOf (g_lastSelectedDevice)),
                                       juce::dontSendNotification);

    connectButton.addListener (this);
    cancelButton.addListener (this);
    portList.addListener (this);

    setSize (300, 200);
}

DeviceSelectComponent::~DeviceSelectComponent() = default;

void DeviceSelectComponent::paint (juce::Graphics&)
{
    // Nothing: the dialog's background shows through.
}

void DeviceSelectComponent::resized()
{
    const auto w = getWidth();
    const auto h = getHeight();

    portList.setBounds (8, h / 2 - 24, w - 16, 24);

    const auto cw = juce::jmin (w, 100);
    const auto ch = juce::jmin (h, 30);
    cancelButton.setBounds (w - cw - 10, h - ch - 10, cw, ch);

    const auto kw = juce::jmin (w - cw, 100);
    connectButton.setBounds (w - cw - kw - 10, h - ch - 10, kw, ch);
}

void DeviceSelectComponent::buttonClicked (juce::Button* button)
{
    if (button == &cancelButton)
    {
        if (auto* dialog = findParentComponentOfClass<juce::DialogWindow>())
            dialog->closeButtonPressed();
    }
    else if (button == &connectButton)
    {
        selectedName = portList.getText();
        g_lastSelectedDevice = selectedName;

        // With no surface in the list there is nothing to accept; only Cancel ends the dialog.
        if (DeviceSelectHelper::validDeviceName (selectedName))
        {
            if (auto* dialog = findParentComponentOfClass<juce::DialogWindow>())
                dialog->exitModalState (1);
        }
    }
}

void DeviceSelectComponent::comboBoxChanged (juce::ComboBox* box)
{
    if (box != nullptr)
        selectedName = box->getText();
}
