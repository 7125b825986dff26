#pragma once

#include <juce_data_structures/juce_data_structures.h>
#include "Tags.h"

// A control mode: 0 MCP, 1 Logic, 2 HUI, 3 User Defined (MCP) are the live ones; 4 to 10 exist
// only as names.
struct CtMode
{
    enum : int { mcp = 0, logic = 1, hui = 2, userDefined = 3 };

    CtMode (int m) noexcept : mode (m) {}
    explicit CtMode (const juce::String& slug);

    operator int() const noexcept { return mode; }

    static const juce::String& slugForType (int m);
    static const juce::String& nameForType (int m);

    /** Modes that have a map, a default table and a transfer command. */
    static constexpr int numLiveModes = 4;
    static bool isLive (int m) noexcept { return m >= 0 && m < numLiveModes; }

    int mode;
};

// Message type of a control: 0 note, 1 control change, 2 pitch bend.
struct CtType
{
    CtType (int t) noexcept : type (t) {}
    operator int() const noexcept { return type; }

    static const juce::String& slugForType (int t);
    const juce::String& getSlug() const { return slugForType (type); }

    int type;
};

// Kind of control: 0 button, 1 knob, 2 jog wheel, 3 fader, 4 master fader. The controls of a
// kind have consecutive ids, and the kinds follow one another in this order: buttons 1 to 90,
// knobs 91 to 98, the jog wheel 99, faders 100 to 107 and the master fader 108.
struct CtKind
{
    enum : int { button = 0, knob = 1, jogWheel = 2, fader = 3, masterFader = 4 };
    static constexpr int numKinds = 5;

    static const juce::String& slugForType (int k);

    static constexpr int numControls = 108;
    static bool isValidId (int id) noexcept { return id >= 1 && id <= numControls; }

    /** The kind number that a control id stands for; -1 outside 1 to 108. */
    static int kindOfId (int id) noexcept;
    /** The position of a control among the controls of its kind; -1 outside 1 to 108. */
    static int subIndexOfId (int id) noexcept;

    /** The id of the control at a position among the controls of its kind; -1 for a kind or a
        position that has no control. */
    static constexpr int idOf (int kind, int subIndex) noexcept
    {
        return kind >= 0 && kind < numKinds && subIndex >= 0 && subIndex < firstIds[kind + 1] - firstIds[kind]
                 ? firstIds[kind] + subIndex
                 : -1;
    }

private:
    // The first id of each kind, and one past the last control's.
    static constexpr int firstIds[numKinds + 1] = { 1, 91, 99, 100, 108, numControls + 1 };
};

// A handle on one mode's `map` node. Copies share the node.
class CtMap
{
public:
    explicit CtMap (CtMode m);
    explicit CtMap (const juce::ValueTree& mapNode) : tree (mapNode) {}

    void addMissingProperties();
    void setDefaultValues();
    CtMode getCtMode() const;
    juce::ValueTree getControl (int id) const;

    /** A control node with its properties in the order the system writes them. */
    static juce::ValueTree makeControl (int id, const juce::String& type, int chan, int value);

    /** The control that takes the place of one a mapping file of mode m lacks: the mode's
        built-in assignment; in the user-defined mode a note on channel 1, number 0. */
    static juce::ValueTree makeStandInControl (CtMode m, int id);

    juce::ValueTree tree;
};
