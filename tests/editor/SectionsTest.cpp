#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>
#include "MixerSection.h"
#include "ControlSectionForTmr.h"
#include "KestalFixture.h"
#include "ExpectedLabels.h"

namespace
{
    // What a child of a section should be.
    struct ExpectedChild
    {
        bool isButton;
        juce::String name;
        int id;                      // buttons: bound control id
        int kind;                    // buttons: kind index
        juce::String initialText;
        juce::Rectangle<int> bounds;
        int captionOf;               // labels: id of the control whose text they show, 0 for none
        int captionIndex;            // buttons: child index of the attached caption, -1 for none
    };

    //==========================================================================
    // The mixer's strips, as the layout describes them.
    enum StripWidget { panCaption, panKnob, pushButton, pushCaption, rec, solo, mute, sel, number, fader };

    int columnOf (StripWidget w, int s)
    {
        // The few labels drawn off their column.
        if (w == panCaption && s == 4)  return 217;
        if (w == panCaption && s == 5)  return 281;
        if (w == pushCaption && s == 6) return 343;
        if (w == number && s == 2)      return 85;
        if (w == number && s == 3)      return 151;
        if (w == number && s == 8)      return 471;
        return 24 + 64 * (s - 1);
    }

    std::vector<std::pair<StripWidget, int>> mixerChildOrder()
    {
        std::vector<std::pair<StripWidget, int>> order { { panKnob, 1 }, { pushButton, 1 }, { rec, 1 }, { fader, 1 },
                                                         { panCaption, 1 }, { pushCaption, 1 } };
        for (int s = 2; s <= 7; ++s) order.push_back ({ panCaption, s });
        for (int s = 2; s <= 7; ++s) order.push_back ({ pushCaption, s });
        for (int s = 1; s <= 7; ++s) order.push_back ({ number, s });
        for (int s = 2; s <= 7; ++s) order.push_back ({ fader, s });
        for (auto w : { panCaption, pushCaption, number, fader }) order.push_back ({ w, 8 });
        for (int s = 2; s <= 8; ++s) { order.push_back ({ panKnob, s }); order.push_back ({ pushButton, s }); }
        for (auto w : { solo, mute, sel }) order.push_back ({ w, 1 });
        for (int s = 2; s <= 8; ++s)
            for (auto w : { rec, solo, mute, sel })
                order.push_back ({ w, s });
        return order;
    }

    std::vector<ExpectedChild> expectedMixerChildren()
    {
        const auto order = mixerChildOrder();
        auto indexOf = [&] (StripWidget w, int s)
        {
            return (int) (std::find (order.begin(), order.end(), std::make_pair (w, s)) - order.begin());
        };

        std::vector<ExpectedChild> children;

        for (const auto& [w, s] : order)
        {
            const int x = columnOf (w, s);
            const juce::String n (s);

            switch (w)
            {
                case panCaption:  children.push_back ({ false, "new label", 0, 0, "Pan. 1", { x, 22, 51, 24 }, 90 + s, -1 }); break;
                case panKnob:     children.push_back ({ true, "pan" + n, 90 + s, 1, "", { x, 54, 51, 25 }, 0, indexOf (panCaption, s) }); break;
                case pushButton:  children.push_back ({ true, "new button", 32 + s, 0, "", { x, 80, 51, 25 }, 0, indexOf (pushCaption, s) }); break;
                case pushCaption: children.push_back ({ false, "new label", 0, 0, "Mon1", { x, 112, 51, 24 }, 32 + s, -1 }); break;
                case rec:         children.push_back ({ true, "new button", s, 0, "REC.1", { x, 160, 51, 25 }, 0, -1 }); break;
                case solo:        children.push_back ({ true, "new button", 8 + s, 0, "SOLO." + n, { x, 200, 51, 25 }, 0, -1 }); break;
                case mute:        children.push_back ({ true, "new button", 16 + s, 0, "MUTE." + n, { x, 240, 51, 25 }, 0, -1 }); break;
                case sel:         children.push_back ({ true, "new button", 24 + s, 0, "SEL." + n, { x, 280, 51, 25 }, 0, -1 }); break;
                case number:      children.push_back ({ false, "new label", 0, 0, "(" + n + ")", { x, 320, 51, 24 }, 0, -1 }); break;
                case fader:       children.push_back ({ true, "new button", 99 + s, 3, "Vol." + n, { x + 5, 391, 42, 68 }, 0, -1 }); break;
            }
        }

        return children;
    }

    //==========================================================================
    // The control section's fifty buttons as (id, x, y); the rows are listed as laid out.
    struct Place { int id, x, y; };

    std::vector<Place> controlButtonPlaces()
    {
        std::vector<Place> places;
        const int grid[] = { 72, 136, 200, 264, 328, 392 };

        for (int k = 0; k < 6; ++k)  places.push_back ({ 41 + k, 2, 96 + 40 * k });
        for (int k = 0; k < 5; ++k)  places.push_back ({ 47 + k, grid[1 + k], 40 });
        places.push_back ({ 52, 136, 125 });
        for (int k = 0; k < 4; ++k)  places.push_back ({ 53 + k, grid[2 + k], 104 });
        for (int k = 0; k < 4; ++k)  places.push_back ({ 57 + k, grid[2 + k], 144 });
        for (int row = 0; row < 4; ++row)
        {
            const int rowY[] = { 208, 248, 312, 352 };
            for (int k = 0; k < 6; ++k)
                places.push_back ({ 61 + 6 * row + k, grid[k], rowY[row] });
        }
        places.push_back ({ 85, 264, 416 });
        places.push_back ({ 86, 136, 416 });
        for (int k = 0; k < 3; ++k)  places.push_back ({ 87 + k, grid[k], 456 });
        places.push_back ({ 90, 136, 496 });
        return places;
    }

    juce::String controlInitialText (int id)
    {
        static const char* const texts[] = {
            "Name/ Value", "SMPTE", "<<", ">>", "DAW", "",
            "View Selecter", "Track/ Clip", "Show/Hide Browser", "Show/Clip Detail", "",
            "",
            "", "", "I/O", "Pan",
            "Send", "Instrmt Rack", "Return Track", "",
            "Draw Mode", "Follow", "Punch In", "Punch Out", "", "Undo",
            "Prev", "Add", "Next", "", "Start", "End",
            "", "", "Lock", "Flip", "", "",
            "<<8", "8>>", "1<", ">1", "Rewind", "FastFwd",
            "Loop", "Stop",
            "Play", "Record", "Scrub",
            "Down" };
        return texts[id - 41];
    }

    std::vector<ExpectedChild> expectedControlChildren()
    {
        std::vector<int> ids;
        for (auto [from, to] : { std::pair { 41, 45 }, { 47, 54 }, { 57, 60 }, { 63, 82 }, { 85, 89 } })
            for (int id = from; id <= to; ++id)
                ids.push_back (id);
        for (int id : { 46, 55, 56, 61, 62, 83, 84, 90 })
            ids.push_back (id);

        const auto places = controlButtonPlaces();
        std::vector<ExpectedChild> children;

        for (const int id : ids)
        {
            const auto place = *std::find_if (places.begin(), places.end(), [id] (const Place& p) { return p.id == id; });
            children.push_back ({ true, "new button", id, 0, controlInitialText (id), { place.x, place.y, 51, 25 }, 0, -1 });
        }

        children.push_back ({ true, "new button", 99, 2, "", { 343, 429, 96, 96 }, 0, 51 });
        children.push_back ({ false, "jogLabel", 0, 0, "Tape Tspt", { 344, 528, 96, 32 }, 99, -1 });
        children.push_back ({ true, "new button", 108, 4, "Vol.M", { 2, 435, 42, 68 }, 0, -1 });
        return children;
    }

    //==========================================================================
    // Checks a section's children against the expectations in the current mode: order, kinds,
    // bindings, captions and texts.
    void expectChildren (juce::Component& section, const std::vector<ExpectedChild>& expected, int mode)
    {
        ASSERT_EQ (section.getNumChildComponents(), (int) expected.size());

        for (int i = 0; i < (int) expected.size(); ++i)
        {
            SCOPED_TRACE ("child " + std::to_string (i));
            const auto& e = expected[(size_t) i];
            auto* child = section.getChildComponent (i);

            EXPECT_EQ (child->getName(), e.name);
            EXPECT_TRUE (child->isVisible());

            if (e.isButton)
            {
                auto* button = dynamic_cast<MappableButton*> (child);
                ASSERT_NE (button, nullptr);
                EXPECT_EQ (button->controlId, e.id);
                EXPECT_EQ (button->kindIndex, e.kind);

                if (e.captionIndex >= 0)
                {
                    EXPECT_EQ (button->attachedLabel, section.getChildComponent (e.captionIndex));
                    EXPECT_EQ (button->getButtonText(), "");
                }
                else
                {
                    EXPECT_EQ (button->attachedLabel, nullptr);
                    EXPECT_EQ (button->getButtonText(), expected::labelOf (mode, e.id));
                }
            }
            else
            {
                auto* label = dynamic_cast<juce::Label*> (child);
                ASSERT_NE (label, nullptr);
                EXPECT_EQ (dynamic_cast<juce::Button*> (child), nullptr);
                EXPECT_EQ (label->getText(), e.captionOf != 0 ? expected::labelOf (mode, e.captionOf) : e.initialText);
            }
        }
    }

    void expectBounds (juce::Component& section, const std::vector<ExpectedChild>& expected)
    {
        section.setBounds (10, 20, 300, 100);   // the layout ignores the section's own size
        section.resized();

        ASSERT_EQ (section.getNumChildComponents(), (int) expected.size());
        for (int i = 0; i < (int) expected.size(); ++i)
            EXPECT_EQ (section.getChildComponent (i)->getBounds(), expected[(size_t) i].bounds) << "child " << i;
    }

    void expectLabelLook (const juce::Label& label)
    {
        EXPECT_FLOAT_EQ (label.getFont().getHeight(), 15.0f);
        EXPECT_FALSE (label.getFont().isBold());
        EXPECT_FALSE (label.getFont().isItalic());
        EXPECT_EQ (label.getFont().getTypefaceStyle(), "Regular");
        EXPECT_EQ (label.getJustificationType(), juce::Justification (juce::Justification::centred));
        EXPECT_FALSE (label.isEditableOnSingleClick());
        EXPECT_FALSE (label.isEditableOnDoubleClick());
        EXPECT_EQ (label.findColour (juce::Label::textColourId), juce::Colour (0xff000000));
        EXPECT_EQ (label.findColour (juce::TextEditor::textColourId), juce::Colour (0xff000000));
        EXPECT_EQ (label.findColour (juce::TextEditor::backgroundColourId), juce::Colour (0x00000000));
    }

    // Everything a rebinding may change or must keep, per child.
    struct ChildState
    {
        int id, kind;
        juce::Label* caption;
        juce::String text;

        bool operator== (const ChildState& o) const
        {
            return id == o.id && kind == o.kind && caption == o.caption && text == o.text;
        }
    };

    std::vector<ChildState> snapshot (juce::Component& section)
    {
        std::vector<ChildState> states;
        for (auto* child : section.getChildren())
        {
            if (auto* b = dynamic_cast<MappableButton*> (child))
                states.push_back ({ b->controlId, b->kindIndex, b->attachedLabel, b->getButtonText() });
            else if (auto* l = dynamic_cast<juce::Label*> (child))
                states.push_back ({ 0, 0, nullptr, l->getText() });
        }
        return states;
    }
}

//==============================================================================
struct Sections : public KestalFixture {};

TEST_F (Sections, MixerHasItsEightyChildrenInOrderBoundToTheCurrentMap)
{
    MixerSection mixer;

    EXPECT_EQ (mixer.getName(), "");
    EXPECT_EQ (mixer.getWidth(), 600);
    EXPECT_EQ (mixer.getHeight(), 400);
    EXPECT_EQ (mixer.getChildComponent (0)->getName(), "pan1");
    expectChildren (mixer, expectedMixerChildren(), 0);
}

TEST_F (Sections, ControlSectionHasItsChildrenInOrderBoundToTheCurrentMap)
{
    ControlSection section;

    EXPECT_EQ (section.getName(), "ControlSection");
    EXPECT_EQ (section.getWidth(), 600);
    EXPECT_EQ (section.getHeight(), 400);
    expectChildren (section, expectedControlChildren(), 0);
}

TEST_F (Sections, EveryChildStandsAtItsFixedPlace)
{
    MixerSection mixer;
    ControlSection section;

    {
        SCOPED_TRACE ("mixer");
        expectBounds (mixer, expectedMixerChildren());
    }
    {
        SCOPED_TRACE ("control section");
        expectBounds (section, expectedControlChildren());
    }
}

TEST_F (Sections, MixerLayoutReachesOnlyAsFarAsItsLastColumnAndFaders)
{
    MixerSection mixer;
    mixer.resized();
    juce::Rectangle<int> all;
    for (auto* child : mixer.getChildren())
        all = all.isEmpty() ? child->getBounds() : all.getUnion (child->getBounds());

    EXPECT_EQ (all.getRight(), 523);
    EXPECT_EQ (all.getBottom(), 459);
    EXPECT_EQ (mixer.getChildComponent (3)->getX(), 29);   // strip 1's fader, centred under the buttons
}

TEST_F (Sections, ControlLayoutReachesOnlyAsFarAsTheJogCaption)
{
    ControlSection section;
    section.resized();
    juce::Rectangle<int> all;
    for (auto* child : section.getChildren())
        all = all.isEmpty() ? child->getBounds() : all.getUnion (child->getBounds());

    EXPECT_EQ (all.getRight(), 443);
    EXPECT_EQ (all.getBottom(), 560);
}

TEST_F (Sections, InitialTextsAreGoneAfterConstruction)
{
    MixerSection mixer;
    ControlSection section;

    // Only where a control's label happens to equal its placeholder may the placeholder stay.
    for (auto* s : { (juce::Component*) &mixer, (juce::Component*) &section })
    {
        const auto expected = s == &mixer ? expectedMixerChildren() : expectedControlChildren();

        for (int i = 0; i < s->getNumChildComponents(); ++i)
        {
            const auto& e = expected[(size_t) i];
            auto* b = dynamic_cast<MappableButton*> (s->getChildComponent (i));

            if (b != nullptr && b->attachedLabel == nullptr && e.initialText.isNotEmpty()
                && e.initialText != expected::labelOf (0, e.id))
            {
                EXPECT_NE (b->getButtonText(), e.initialText) << "child " << i;
            }
        }
    }

    EXPECT_EQ (mixer.getChildComponent (4)->getName(), "new label");
    EXPECT_EQ (dynamic_cast<juce::Label*> (mixer.getChildComponent (4))->getText(), "CC16");   // was "Pan. 1"
    EXPECT_EQ (dynamic_cast<juce::Label*> (mixer.getChildComponent (5))->getText(), "G#(1)");  // was "Mon1"
    EXPECT_EQ (dynamic_cast<juce::Label*> (mixer.getChildComponent (18))->getText(), "(1)");
    EXPECT_EQ (dynamic_cast<juce::Label*> (section.getChildComponent (51))->getText(), "CC60");   // was "Tape Tspt"
    EXPECT_EQ (dynamic_cast<MappableButton*> (section.getChildComponent (52))->getButtonText(), "PB.9");
}

TEST_F (Sections, LabelsAreCentredBlackAndNotEditable)
{
    MixerSection mixer;
    ControlSection section;
    int labels = 0;

    for (auto* s : { (juce::Component*) &mixer, (juce::Component*) &section })
        for (auto* child : s->getChildren())
            if (auto* label = dynamic_cast<juce::Label*> (child))
            {
                ++labels;
                expectLabelLook (*label);
            }

    EXPECT_EQ (labels, 25);
}

TEST_F (Sections, ASecondBindingChangesNothing)
{
    MixerSection mixer;
    ControlSection section;
    const auto mixerBefore = snapshot (mixer);
    const auto controlBefore = snapshot (section);

    mixer.setButtonTypes();
    section.setButtonTypes();

    EXPECT_TRUE (snapshot (mixer) == mixerBefore);
    EXPECT_TRUE (snapshot (section) == controlBefore);
}

struct SectionsAfterModeChange : public KestalFixture, public ::testing::WithParamInterface<int> {};

TEST_P (SectionsAfterModeChange, RebindingShowsTheNewModesLabels)
{
    const int mode = GetParam();
    MixerSection mixer;
    ControlSection section;

    state().setCurrentMode (mode);
    mixer.setButtonTypes();
    section.setButtonTypes();

    {
        SCOPED_TRACE ("mixer");
        expectChildren (mixer, expectedMixerChildren(), mode);
    }
    {
        SCOPED_TRACE ("control section");
        expectChildren (section, expectedControlChildren(), mode);
    }

    // The buttons now carry the new map's nodes.
    for (auto* s : { (juce::Component*) &mixer, (juce::Component*) &section })
        for (auto* child : s->getChildren())
            if (auto* b = dynamic_cast<MappableButton*> (child))
            {
                const auto node = state().currentMap.getControl (b->controlId);
                EXPECT_EQ (b->value.getValue(), node[Tags::value]) << "control " << b->controlId;
                b->value = 42;
                EXPECT_EQ ((int) node[Tags::value], 42) << "control " << b->controlId;
            }
}

INSTANTIATE_TEST_SUITE_P (OtherModes, SectionsAfterModeChange, ::testing::Values (1, 2, 3));

TEST_F (Sections, NumberLabelsShowTheirTranslatedText)
{
    juce::LocalisedStrings::setCurrentMappings (new juce::LocalisedStrings ("\"(3)\" = \"(drei)\"\n\"Tape Tspt\" = \"Band\"", false));
    MixerSection mixer;
    ControlSection section;
    juce::LocalisedStrings::setCurrentMappings (nullptr);

    EXPECT_EQ (dynamic_cast<juce::Label*> (mixer.getChildComponent (20))->getText(), "(drei)");
    EXPECT_EQ (dynamic_cast<juce::Label*> (mixer.getChildComponent (19))->getText(), "(2)");
    EXPECT_EQ (dynamic_cast<juce::Label*> (section.getChildComponent (51))->getText(), "CC60");   // the binding wins
}
