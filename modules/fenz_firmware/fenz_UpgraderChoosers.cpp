#include "fenz_UpgraderChoosers.h"

namespace fenz
{

// Not built yet.
juce::StringArray DeviceHelpers::getDeviceNames (bool)                  { return {}; }

DeviceSelectComponent::DeviceSelectComponent()                          {}
DeviceSelectComponent::~DeviceSelectComponent()                         {}
void DeviceSelectComponent::paint (juce::Graphics&)                     {}
void DeviceSelectComponent::resized()                                   {}
void DeviceSelectComponent::buttonClicked (juce::Button*)               {}
void DeviceSelectComponent::comboBoxChanged (juce::ComboBox*)           {}

FirmwareSelectComponent::FirmwareSelectComponent (const juce::ValueTree&) {}
FirmwareSelectComponent::~FirmwareSelectComponent()                     {}
void FirmwareSelectComponent::paint (juce::Graphics&)                   {}
void FirmwareSelectComponent::resized()                                 {}
void FirmwareSelectComponent::buttonClicked (juce::Button*)             {}
void FirmwareSelectComponent::comboBoxChanged (juce::ComboBox*)         {}

} // namespace fenz
