#include "Buttons.h"
#include "Arrays.h"
#include "Kestal.h"

#include <algorithm>
#include <iterator>

namespace
{
    // A row of a 128-row name table; a row number outside the table has no name.
    juce::String nameRow (const NameTable& table, int row)
    {
        return juce::isPositiveAndBelow (row, (int) std::size (table)) ? juce::String (table[row])
                                                                        : juce::String();
    }

    // The HUI item numbers a control of the given kind may carry. A kind's label count can
    // exceed the length of its list (the jog wheel's list is the one item 17), so the search
    // never goes past the list's own end.
    bool isHuiItemOfKind (int kind, int item)
    {
        static const uint8_t jogWheelItems[] = { 17 };

        const uint8_t* list = nullptr;
        int length = 0;

        switch (kind)
        {
            case CtKind::button:      list = protoolsButtonIndexes;      length = (int) std::size (protoolsButtonIndexes);      break;
            case CtKind::knob:        list = protoolsKnobIndexes;        length = (int) std::size (protoolsKnobIndexes);        break;
            case CtKind::jogWheel:    list = jogWheelItems;              length = (int) std::size (jogWheelItems);              break;
            case CtKind::fader:       list = protoolsFaderIndexes;       length = (int) std::size (protoolsFaderIndexes);       break;
            case CtKind::masterFader: list = protoolsMasterFaderIndexes; length = (int) std::size (protoolsMasterFaderIndexes); break;
            default: return false;
        }

        const int count = std::min (huiLabelCounts[kind], length);
        return std::find (list, list + count, item) != list + count;
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
        const int s = CtKind::subIndexOfId (id);
        int item;

        switch (CtKind::kindOfId (id))
        {
            case CtKind::knob:        item = protoolsKnobIndexes[s];  break;
            case CtKind::fader:       item = protoolsFaderIndexes[s]; break;
            case CtKind::jogWheel:    item = 17;                      break;
            case CtKind::masterFader: item = 8;                       break;
            default:                  item = (int) value.getValue();  break;
        }

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
