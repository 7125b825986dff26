#include "fenz_UpgraderChoosers.h"

#include "fenz_MidiPorts.h"
#include "fenz_Pause.h"

namespace fenz
{

namespace
{
    // The upgrader's choosers sit in dialogs of their callers; their answers go to that dialog.
    juce::DialogWindow* enclosingDialog (juce::Component& c)
    {
        return c.findParentComponentOfClass<juce::DialogWindow>();
    }

    // Both choosers place their box and buttons alike: the box across the middle, OK directly
    // left of Cancel in the bottom right corner, each button as wide as the space allows.
    void layOut (juce::Component& c, juce::ComboBox& box, juce::Button& ok, juce::Button& cancel)
    {
        const auto w = c.getWidth();
        const auto h = c.getHeight();

        box.setBounds (8, h / 2 - 24, w - 16, 24);

        const auto cancelWidth = juce::jmin (w, 100);
        const auto buttonHeight = juce::jmin (h, 30);
        cancel.setBounds (w - cancelWidth - 10, h - buttonHeight - 10, cancelWidth, buttonHeight);

        const auto okWidth = juce::jmin (w - cancelWidth, 100);
        ok.setBounds (w - cancelWidth - okWidth - 10, h - buttonHeight - 10, okWidth, buttonHeight);
    }
}

juce::StringArray DeviceHelpers::getDeviceNames (bool outputs)
{
    return outputs ? MidiPorts::getDistinctOutputNames() : MidiPorts::getDistinctInputNames();
}

//==============================================================================
DeviceSelectComponent::DeviceSelectComponent()
{
    setName ("DeviceSelectComponent");

    addAndMakeVisible (okButton);
    okButton.setButtonText ("OK");
    addAndMakeVisible (cancelButton);
    cancelButton.setButtonText ("Cancel");
    addAndMakeVisible (comboBox);

    const auto names = DeviceHelpers::getDeviceNames (false);

    for (int i = 0; i < names.size(); ++i)
        comboBox.addItem (names[i], i + 1);

    // The first port is a suggestion, not the user's choice: no notification.
    comboBox.setSelectedId (names.isEmpty() ? 0 : 1, juce::dontSendNotification);
    selectedName = comboBox.getText();

    okButton.addListener (this);
    cancelButton.addListener (this);
    comboBox.addListener (this);

    setSize (300, 200);
}

DeviceSelectComponent::~DeviceSelectComponent() = default;

void DeviceSelectComponent::paint (juce::Graphics&)
{
    // Nothing: the dialog's background shows through.
}

void DeviceSelectComponent::resized()
{
    layOut (*this, comboBox, okButton, cancelButton);
}

void DeviceSelectComponent::buttonClicked (juce::Button* button)
{
    auto* dialog = enclosingDialog (*this);

    if (dialog == nullptr)
        return;

    if (button == &cancelButton)
    {
        // Cancel closes the dialog only after a 300 ms gap (blocking this thread), which the
        // upgrade steps may count on before they look at the ports again.
        pauseMilliseconds (300);
        dialog->closeButtonPressed();
    }
    else if (button == &okButton)
    {
        dialog->exitModalState (1);
    }
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
    setName ("DeviceSelectComponent");

    addAndMakeVisible (okButton);
    okButton.setButtonText ("OK");
    addAndMakeVisible (cancelButton);
    cancelButton.setButtonText ("Cancel");
    addAndMakeVisible (comboBox);

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

    setSize (300, 200);
}

FirmwareSelectComponent::~FirmwareSelectComponent() = default;

void FirmwareSelectComponent::paint (juce::Graphics&)
{
    // Nothing: the dialog's background shows through.
}

void FirmwareSelectComponent::resized()
{
    layOut (*this, comboBox, okButton, cancelButton);
}

void FirmwareSelectComponent::buttonClicked (juce::Button* button)
{
    auto* dialog = enclosingDialog (*this);

    if (dialog == nullptr)
        return;

    if (button == &cancelButton)
        dialog->closeButtonPressed();
    else if (button == &okButton)
        dialog->exitModalState (1);
}

void FirmwareSelectComponent::comboBoxChanged (juce::ComboBox*)
{
    // Nothing: the caller reads the selected index after the run.
}

} // namespace fenz
