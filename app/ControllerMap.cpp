#include "ControllerMap.h"

namespace
{
    // Looks a number up in a fixed list of names; a number outside the list gives one shared
    // empty text.
    const juce::String& entryOrEmpty (const juce::StringArray& names, int n)
    {
        static const juce::String empty;
        return juce::isPositiveAndBelow (n, names.size()) ? names.getReference (n) : empty;
    }

    const juce::Identifier controlType { "control" };
}

//==============================================================================
CtMode::CtMode (const juce::String& slug) : mode (0)
{
    // The order of comparison is that of the original slug list; the first equal slug wins.
    static const std::pair<const char*, int> slugsInTestOrder[] = {
        { "mackie", 0 }, { "cubase", 4 }, { "logic", 1 }, { "samplitude", 5 },
        { "ableton-live", 6 }, { "pro-tools", 2 }, { "reaper", 7 }, { "studio-one", 8 },
        { "reason", 9 }, { "bitwig", 10 }, { "user-defined", 3 }
    };

    const auto trimmed = slug.trim();

    for (const auto& [text, number] : slugsInTestOrder)
    {
        if (trimmed == text)
        {
            mode = number;
            return;
        }
    }
}

const juce::String& CtMode::slugForType (int m)
{
    static const juce::StringArray slugs { "mackie", "logic", "pro-tools", "user-defined", "cubase",
                                           "samplitude", "ableton-live", "reaper", "studio-one",
                                           "reason", "bitwig" };
    return entryOrEmpty (slugs, m);
}

const juce::String& CtMode::nameForType (int m)
{
    static const juce::StringArray names { "MCP", "Logic", "HUI", "User Defined (MCP)", "Cubase",
                                           "Samplitude", "Ableton Live", "Reaper", "Studio One",
                                           "Reason", "Bitwig" };
    return entryOrEmpty (names, m);
}

//==============================================================================
const juce::String& CtType::slugForType (int t)
{
    static const juce::StringArray slugs { "note", "cc", "pitch" };
    return entryOrEmpty (slugs, t);
}

//==============================================================================
const juce::String& CtKind::slugForType (int k)
{
    static const juce::StringArray slugs { "button", "knob", "jog-wheel", "fader", "master-fader" };
    return entryOrEmpty (slugs, k);
}

int CtKind::kindOfId (int id) noexcept
{
    for (int kind = 0; kind < numKinds; ++kind)
        if (id >= firstIds[kind] && id < firstIds[kind + 1])
            return kind;

    return -1;
}

int CtKind::subIndexOfId (int id) noexcept
{
    const auto kind = kindOfId (id);
    return kind < 0 ? -1 : id - firstIds[kind];
}

//==============================================================================
CtMap::CtMap (CtMode m) : tree (Tags::map)
{
    addMissingProperties();
    tree.setProperty (Tags::mode, CtMode::slugForType (m), nullptr);
    tree.setProperty (Tags::name, CtMode::nameForType (m), nullptr);
    setDefaultValues();
}

void CtMap::addMissingProperties()
{
    tree.setProperty (Tags::mode, CtMode::slugForType (CtMode::mcp), nullptr);
    tree.setProperty (Tags::name, CtMode::nameForType (CtMode::mcp), nullptr);

    auto controls = tree.getOrCreateChildWithName (Tags::controls, nullptr);

    for (int i = controls.getNumChildren(); --i >= 0;)
        controls.removeChild (i, nullptr);

    for (int id = 1; id <= CtKind::numControls; ++id)
        controls.addChild (makeControl (id, CtType::slugForType (0), 1, 0), id - 1, nullptr);
}

juce::ValueTree CtMap::makeControl (int id, const juce::String& type, int chan, int value)
{
    juce::ValueTree control (controlType);
    control.setProperty (Tags::id, id, nullptr);
    control.setProperty (Tags::kind, CtKind::slugForType (CtKind::kindOfId (id)), nullptr);
    control.setProperty (Tags::type, type, nullptr);
    control.setProperty (Tags::chan, chan, nullptr);
    control.setProperty (Tags::value, value, nullptr);
    return control;
}

CtMode CtMap::getCtMode() const
{
    return CtMode (tree.getProperty (Tags::mode, juce::String()).toString());
}

juce::ValueTree CtMap::getControl (int id) const
{
    return tree.getChildWithName (Tags::controls).getChildWithProperty (Tags::id, juce::var (id));
}
