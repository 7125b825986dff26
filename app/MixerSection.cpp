#include "MixerSection.h"
#include "Kestal.h"

#include <iterator>

// The order in which the widgets are created, added (so the order of the section's children,
// which the editor walks by index) and deleted.
const MixerSection::Slot MixerSection::childOrder[80] = {
    { panKnob, 1 }, { pushButton, 1 }, { recButton, 1 }, { fader, 1 },
    { panCaption, 1 }, { pushCaption, 1 },
    { panCaption, 2 }, { panCaption, 3 }, { panCaption, 4 }, { panCaption, 5 }, { panCaption, 6 }, { panCaption, 7 },
    { pushCaption, 2 }, { pushCaption, 3 }, { pushCaption, 4 }, { pushCaption, 5 }, { pushCaption, 6 }, { pushCaption, 7 },
    { numberLabel, 1 }, { numberLabel, 2 }, { numberLabel, 3 }, { numberLabel, 4 }, { numberLabel, 5 },
    { numberLabel, 6 }, { numberLabel, 7 },
    { fader, 2 }, { fader, 3 }, { fader, 4 }, { fader, 5 }, { fader, 6 }, { fader, 7 },
    { panCaption, 8 }, { pushCaption, 8 }, { numberLabel, 8 }, { fader, 8 },
    { panKnob, 2 }, { pushButton, 2 }, { panKnob, 3 }, { pushButton, 3 }, { panKnob, 4 }, { pushButton, 4 },
    { panKnob, 5 }, { pushButton, 5 }, { panKnob, 6 }, { pushButton, 6 }, { panKnob, 7 }, { pushButton, 7 },
    { panKnob, 8 }, { pushButton, 8 },
    { soloButton, 1 }, { muteButton, 1 }, { selButton, 1 },
    { recButton, 2 }, { soloButton, 2 }, { muteButton, 2 }, { selButton, 2 },
    { recButton, 3 }, { soloButton, 3 }, { muteButton, 3 }, { selButton, 3 },
    { recButton, 4 }, { soloButton, 4 }, { muteButton, 4 }, { selButton, 4 },
    { recButton, 5 }, { soloButton, 5 }, { muteButton, 5 }, { selButton, 5 },
    { recButton, 6 }, { soloButton, 6 }, { muteButton, 6 }, { selButton, 6 },
    { recButton, 7 }, { soloButton, 7 }, { muteButton, 7 }, { selButton, 7 },
    { recButton, 8 }, { soloButton, 8 }, { muteButton, 8 }, { selButton, 8 },
};

//==============================================================================
MixerSection::MixerSection()
{
    for (const auto& slot : childOrder)
        create (slot);

    setButtonTypes();
    setSize (600, 400);
}

MixerSection::~MixerSection()
{
    for (const auto& slot : childOrder)
        destroy (slot);
}

void MixerSection::paint (juce::Graphics&) {}

void MixerSection::buttonClicked (juce::Button*) {}

void MixerSection::resized()
{
    for (const auto& slot : childOrder)
        widgetAt (slot)->setBounds (boundsOf (slot.widget, slot.strip));
}

//==============================================================================
void MixerSection::setButtonTypes()
{
    const auto map = Kestal::currentMapOrNone();

    // Kind and caption first: the binding ends by refreshing the text, which depends on both.
    for (int s = 0; s < numStrips; ++s)
    {
        panKnobs[s]->attachedLabel = panCaptions[s].get();
        panKnobs[s]->kindIndex = CtKind::knob;
        panKnobs[s]->setMapping (map.getControl (CtKind::idOf (CtKind::knob, s)));
    }

    for (int s = 0; s < numStrips; ++s)
    {
        faders[s]->kindIndex = CtKind::fader;
        faders[s]->setMapping (map.getControl (CtKind::idOf (CtKind::fader, s)));
    }

    // The first buttons (controls 1 to 40), row by row: REC, SOLO, MUTE, SEL and knob-push
    // buttons, eight of each.
    std::unique_ptr<MappableButton>* rows[] = { recButtons, soloButtons, muteButtons, selButtons, pushButtons };

    for (int i = 0; i < (int) std::size (rows) * numStrips; ++i)
    {
        const int s = i % numStrips;
        auto* row = rows[i / numStrips];

        if (row == pushButtons)
            row[s]->attachedLabel = pushCaptions[s].get();

        row[s]->setMapping (map.getControl (CtKind::idOf (CtKind::button, i)));
    }
}

//==============================================================================
juce::Rectangle<int> MixerSection::boundsOf (Widget w, int strip)
{
    int x = 24 + 64 * (strip - 1);

    // A few labels stand a pixel or three off their column.
    if (w == panCaption && strip == 4)  x = 217;
    if (w == panCaption && strip == 5)  x = 281;
    if (w == pushCaption && strip == 6) x = 343;
    if (w == numberLabel && strip == 2) x = 85;
    if (w == numberLabel && strip == 3) x = 151;
    if (w == numberLabel && strip == 8) x = 471;

    switch (w)
    {
        case panCaption:  return { x, 22, 51, 24 };
        case panKnob:     return { x, 54, 51, 25 };
        case pushButton:  return { x, 80, 51, 25 };
        case pushCaption: return { x, 112, 51, 24 };
        case recButton:   return { x, 160, 51, 25 };
        case soloButton:  return { x, 200, 51, 25 };
        case muteButton:  return { x, 240, 51, 25 };
        case selButton:   return { x, 280, 51, 25 };
        case numberLabel: return { x, 320, 51, 24 };
        case fader:       return { x + 5, 391, 42, 68 };
    }

    return {};
}

juce::String MixerSection::initialTextOf (Widget w, int strip)
{
    const juce::String n (strip);

    switch (w)
    {
        case panCaption:  return "Pan. 1";
        case pushCaption: return "Mon1";
        case recButton:   return "REC.1";
        case soloButton:  return "SOLO." + n;
        case muteButton:  return "MUTE." + n;
        case selButton:   return "SEL." + n;
        case numberLabel: return "(" + n + ")";
        case fader:       return "Vol." + n;
        case panKnob:
        case pushButton:  break;
    }

    return {};
}

std::unique_ptr<MappableButton>* MixerSection::buttonsOf (Widget w)
{
    switch (w)
    {
        case panKnob:    return panKnobs;
        case pushButton: return pushButtons;
        case recButton:  return recButtons;
        case soloButton: return soloButtons;
        case muteButton: return muteButtons;
        case selButton:  return selButtons;
        case fader:      return faders;
        case panCaption:
        case pushCaption:
        case numberLabel: break;
    }

    return nullptr;
}

std::unique_ptr<juce::Label>* MixerSection::labelsOf (Widget w)
{
    switch (w)
    {
        case panCaption:  return panCaptions;
        case pushCaption: return pushCaptions;
        case numberLabel: return numberLabels;
        case panKnob:
        case pushButton:
        case recButton:
        case soloButton:
        case muteButton:
        case selButton:
        case fader:       break;
    }

    return nullptr;
}

juce::Component* MixerSection::widgetAt (const Slot& slot)
{
    const int s = slot.strip - 1;

    if (auto* buttons = buttonsOf (slot.widget))
        return buttons[s].get();

    return labelsOf (slot.widget)[s].get();
}

void MixerSection::create (const Slot& slot)
{
    const int s = slot.strip - 1;
    const auto text = initialTextOf (slot.widget, slot.strip);

    if (auto* buttons = buttonsOf (slot.widget))
    {
        auto& button = buttons[s];
        button = std::make_unique<MappableButton> (slot.widget == panKnob ? "pan" + juce::String (slot.strip)
                                                                          : juce::String ("new button"));
        addAndMakeVisible (button.get());
        button->setButtonText (text.isEmpty() ? text : juce::translate (text));
        button->addListener (this);
        return;
    }

    auto& label = labelsOf (slot.widget)[s];
    label = std::make_unique<juce::Label> ("new label", juce::translate (text));
    addAndMakeVisible (label.get());
    styleSectionLabel (*label);
}

void MixerSection::destroy (const Slot& slot)
{
    const int s = slot.strip - 1;

    if (auto* buttons = buttonsOf (slot.widget))
        buttons[s].reset();
    else
        labelsOf (slot.widget)[s].reset();
}
