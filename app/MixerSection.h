#pragma once

#include <juce_gui_basics/juce_gui_basics.h>
#include "Buttons.h"

// The eight channel strips of the surface: per strip a pan knob with its caption, the
// knob-push button with its caption, the REC, SOLO, MUTE and SEL buttons, the strip's number
// and the fader. The section only creates, places and binds its widgets; the editor reaches
// them as its children, by child index, so the order in which they are added matters.
class MixerSection : public juce::Component,
                     public juce::Button::Listener
{
public:
    MixerSection();
    ~MixerSection() override;

    void paint (juce::Graphics&) override;
    void resized() override;
    void buttonClicked (juce::Button*) override;

    /** Binds every control of the section to its node in the current map and refreshes the
        texts. Called again after every change of the current map. */
    void setButtonTypes();

    static constexpr int numStrips = 8;

private:
    // The ten widgets of a strip.
    enum Widget
    {
        panCaption, panKnob, pushButton, pushCaption, recButton, soloButton, muteButton, selButton,
        numberLabel, fader
    };

    struct Slot
    {
        Widget widget;
        int strip;   // 1 to 8
    };

    static const Slot childOrder[80];

    static juce::Rectangle<int> boundsOf (Widget, int strip);
    static juce::String initialTextOf (Widget, int strip);

    std::unique_ptr<MappableButton>* buttonsOf (Widget);   // nullptr for a label
    std::unique_ptr<juce::Label>* labelsOf (Widget);       // nullptr for a button
    juce::Component* widgetAt (const Slot&);
    void create (const Slot&);
    void destroy (const Slot&);

    // One owning pointer per widget, indexed by strip - 1.
    std::unique_ptr<MappableButton> panKnobs[numStrips], pushButtons[numStrips], recButtons[numStrips],
                                    soloButtons[numStrips], muteButtons[numStrips], selButtons[numStrips],
                                    faders[numStrips];
    std::unique_ptr<juce::Label> panCaptions[numStrips], pushCaptions[numStrips], numberLabels[numStrips];

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MixerSection)
};
