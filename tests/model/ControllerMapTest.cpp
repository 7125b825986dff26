#include <gtest/gtest.h>
#include "ControllerMap.h"

namespace
{
    struct SlugCase { const char* text; int mode; };

    std::ostream& operator<< (std::ostream& os, const SlugCase& c)
    {
        return os << '"' << c.text << "\" -> " << c.mode;
    }

    class SlugParsing : public ::testing::TestWithParam<SlugCase> {};

    TEST_P (SlugParsing, ReadsTheModeOfATrimmedExactSlug)
    {
        EXPECT_EQ ((int) CtMode (juce::String (GetParam().text)), GetParam().mode) << GetParam().text;
    }

    INSTANTIATE_TEST_SUITE_P (Slugs, SlugParsing, ::testing::Values (
        SlugCase { "mackie", 0 }, SlugCase { "logic", 1 }, SlugCase { "pro-tools", 2 },
        SlugCase { "user-defined", 3 }, SlugCase { "cubase", 4 }, SlugCase { "samplitude", 5 },
        SlugCase { "ableton-live", 6 }, SlugCase { "reaper", 7 }, SlugCase { "studio-one", 8 },
        SlugCase { "reason", 9 }, SlugCase { "bitwig", 10 },
        SlugCase { " logic ", 1 }, SlugCase { "\tuser-defined\r\n", 3 },
        // Display names, other capitals, inner blanks and numbers are not slugs.
        SlugCase { "Logic", 0 }, SlugCase { "MCP", 0 }, SlugCase { "LOGIC", 0 },
        SlugCase { "pro tools", 0 }, SlugCase { "1", 0 }, SlugCase { "", 0 },
        SlugCase { "logicx", 0 }, SlugCase { "user-defined-", 0 }));

    TEST (Vocabularies, NumbersOutsideAListGiveTheEmptyText)
    {
        EXPECT_EQ (CtMode::nameForType (3), "User Defined (MCP)");
        EXPECT_EQ (CtMode::nameForType (2), "HUI");
        EXPECT_EQ (CtMode::slugForType (10), "bitwig");
        EXPECT_TRUE (CtMode::slugForType (11).isEmpty());
        EXPECT_TRUE (CtMode::nameForType (-1).isEmpty());
        EXPECT_EQ (CtType::slugForType (2), "pitch");
        EXPECT_EQ (CtType (1).getSlug(), "cc");
        EXPECT_TRUE (CtType::slugForType (9).isEmpty());
        EXPECT_TRUE (CtType::slugForType (-1).isEmpty());
        EXPECT_EQ (CtKind::slugForType (4), "master-fader");
        EXPECT_TRUE (CtKind::slugForType (5).isEmpty());
        // The empty text is one shared object, whatever list it comes from.
        EXPECT_EQ (&CtMode::slugForType (99), &CtType::slugForType (99));
    }

    // The names the code chooses by stand for the numbers that the mapping files' slugs have.
    TEST (Vocabularies, NamedModesAndKindsAreTheNumbersOfTheirSlugs)
    {
        const struct { int number; const char* slug; } modes[] {
            { CtMode::mcp, "mackie" }, { CtMode::logic, "logic" }, { CtMode::hui, "pro-tools" },
            { CtMode::userDefined, "user-defined" },
        };

        for (const auto& m : modes)
            EXPECT_EQ (CtMode::slugForType (m.number), m.slug);

        const struct { int number; const char* slug; } kinds[] {
            { CtKind::button, "button" }, { CtKind::knob, "knob" }, { CtKind::jogWheel, "jog-wheel" },
            { CtKind::fader, "fader" }, { CtKind::masterFader, "master-fader" }, { CtKind::numKinds, "" },
        };

        for (const auto& k : kinds)
            EXPECT_EQ (CtKind::slugForType (k.number), k.slug);
    }

    TEST (Vocabularies, EverySlugParsesBackToItsOwnMode)
    {
        for (int m = 0; m <= 10; ++m)
            EXPECT_EQ ((int) CtMode (CtMode::slugForType (m)), m);
    }

    const char* expectedKind (int id)
    {
        if (id <= 90)  return "button";
        if (id <= 98)  return "knob";
        if (id == 99)  return "jog-wheel";
        if (id <= 107) return "fader";
        return "master-fader";
    }

    TEST (MapBuilding, AUserDefinedMapHoldsTheWholeSurfaceInIdOrder)
    {
        CtMap map (CtMode (3));

        EXPECT_TRUE (map.tree.hasType (Tags::map));
        EXPECT_EQ (map.tree[Tags::mode].toString(), "user-defined");
        EXPECT_EQ (map.tree[Tags::name].toString(), "User Defined (MCP)");
        EXPECT_EQ (map.tree.getNumChildren(), 1);

        auto controls = map.tree.getChildWithName (Tags::controls);
        ASSERT_EQ (controls.getNumChildren(), 108);

        for (int p = 0; p < 108; ++p)
        {
            auto control = controls.getChild (p);
            EXPECT_EQ (control.getType().toString(), "control");
            EXPECT_EQ ((int) control[Tags::id], p + 1);
            EXPECT_EQ (control[Tags::kind].toString(), expectedKind (p + 1));

            // Properties are created in this order, which is the order a saved file shows.
            ASSERT_EQ (control.getNumProperties(), 5);
            EXPECT_EQ (control.getPropertyName (0), Tags::id);
            EXPECT_EQ (control.getPropertyName (1), Tags::kind);
            EXPECT_EQ (control.getPropertyName (2), Tags::type);
            EXPECT_EQ (control.getPropertyName (3), Tags::chan);
            EXPECT_EQ (control.getPropertyName (4), Tags::value);
        }
    }

    TEST (MapBuilding, AModeOutsideTheVocabularyGivesAnUnnamedMapThatReadsAsMcp)
    {
        CtMap map (CtMode (12));

        EXPECT_TRUE (map.tree[Tags::mode].toString().isEmpty());
        EXPECT_TRUE (map.tree[Tags::name].toString().isEmpty());
        EXPECT_EQ ((int) map.getCtMode(), 0);

        const CtMap mcp (CtMode (0));

        for (int id = 1; id <= 108; ++id)
            for (auto property : { Tags::type, Tags::chan, Tags::value })
                EXPECT_EQ (map.getControl (id)[property], mcp.getControl (id)[property]) << id;
    }

    TEST (MapReset, LeavesExactlyTheFreshMcpSkeleton)
    {
        CtMap map (CtMode (2));
        auto controls = map.tree.getChildWithName (Tags::controls);

        for (int i = 0; i < 12; ++i)
            controls.appendChild (juce::ValueTree ("control").setProperty (Tags::id, 200 + i, nullptr), nullptr);

        map.getControl (5).setProperty (Tags::value, 77, nullptr);
        map.tree.setProperty ("extra", 1, nullptr);
        ASSERT_EQ (controls.getNumChildren(), 120);

        map.addMissingProperties();

        EXPECT_EQ (map.tree[Tags::mode].toString(), "mackie");
        EXPECT_EQ (map.tree[Tags::name].toString(), "MCP");
        EXPECT_EQ ((int) map.tree["extra"], 1);
        ASSERT_EQ (controls.getNumChildren(), 108);

        for (int p = 0; p < 108; ++p)
        {
            auto control = controls.getChild (p);
            EXPECT_EQ ((int) control[Tags::id], p + 1);
            EXPECT_EQ (control[Tags::type].toString(), "note");
            EXPECT_EQ ((int) control[Tags::chan], 1);
            EXPECT_EQ ((int) control[Tags::value], 0);
        }
    }

    TEST (MapReset, CreatesTheControlsNodeWhenThereIsNone)
    {
        CtMap map (juce::ValueTree (Tags::map));
        map.addMissingProperties();
        EXPECT_EQ (map.tree.getChildWithName (Tags::controls).getNumChildren(), 108);
    }

    TEST (MapMode, AMissingOrForeignModeReadsAsMcp)
    {
        EXPECT_EQ ((int) CtMap (juce::ValueTree (Tags::map)).getCtMode(), 0);
        EXPECT_EQ ((int) CtMap (juce::ValueTree()).getCtMode(), 0);
        EXPECT_EQ ((int) CtMap (juce::ValueTree (Tags::map).setProperty (Tags::mode, 2, nullptr)).getCtMode(), 0);
        EXPECT_EQ ((int) CtMap (juce::ValueTree (Tags::map).setProperty (Tags::mode, "pro-tools", nullptr)).getCtMode(), 2);
    }

    TEST (ControlLookup, FindsByIdNotByPosition)
    {
        CtMap map (CtMode (0));
        EXPECT_EQ (map.getControl (99)[Tags::kind].toString(), "jog-wheel");
        EXPECT_FALSE (map.getControl (0).isValid());
        EXPECT_FALSE (map.getControl (109).isValid());
        EXPECT_FALSE (CtMap (juce::ValueTree (Tags::map)).getControl (1).isValid());

        // A loaded map holds text and may hold its controls in any order.
        juce::ValueTree loaded (Tags::map);
        juce::ValueTree controls (Tags::controls);
        for (int id = 108; id >= 1; --id)
            controls.appendChild (juce::ValueTree ("control").setProperty (Tags::id, juce::String (id), nullptr), nullptr);
        loaded.appendChild (controls, nullptr);

        auto five = CtMap (loaded).getControl (5);
        ASSERT_TRUE (five.isValid());
        EXPECT_EQ (five[Tags::id].toString(), "5");
        EXPECT_EQ (controls.indexOf (five), 103);
    }

    TEST (ControlIds, KindAndSubIndexFollowTheSurface)
    {
        struct Case { int id, kind, sub; };
        for (auto c : { Case { 1, 0, 0 }, Case { 40, 0, 39 }, Case { 90, 0, 89 }, Case { 91, 1, 0 },
                        Case { 98, 1, 7 }, Case { 99, 2, 0 }, Case { 100, 3, 0 }, Case { 107, 3, 7 },
                        Case { 108, 4, 0 }, Case { 0, -1, -1 }, Case { 109, -1, -1 }, Case { -5, -1, -1 } })
        {
            EXPECT_EQ (CtKind::kindOfId (c.id), c.kind) << c.id;
            EXPECT_EQ (CtKind::subIndexOfId (c.id), c.sub) << c.id;
        }
    }

    TEST (ControlIds, AKindAndAPositionAmongItsControlsGiveTheIdBack)
    {
        for (int id = 1; id <= CtKind::numControls; ++id)
            EXPECT_EQ (CtKind::idOf (CtKind::kindOfId (id), CtKind::subIndexOfId (id)), id) << id;

        struct Case { int kind, sub, id; };
        for (auto c : { Case { CtKind::button, 40, 41 }, Case { CtKind::knob, 7, 98 }, Case { CtKind::fader, 0, 100 },
                        Case { CtKind::jogWheel, 0, 99 }, Case { CtKind::masterFader, 0, 108 },
                        Case { CtKind::button, 90, -1 }, Case { CtKind::knob, 8, -1 }, Case { CtKind::jogWheel, 1, -1 },
                        Case { CtKind::masterFader, 1, -1 }, Case { CtKind::button, -1, -1 }, Case { -1, 0, -1 },
                        Case { CtKind::numKinds, 0, -1 } })
            EXPECT_EQ (CtKind::idOf (c.kind, c.sub), c.id) << c.kind << "/" << c.sub;
    }
}
