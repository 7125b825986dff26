#pragma once

#include <juce_gui_basics/juce_gui_basics.h>
#include "Buttons.h"

// The main unit's function and transport area: fifty buttons (controls 41 to 90), the jog
// wheel (99) with its caption and the master fader (108). The section only creates, places and
// binds its widgets; the editor reaches them as its children, by child index, so the order in
// which they are added matters.
class ControlSection : public juce::Component,
                       public juce::Button::Listener
{
public:
    ControlSection();
    ~ControlSection() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void buttonClicked (juce::Button*) override;

    /** Binds every control of the section to its node in the current map and refreshes the
        texts. Called again after every change of the current map. */
    void setButtonTypes();

    static constexpr int firstButtonId = 41;
    static constexpr int numButtons = 50;

private:
    juce::Component* childAt (int position);
    void resetChild (int position);

    std::unique_ptr<MappableButton> buttons[numButtons];   // button k is bound to control 41 + k
    std::unique_ptr<MappableButton> jogWheel;
    std::unique_ptr<juce::Label> jogLabel;
    std::unique_ptr<MappableButton> masterFader;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ControlSection)
};
