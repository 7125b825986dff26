#include "ControlSectionForTmr.h"
#include "Kestal.h"

#include <iterator>

namespace
{
    struct ButtonPlace
    {
        int x, y;
        const char* text;   // initial text, shown until the first binding
    };

    // The fifty buttons, by control id from 41; all are 51 by 25 pixels.
    const ButtonPlace buttonPlaces[ControlSection::numButtons] = {
        {   2,  96, "Name/ Value" },        // 41
        {   2, 136, "SMPTE" },
        {   2, 176, "<<" },
        {   2, 216, ">>" },
        {   2, 256, "DAW" },
        {   2, 296, "" },
        { 136,  40, "View Selecter" },      // 47
        { 200,  40, "Track/ Clip" },
        { 264,  40, "Show/Hide Browser" },
        { 328,  40, "Show/Clip Detail" },
        { 392,  40, "" },
        { 136, 125, "" },                   // 52
        { 200, 104, "" },                   // 53
        { 264, 104, "" },
        { 328, 104, "I/O" },
        { 392, 104, "Pan" },
        { 200, 144, "Send" },               // 57
        { 264, 144, "Instrmt Rack" },
        { 328, 144, "Return Track" },
        { 392, 144, "" },
        {  72, 208, "Draw Mode" },          // 61
        { 136, 208, "Follow" },
        { 200, 208, "Punch In" },
        { 264, 208, "Punch Out" },
        { 328, 208, "" },
        { 392, 208, "Undo" },
        {  72, 248, "Prev" },               // 67
        { 136, 248, "Add" },
        { 200, 248, "Next" },
        { 264, 248, "" },
        { 328, 248, "Start" },
        { 392, 248, "End" },
        {  72, 312, "" },                   // 73
        { 136, 312, "" },
        { 200, 312, "Lock" },
        { 264, 312, "Flip" },
        { 328, 312, "" },
        { 392, 312, "" },
        {  72, 352, "<<8" },                // 79
        { 136, 352, "8>>" },
        { 200, 352, "1<" },
        { 264, 352, ">1" },
        { 328, 352, "Rewind" },
        { 392, 352, "FastFwd" },
        { 264, 416, "Loop" },               // 85
        { 136, 416, "Stop" },
        {  72, 456, "Play" },               // 87
        { 136, 456, "Record" },
        { 200, 456, "Scrub" },
        { 136, 496, "Down" },               // 90
    };

    constexpr int jogWheelId = CtKind::idOf (CtKind::jogWheel, 0);
    constexpr int masterFaderId = CtKind::idOf (CtKind::masterFader, 0);
    constexpr int jogLabelSlot = 0;   // stands for the jog caption in the child order

    // The order in which the widgets are created, added (so the order of the section's
    // children, which the editor walks by index) and deleted: controls by id, and the caption.
    const int childOrder[] = {
        41, 42, 43, 44, 45,
        47, 48, 49, 50, 51, 52, 53, 54,
        57, 58, 59, 60,
        63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82,
        85, 86, 87, 88, 89,
        46, 55, 56, 61, 62, 83, 84, 90,
        jogWheelId, jogLabelSlot, masterFaderId
    };

    juce::String translatedUnlessEmpty (const juce::String& text)
    {
        return text.isEmpty() ? text : juce::translate (text);
    }
}

//==============================================================================
ControlSection::ControlSection()
{
    setName ("ControlSection");

    for (const int slot : childOrder)
    {
        if (slot == jogLabelSlot)
        {
            jogLabel = std::make_unique<juce::Label> ("jogLabel", juce::translate ("Tape Tspt"));
            addAndMakeVisible (jogLabel.get());
            styleSectionLabel (*jogLabel);
            continue;
        }

        auto button = std::make_unique<MappableButton> ("new button");
        addAndMakeVisible (button.get());

        if (slot == jogWheelId)
            button->setButtonText (juce::String());
        else if (slot == masterFaderId)
            button->setButtonText (juce::translate ("Vol.M"));
        else
            button->setButtonText (translatedUnlessEmpty (buttonPlaces[slot - firstButtonId].text));

        button->addListener (this);

        if (slot == jogWheelId)           jogWheel = std::move (button);
        else if (slot == masterFaderId)   masterFader = std::move (button);
        else                              buttons[slot - firstButtonId] = std::move (button);
    }

    setSize (600, 400);
    setButtonTypes();
}

ControlSection::~ControlSection()
{
    for (int position = 0; position < (int) std::size (childOrder); ++position)
        resetChild (position);
}

void ControlSection::paint (juce::Graphics&) {}

void ControlSection::buttonClicked (juce::Button*) {}

void ControlSection::resized()
{
    for (int position = 0; position < (int) std::size (childOrder); ++position)
    {
        const int slot = childOrder[position];
        juce::Rectangle<int> bounds;

        if (slot == jogWheelId)          bounds = { 343, 429, 96, 96 };
        else if (slot == jogLabelSlot)   bounds = { 344, 528, 96, 32 };
        else if (slot == masterFaderId)  bounds = { 2, 435, 42, 68 };
        else
        {
            const auto& place = buttonPlaces[slot - firstButtonId];
            bounds = { place.x, place.y, 51, 25 };
        }

        childAt (position)->setBounds (bounds);
    }
}

//==============================================================================
void ControlSection::setButtonTypes()
{
    const auto map = Kestal::currentMapOrNone();

    for (int k = 0; k < numButtons; ++k)
        buttons[k]->setMapping (map.getControl (firstButtonId + k));

    // Kind and caption first: the binding ends by refreshing the text, which depends on both.
    jogWheel->attachedLabel = jogLabel.get();
    jogWheel->kindIndex = CtKind::jogWheel;
    jogWheel->setMapping (map.getControl (jogWheelId));

    masterFader->kindIndex = CtKind::masterFader;
    masterFader->setMapping (map.getControl (masterFaderId));
}

//==============================================================================
juce::Component* ControlSection::childAt (int position)
{
    const int slot = childOrder[position];

    if (slot == jogWheelId)     return jogWheel.get();
    if (slot == jogLabelSlot)   return jogLabel.get();
    if (slot == masterFaderId)  return masterFader.get();
    return buttons[slot - firstButtonId].get();
}

void ControlSection::resetChild (int position)
{
    const int slot = childOrder[position];

    if (slot == jogWheelId)          jogWheel.reset();
    else if (slot == jogLabelSlot)   jogLabel.reset();
    else if (slot == masterFaderId)  masterFader.reset();
    else                             buttons[slot - firstButtonId].reset();
}
