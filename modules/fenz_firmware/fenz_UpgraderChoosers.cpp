#include "fenz_UpgraderChoosers.h"

#include "fenz_ChooserFrame.h"
#include "fenz_MidiPorts.h"
#include "fenz_Pause.h"

namespace fenz
{

namespace
{
    // The upgrader's choosers answer the dialog of their caller that they sit in: OK ends its
    // run with 1, Cancel closes it as its close button does, after waiting as long as the
    // chooser asks. Outside a dialog there is no one to answer, and a click does nothing.
    void answerDialog (juce::Component& chooser, juce::Button* clicked, juce::Button& ok, juce::Button& cancel,
                       int millisecondsBeforeCancelling)
    {
        auto* dialog = chooser.findParentComponentOfClass<juce::DialogWindow>();

        if (dialog == nullptr)
            return;

        if (clicked == &cancel)
        {
            if (millisecondsBeforeCancelling > 0)
                pauseMilliseconds (millisecondsBeforeCancelling);

            dialog->closeButtonPressed();
        }
        else if (clicked == &ok)
        {
            dialog->exitModalState (1);
        }
    }
}

juce::StringArray DeviceHelpers::getDeviceNames (bool outputs)
{
    return outputs ? MidiPorts::getDistinctOutputNames() : MidiPorts::getDistinctInputNames();
}

//==============================================================================
DeviceSelectComponent::DeviceSelectComponent()
{
    ChooserFrame::addParts (*this, okButton, "OK", cancelButton, comboBox);

    const auto names = DeviceHelpers::getDeviceNames (false);

    for (int i = 0; i < names.size(); ++i)
        comboBox.addItem (names[i], i + 1);

    // The first port is a suggestion, not the user's choice: no notification.
    comboBox.setSelectedId (names.isEmpty() ? 0 : 1, juce::dontSendNotification);
    selectedName = comboBox.getText();

    okButton.addListener (this);
    cancelButton.addListener (this);
    comboBox.addListener (this);

    setSize (ChooserFrame::width, ChooserFrame::height);
}

DeviceSelectComponent::~DeviceSelectComponent() = default;

void DeviceSelectComponent::paint (juce::Graphics&)
{
    // Nothing: the dialog's background shows through.
}

void DeviceSelectComponent::resized()
{
    ChooserFrame::layOut (*this, comboBox, okButton, cancelButton);
}

void DeviceSelectComponent::buttonClicked (juce::Button* button)
{
    // Cancel closes the dialog only after a 300 ms gap (blocking this thread), which the
    // upgrade steps may count on before they look at the ports again.
    answerDialog (*this, button, okButton, cancelButton, 300);
}

void DeviceSelectComponent::comboBoxChanged (juce::ComboBox* box)
{
    if (box != nullptr)
        selectedName = box->getText();
}

//==============================================================================
FirmwareSelectComponent::FirmwareSelectComponent (const juce::ValueTree& list)
    : firmwares (list.createCopy())
{
    ChooserFrame::addParts (*this, okButton, "OK", cancelButton, comboBox);

    for (int i = 0; i < firmwares.getNumChildren(); ++i)
    {
        const auto firmware = firmwares.getChild (i);
        comboBox.addItem (firmware["name"].toString() + " v" + firmware["version"].toString(), i + 1);
    }

    if (comboBox.getNumItems() > 0)
        comboBox.setSelectedId (1, juce::sendNotificationAsync);

    okButton.addListener (this);
    cancelButton.addListener (this);
    comboBox.addListener (this);

    setSize (ChooserFrame::width, ChooserFrame::height);
}

FirmwareSelectComponent::~FirmwareSelectComponent() = default;

void FirmwareSelectComponent::paint (juce::Graphics&)
{
    // Nothing: the dialog's background shows through.
}

void FirmwareSelectComponent::resized()
{
    ChooserFrame::layOut (*this, comboBox, okButton, cancelButton);
}

void FirmwareSelectComponent::buttonClicked (juce::Button* button)
{
    // Nothing waits for the ports here: Cancel closes at once.
    answerDialog (*this, button, okButton, cancelButton, 0);
}

void FirmwareSelectComponent::comboBoxChanged (juce::ComboBox*)
{
    // Nothing: the caller reads the selected index after the run.
}

} // namespace fenz
