#include "Buttons.h"
#include "Arrays.h"
#include "Kestal.h"

#include <iterator>

namespace
{
    // A row of a 128-row name table; a row number outside the table has no name.
    juce::String nameRow (const NameTable& table, int row)
    {
        return juce::isPositiveAndBelow (row, (int) std::size (table)) ? juce::String (table[row])
                                                                        : juce::String();
    }

    // Whether a HUI label search of the given kind finds the item: it goes through the first
    // huiLabelCounts entries of the kind's item list.
    bool isHuiItemOfKind (int kind, int item)
    {
        return juce::isPositiveAndBelow (kind, CtKind::numKinds)
                 && huiItemsOfKind (kind).holdsAmongFirst (huiLabelCounts[kind], item);
    }
}

//==============================================================================
MappableButton::MappableButton (const juce::String& name) : juce::TextButton (name)
{
    setColour (juce::TextButton::buttonColourId, juce::Colour (0xff222222));
    setColour (juce::TextButton::buttonOnColourId, juce::Colour (0x804455a8));
    setClickingTogglesState (false);
}

MappableButton::~MappableButton() = default;

void MappableButton::mouseEnter (const juce::MouseEvent&)
{
    if (getToggleState())
        setTooltip (getLabelText());
}

void MappableButton::mouseExit (const juce::MouseEvent&)
{
    setTooltip (juce::String());
}

void MappableButton::updateText()
{
    const auto labelText = getLabelText();

    if (attachedLabel != nullptr)
        attachedLabel->setText (labelText, juce::dontSendNotification);
    else
        setButtonText (labelText);
}

juce::String MappableButton::getLabelText()
{
    auto* kestal = Kestal::getInstanceWithoutCreating();

    if (kestal == nullptr || ! CtKind::isValidId (controlId))
        return {};

    const int mode = kestal->impl->currentMap.getCtMode();
    const auto* table = Defa::tableForMode (mode);

    if (table == nullptr)
        return {};

    const int id = controlId;
    const uint8_t* entry = table[id - 1];
    const int typeNibble = entry[0];
    const int channel = (entry[1] & 0x0F) + 1;
    const int data = entry[2];

    // Logic mode names its note buttons after the workstation's functions.
    if (mode == CtMode::logic && typeNibble == 0x9)
        return nameRow (logicNotes, data);

    // HUI mode names every control after its HUI item; only a button's item follows the
    // number stored in the map.
    if (mode == CtMode::hui)
    {
        const int fixedItem = fixedHuiItemOf (id);
        const int item = fixedItem >= 0 ? fixedItem : (int) value.getValue();

        return isHuiItemOfKind (kindIndex, item) ? nameRow (protoolsControlNames, item) : juce::String();
    }

    switch (typeNibble)
    {
        case 0x9: return nameRow (NOTE, data);
        case 0xB: return "CC" + juce::String (data);
        case 0xC: return "PC" + juce::String (data);
        case 0xE: return "PB." + juce::String (channel);
        default:  return "eMidiType";
    }
}

void MappableButton::setMapping (juce::ValueTree node)
{
    controlId = (int) node.getProperty (Tags::id);
    type.referTo (node.getPropertyAsValue (Tags::type, nullptr));
    chan.referTo (node.getPropertyAsValue (Tags::chan, nullptr));
    value.referTo (node.getPropertyAsValue (Tags::value, nullptr));
    updateText();
}

//==============================================================================
void styleSectionLabel (juce::Label& label)
{
    label.setFont (juce::Font (15.0f, juce::Font::plain).withTypefaceStyle ("Regular"));
    label.setJustificationType (juce::Justification::centred);
    label.setEditable (false, false, false);
    label.setColour (juce::Label::textColourId, juce::Colours::black);
    label.setColour (juce::TextEditor::textColourId, juce::Colours::black);
    label.setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));
}

//==============================================================================
ControlModeComboBox::ControlModeComboBox() : juce::ComboBox (juce::String()) {}
ControlModeComboBox::~ControlModeComboBox() = default;

MapComboBox::MapComboBox() : juce::ComboBox (juce::String()) {}
MapComboBox::~MapComboBox() = default;

CommandButton::CommandButton() : juce::TextButton (juce::String()) {}
CommandButton::~CommandButton() = default;
