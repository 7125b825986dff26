#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeMidiPorts.h"
#include "StringLists.h"
#include "fenz_MidiPorts.h"

#include <optional>
#include <vector>

using namespace fenz;
using testsupport::FakeMidiPorts;
using testsupport::toVector;
using ::testing::ElementsAre;

namespace
{

struct NullCallback : juce::MidiInputCallback
{
    void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage&) override {}
};

// Which provider, and which of its positions, a combined-list position was routed to.
struct Route
{
    juce::String opener;
    int index;
    bool operator== (const Route& other) const  { return opener == other.opener && index == other.index; }
};

void PrintTo (const Route& r, std::ostream* os)  { *os << r.opener << "#" << r.index; }

// The system's ports and two added providers, in that order. Every port tells which of them
// opened it, and at which of its own positions.
class MidiPortsTest : public ::testing::Test
{
protected:
    FakeMidiPorts system { { "Sys Out A", "Sys Out B" }, { "Sys In" } };
    FakeMidiPorts first  { { "First Out" }, { "First In A", "First In B" }, FakeMidiPorts::Installed::asAdded };
    FakeMidiPorts second { { "Second Out A", "Second Out B" }, { "Second In" }, FakeMidiPorts::Installed::asAdded };
    NullCallback callback;

    juce::String nameOf (const FakeMidiPorts& opener) const
    {
        return &opener == &system ? "system" : (&opener == &first ? "first" : (&opener == &second ? "second" : "another"));
    }

    // Which provider opened the port, and at which of its positions; nothing when none was.
    std::optional<Route> routeOf (const std::unique_ptr<MidiOutputPort>& port) const
    {
        if (port == nullptr)
            return std::nullopt;

        auto& fake = dynamic_cast<const FakeMidiPorts::Output&> (*port);
        return Route { nameOf (fake.owner), fake.index };
    }

    std::optional<Route> routeOf (const std::unique_ptr<MidiInputPort>& port) const
    {
        if (port == nullptr)
            return std::nullopt;

        auto& fake = dynamic_cast<const FakeMidiPorts::Input&> (*port);
        EXPECT_EQ (&fake.callback, &callback);
        return Route { nameOf (fake.owner), fake.index };
    }

    std::optional<Route> outputRoute (int index)  { return routeOf (MidiPorts::openOutput (index)); }
    std::optional<Route> inputRoute (int index)   { return routeOf (MidiPorts::openInput (index, callback)); }

    static int opensAskedOf (const FakeMidiPorts& p)  { return p.numOutputOpens + p.numInputOpens; }
    int totalOpens() const  { return opensAskedOf (system) + opensAskedOf (first) + opensAskedOf (second); }
};

} // namespace

TEST_F (MidiPortsTest, ListsSystemPortsFirstThenEachProviderInTheOrderAdded)
{
    EXPECT_THAT (toVector (MidiPorts::getOutputNames()),
                 ElementsAre ("Sys Out A", "Sys Out B", "First Out", "Second Out A", "Second Out B"));
    EXPECT_THAT (toVector (MidiPorts::getInputNames()),
                 ElementsAre ("Sys In", "First In A", "First In B", "Second In"));
}

TEST_F (MidiPortsTest, OpensThePortAtACombinedPositionThroughItsOwnProvider)
{
    const std::vector<Route> outputs { { "system", 0 }, { "system", 1 }, { "first", 0 }, { "second", 0 }, { "second", 1 } };
    const std::vector<Route> inputs  { { "system", 0 }, { "first", 0 }, { "first", 1 }, { "second", 0 } };

    for (int i = 0; i < (int) outputs.size(); ++i)
        EXPECT_EQ (outputRoute (i), outputs[(size_t) i]) << "output " << i;

    for (int i = 0; i < (int) inputs.size(); ++i)
        EXPECT_EQ (inputRoute (i), inputs[(size_t) i]) << "input " << i;
}

TEST_F (MidiPortsTest, PositionsOutsideTheListOpenNothingAndAskNoProvider)
{
    for (int index : { -1, 5, 100 })
        EXPECT_EQ (MidiPorts::openOutput (index), nullptr) << index;

    for (int index : { -1, 4, 100 })
        EXPECT_EQ (MidiPorts::openInput (index, callback), nullptr) << index;

    EXPECT_EQ (totalOpens(), 0);
}

TEST_F (MidiPortsTest, AProviderThatCannotOpenItsPortGivesNull)
{
    first.refusedOutputs = first.outputs;
    first.refusedInputs = first.inputs;
    EXPECT_EQ (MidiPorts::openOutput (2), nullptr);
    EXPECT_EQ (MidiPorts::openInput (1, callback), nullptr);
    EXPECT_EQ (opensAskedOf (first), 2);
}

TEST_F (MidiPortsTest, RemovingAProviderMovesTheLaterOnesUp)
{
    MidiPorts::removeProvider (&first);

    EXPECT_THAT (toVector (MidiPorts::getOutputNames()),
                 ElementsAre ("Sys Out A", "Sys Out B", "Second Out A", "Second Out B"));
    EXPECT_EQ (outputRoute (2), (Route { "second", 0 }));
    EXPECT_EQ (inputRoute (1), (Route { "second", 0 }));
    EXPECT_EQ (MidiPorts::openOutput (4), nullptr);
}

TEST_F (MidiPortsTest, AddingAProviderTwiceListsItOnceAndRemovingAStrangerChangesNothing)
{
    MidiPorts::addProvider (&first);
    FakeMidiPorts stranger { { "Stranger" }, {}, FakeMidiPorts::Installed::no };
    MidiPorts::removeProvider (&stranger);
    MidiPorts::addProvider (nullptr);

    EXPECT_THAT (toVector (MidiPorts::getOutputNames()),
                 ElementsAre ("Sys Out A", "Sys Out B", "First Out", "Second Out A", "Second Out B"));
}

TEST_F (MidiPortsTest, AnEmptySystemProviderLeavesOnlyTheAddedPorts)
{
    FakeMidiPorts none;   // in the system's place

    EXPECT_THAT (toVector (MidiPorts::getOutputNames()),
                 ElementsAre ("First Out", "Second Out A", "Second Out B"));
    EXPECT_EQ (outputRoute (0), (Route { "first", 0 }));
    EXPECT_EQ (inputRoute (2), (Route { "second", 0 }));
}

// Whatever devices the machine has, the restored system provider lists them first and the
// added providers still follow.
TEST_F (MidiPortsTest, ClearingTheReplacementRestoresTheSystemsOwnDevices)
{
    MidiPorts::setSystemProvider (nullptr);

    const auto outputs = MidiPorts::getOutputNames();
    const auto inputs = MidiPorts::getInputNames();
    ASSERT_GE (outputs.size(), 3);
    ASSERT_GE (inputs.size(), 3);

    EXPECT_EQ (outputs[outputs.size() - 3], "First Out");
    EXPECT_EQ (outputRoute (outputs.size() - 3), (Route { "first", 0 }));
    EXPECT_EQ (inputs[inputs.size() - 3], "First In A");
    EXPECT_EQ (inputRoute (inputs.size() - 1), (Route { "second", 0 }));
    EXPECT_EQ (opensAskedOf (system), 0);
}

// What a chooser offers: the names in the list's order, each exact name once, no blank ones.
TEST_F (MidiPortsTest, DistinctNamesKeepTheListsOrderWithEachExactNameOnceAndNoBlanks)
{
    const struct { const char* what; juce::StringArray ports; std::vector<juce::String> expected; } cases[] {
        { "the usual mix",        { "A", "A", "a", "", "   " },                         { "A", "a" } },
        { "first of equals stays", { "B", "A", "B", "C", "A", "B" },                   { "B", "A", "C" } },
        { "every white-space kind", { " ", "\t", "\n", "\v", "\f", "\r", " \t\n\v\f\r", "X" }, { "X" } },
        { "blank duplicates",     { "", "", " ", " ", "Y", "" },                       { "Y" } },
        { "names are not trimmed", { " A", "A", "A ", " A", "A\t" },                   { " A", "A", "A ", "A\t" } },
        { "inner blanks stay",    { "Port 1", "Port\t2", "Port 1" },                   { "Port 1", "Port\t2" } },
        { "only blanks",          { "", " ", "\r\n" },                                 {} },
        { "no ports",             {},                                                  {} },
    };

    // Only the system provider's ports here.
    MidiPorts::removeProvider (&first);
    MidiPorts::removeProvider (&second);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);

        // Outputs and inputs are separate lists: each direction must read its own.
        system.outputs = c.ports;
        system.inputs = { "input only" };
        EXPECT_THAT (toVector (MidiPorts::getDistinctOutputNames()), ::testing::ElementsAreArray (c.expected));

        system.inputs = c.ports;
        system.outputs = { "output only" };
        EXPECT_THAT (toVector (MidiPorts::getDistinctInputNames()), ::testing::ElementsAreArray (c.expected));
    }
}

// The virtual surface and real hardware are offered the same way: an added provider's names
// follow the system's, and a name it shares with them is offered once.
TEST_F (MidiPortsTest, DistinctNamesIncludeAddedProvidersBehindTheSystemsAndDropTheirDuplicates)
{
    MidiPorts::removeProvider (&second);
    first.inputs = { "Sim In", "Hardware In" };
    first.outputs = { "Sim Out" };
    system.inputs = { "Hardware In", " " };
    system.outputs = { "Hardware Out" };

    EXPECT_THAT (toVector (MidiPorts::getDistinctInputNames()), ElementsAre ("Hardware In", "Sim In"));
    EXPECT_THAT (toVector (MidiPorts::getDistinctOutputNames()), ElementsAre ("Hardware Out", "Sim Out"));
}

// An output's identifier opens that port or none: never a port that has taken its place in
// the list, nor an equally named port of another provider.
TEST_F (MidiPortsTest, AnIdentifierOpensItsOwnPortOrNone)
{
    first.outputs = { "Same" };
    second.outputs = { "Same", "Same" };

    const auto outputs = MidiPorts::getOutputs();
    ASSERT_EQ (outputs.size(), 5);

    juce::StringArray names, identifiers;

    for (const auto& o : outputs)
    {
        names.add (o.name);
        identifiers.addIfNotAlreadyThere (o.identifier);
    }

    EXPECT_EQ (names, MidiPorts::getOutputNames());
    EXPECT_EQ (identifiers.size(), 5) << "every port has an identifier of its own";

    const auto identifiedRoute = [this] (const juce::String& identifier)
    {
        return routeOf (MidiPorts::openOutputWithIdentifier (identifier));
    };

    EXPECT_EQ (identifiedRoute (outputs[1].identifier), (Route { "system", 1 }));
    EXPECT_EQ (identifiedRoute (outputs[2].identifier), (Route { "first", 0 }));
    EXPECT_EQ (identifiedRoute (outputs[4].identifier), (Route { "second", 1 }));
    EXPECT_EQ (identifiedRoute ("no such port"), std::nullopt);

    // With the first provider gone the second one's ports move up the list, but each
    // identifier still opens its own port, and the gone port's opens none.
    MidiPorts::removeProvider (&first);
    EXPECT_EQ (identifiedRoute (outputs[2].identifier), std::nullopt);
    EXPECT_EQ (identifiedRoute (outputs[3].identifier), (Route { "second", 0 }));
    EXPECT_EQ (identifiedRoute (outputs[4].identifier), (Route { "second", 1 }));
}

// Inputs are identified as outputs are, and the name look-up gives the first port of exactly
// that name, whichever provider holds it.
TEST_F (MidiPortsTest, AnInputIdentifierOpensItsOwnInputOrNone)
{
    first.inputs = { "Same", "First In" };
    second.inputs = { "Same" };

    const auto inputs = MidiPorts::getInputs();
    ASSERT_EQ (inputs.size(), 4);

    juce::StringArray names;

    for (const auto& i : inputs)
        names.add (i.name);

    EXPECT_EQ (names, MidiPorts::getInputNames());

    const auto identifiedRoute = [this] (const juce::String& identifier)
    {
        return routeOf (MidiPorts::openInputWithIdentifier (identifier, callback));
    };

    EXPECT_EQ (MidiPorts::findInputIdentifier ("Same"), inputs[1].identifier);
    EXPECT_EQ (MidiPorts::findInputIdentifier ("same"), juce::String());
    EXPECT_EQ (MidiPorts::findOutputIdentifier ("Second Out B"), MidiPorts::getOutputs()[4].identifier);
    EXPECT_EQ (MidiPorts::findOutputIdentifier ("Nowhere"), juce::String());

    EXPECT_EQ (identifiedRoute (inputs[0].identifier), (Route { "system", 0 }));
    EXPECT_EQ (identifiedRoute (inputs[2].identifier), (Route { "first", 1 }));
    EXPECT_EQ (identifiedRoute ("no such port"), std::nullopt);

    MidiPorts::removeProvider (&first);
    EXPECT_EQ (identifiedRoute (inputs[1].identifier), std::nullopt);
    EXPECT_EQ (identifiedRoute (inputs[3].identifier), (Route { "second", 0 }));
    EXPECT_EQ (MidiPorts::findInputIdentifier ("Same"), inputs[3].identifier);
}

#if JUCE_LINUX
// Without a sequencer libasound would complain on stderr every time the ports are listed.
TEST (SystemMidiPorts, ListingAndOpeningWriteNothingToStandardError)
{
    NullCallback callback;

    ::testing::internal::CaptureStderr();
    const auto outputs = MidiPorts::getOutputNames();
    const auto inputs = MidiPorts::getInputNames();
    auto output = MidiPorts::openOutput (0);
    auto input = MidiPorts::openInput (0, callback);
    output.reset();
    input.reset();
    const auto written = ::testing::internal::GetCapturedStderr();

    EXPECT_THAT (written, ::testing::Not (::testing::HasSubstr ("ALSA lib")));
    EXPECT_THAT (written, ::testing::Not (::testing::HasSubstr ("cannot open")));
}
#endif
