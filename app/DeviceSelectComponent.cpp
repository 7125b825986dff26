#include "DeviceSelectComponent.h"

#include "fenz_ChooserFrame.h"
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
    fenz::ChooserFrame::addParts (*this, connectButton, "Connect", cancelButton, portList);

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

    setSize (fenz::ChooserFrame::width, fenz::ChooserFrame::height);
}

DeviceSelectComponent::~DeviceSelectComponent() = default;

void DeviceSelectComponent::paint (juce::Graphics&)
{
    // Nothing: the dialog's background shows through.
}

void DeviceSelectComponent::resized()
{
    fenz::ChooserFrame::layOut (*this, portList, connectButton, cancelButton);
}

// The editor's own answers, unlike the upgrader's choosers': Connect takes the shown name even
// where it cannot end the run, and ends it only with a surface's name.
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
