#include "fenz_ChooserFrame.h"

namespace fenz
{

void ChooserFrame::addParts (juce::Component& chooser, juce::TextButton& accept, const juce::String& acceptText,
                             juce::TextButton& cancel, juce::ComboBox& box)
{
    chooser.setName ("DeviceSelectComponent");

    accept.setButtonText (acceptText);
    chooser.addAndMakeVisible (accept);
    cancel.setButtonText ("Cancel");
    chooser.addAndMakeVisible (cancel);
    chooser.addAndMakeVisible (box);
}

void ChooserFrame::layOut (juce::Component& chooser, juce::ComboBox& box, juce::Button& accept, juce::Button& cancel)
{
    const auto w = chooser.getWidth();
    const auto h = chooser.getHeight();

    box.setBounds (8, h / 2 - 24, w - 16, 24);

    const auto cancelWidth = juce::jmin (w, 100);
    const auto buttonHeight = juce::jmin (h, 30);
    cancel.setBounds (w - cancelWidth - 10, h - buttonHeight - 10, cancelWidth, buttonHeight);

    const auto acceptWidth = juce::jmin (w - cancelWidth, 100);
    accept.setBounds (w - cancelWidth - acceptWidth - 10, h - buttonHeight - 10, acceptWidth, buttonHeight);
}

} // namespace fenz
