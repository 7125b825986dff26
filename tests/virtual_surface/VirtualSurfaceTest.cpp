#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeMidiPorts.h"
#include "ScopedEnvironment.h"
#include "StringLists.h"
#include "fenz_VirtualSurface.h"

#include <functional>
#include <thread>
#include <vector>

using namespace fenz;
using namespace testsupport;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

using Model = VirtualSurface::Model;
using Assignment = VirtualSurface::Assignment;
using Bytes = std::vector<juce::uint8>;
using Sequence = std::vector<Bytes>;

namespace
{

//==============================================================================
// The host's side of a mapping transfer, written from the byte rules of the wire format.

int typeCodeFor (int id, int choice)
{
    static const std::vector<int> buttonCodes { 0, 2, 3 }, knobCodes { 0, 1, 2 }, faderCodes { 0, 1 };
    const auto& codes = id <= 90 ? buttonCodes : (id <= 99 ? knobCodes : faderCodes);
    return codes[(size_t) choice % codes.size()];
}

Bytes passOne (const VirtualSurface::ControlAssignment& c)
{
    return { 0x9f, (juce::uint8) ((c.channel - 1) & 0x0f), (juce::uint8) c.type };
}

Bytes passTwo (int id, int v)
{
    if (id <= 90)
    {
        if (v == 126)
            return { 0x9f, 0x07, 0x0e };

        return { 0x9f, (juce::uint8) (((v >> 4) & 0x0f) | 0x08), (juce::uint8) (v & 0x0f) };
    }

    return { 0x9f, (juce::uint8) ((v & 0xff) >> 4), (juce::uint8) (v & 0x0f) };
}

Bytes header (int command, int family = 176)
{
    return { 0xf0, 0x1d, 0x03, (juce::uint8) ((family >> 7) & 0xff), (juce::uint8) (family % 128), 0x00,
             (juce::uint8) command, 0x7f, 0xf7 };
}

const Bytes closing { 0x9e, 0x7f, 0x7f };

// Positions in a transfer.
constexpr size_t headerAt = 32;
constexpr size_t dataAt = 33;
constexpr size_t closingAt = dataAt + 216;
constexpr size_t buttonTypeAt (int id)   { return dataAt + (size_t) id - 1; }
constexpr size_t buttonNumberAt (int id) { return dataAt + 90 + (size_t) id - 1; }
constexpr size_t otherTypeAt (int id)    { return dataAt + 180 + (size_t) id - 91; }
constexpr size_t otherNumberAt (int id)  { return dataAt + 198 + (size_t) id - 91; }

Sequence transfer (int mode, const Assignment& a)
{
    Sequence s;

    for (int j = 0; j < 32; ++j)
        s.push_back ({ 0x9f, (juce::uint8) j, 0x00 });

    s.push_back (header (mode + 1));

    for (int id = 1; id <= 90; ++id)   s.push_back (passOne (a[(size_t) id - 1]));
    for (int id = 1; id <= 90; ++id)   s.push_back (passTwo (id, a[(size_t) id - 1].number));
    for (int id = 91; id <= 108; ++id) s.push_back (passOne (a[(size_t) id - 1]));
    for (int id = 91; id <= 108; ++id) s.push_back (passTwo (id, a[(size_t) id - 1].number));

    s.push_back (closing);
    return s;
}

// Every type code of each kind, all sixteen channels, and the numbers at the edges of the
// encoding (0, 126, 127) for buttons and for the other kinds; seed varies the rest.
Assignment makeAssignment (int seed)
{
    Assignment a;

    for (int id = 1; id <= 108; ++id)
    {
        auto& c = a[(size_t) id - 1];
        c.type = typeCodeFor (id, id + seed);
        c.channel = 1 + (id * 5 + seed) % 16;
        c.number = (id * 53 + seed * 11) % 128;
    }

    for (int id : { 1, 91, 100 })  a[(size_t) id - 1].number = (seed % 2 == 0) ? 0 : 127;
    for (int id : { 2, 92, 101 })  a[(size_t) id - 1].number = 126;
    for (int id : { 3, 99, 108 })  a[(size_t) id - 1].number = (seed % 2 == 0) ? 127 : 0;
    return a;
}

juce::MidiMessage toMessage (const Bytes& b)
{
    return juce::MidiMessage (b.data(), (int) b.size());
}

//==============================================================================
struct RecordingCallback : juce::MidiInputCallback
{
    void handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& m) override
    {
        EXPECT_EQ (source, nullptr);
        received.emplace_back (m.getRawData(), m.getRawData() + m.getRawDataSize());
    }

    Sequence received;
};

//==============================================================================
class VirtualSurfaceTest : public ::testing::Test
{
protected:
    FakeMidiPorts system;   // no machine ports: only the surface's

    // Sends as the editor does: the burst and the data messages as blocks of one, the header
    // and the closing message directly.
    static void send (VirtualSurface& surface, const Sequence& sequence)
    {
        auto port = MidiPorts::openOutput (MidiPorts::getOutputNames().indexOf (surface.getPortName()));
        ASSERT_NE (port, nullptr);

        for (const auto& bytes : sequence)
        {
            const auto message = toMessage (bytes);

            if (message.isSysEx() || bytes == closing)
            {
                port->sendMessageNow (message);
            }
            else
            {
                juce::MidiBuffer buffer;
                buffer.addEvent (message, 0);
                port->sendBlockOfMessagesNow (buffer);
            }
        }
    }
};

} // namespace

//==============================================================================
TEST (VirtualSurfaceEncoding, TheTestsEncoderFollowsTheWireExamples)
{
    EXPECT_EQ (passTwo (5, 60), (Bytes { 0x9f, 0x0b, 0x0c }));
    EXPECT_EQ (passTwo (5, 126), (Bytes { 0x9f, 0x07, 0x0e }));
    EXPECT_EQ (passTwo (5, 127), (Bytes { 0x9f, 0x0f, 0x0f }));
    EXPECT_EQ (passTwo (91, 16), (Bytes { 0x9f, 0x01, 0x00 }));
    EXPECT_EQ (header (1), (Bytes { 0xf0, 0x1d, 0x03, 0x01, 0x30, 0x00, 0x01, 0x7f, 0xf7 }));
    EXPECT_EQ (transfer (0, makeAssignment (0)).size(), 250u);
}

//==============================================================================
TEST_F (VirtualSurfaceTest, ShowsOneOutputAndOneInputOfItsNameOnlyWhileInstalled)
{
    for (auto [model, name, pid] : { std::tuple { Model::tamrel, "Varn Tamrel Virtual", 176 },
                                     std::tuple { Model::ostrel, "Varn Ostrel Virtual", 177 } })
    {
        {
            VirtualSurface surface (model);
            EXPECT_EQ (surface.getPortName(), name);
            EXPECT_EQ (surface.getProductId(), pid);
            EXPECT_EQ (Product::fromDeviceName (surface.getPortName()), pid);
            EXPECT_TRUE (MidiPorts::getOutputNames().isEmpty());

            surface.install();
            surface.install();
            EXPECT_THAT (toVector (MidiPorts::getOutputNames()), ElementsAre (name));
            EXPECT_THAT (toVector (MidiPorts::getInputNames()), ElementsAre (name));

            surface.uninstall();
            EXPECT_TRUE (MidiPorts::getOutputNames().isEmpty());
            surface.install();
        }

        EXPECT_TRUE (MidiPorts::getOutputNames().isEmpty()) << "the destructor uninstalls";
        EXPECT_TRUE (MidiPorts::getInputNames().isEmpty());
    }
}

TEST_F (VirtualSurfaceTest, HoldsNoAssignmentBeforeATransfer)
{
    VirtualSurface surface (Model::tamrel);

    for (int mode = -1; mode <= 4; ++mode)
        EXPECT_FALSE (surface.getAssignment (mode).has_value()) << mode;

    EXPECT_EQ (surface.getNumTransfersTaken(), 0);
    EXPECT_EQ (surface.getNumTransfersRefused(), 0);
}

//==============================================================================
struct TransferCase
{
    Model model;
    int mode;
    int seed;
};

class CorrectTransfer : public VirtualSurfaceTest, public ::testing::WithParamInterface<TransferCase> {};

TEST_P (CorrectTransfer, TakesExactlyTheAssignmentSentForTheModeItNames)
{
    const auto [model, mode, seed] = GetParam();
    VirtualSurface surface (model);
    surface.install();

    const auto expected = makeAssignment (seed);
    const auto sequence = transfer (mode, expected);
    send (surface, sequence);

    ASSERT_TRUE (surface.getAssignment (mode).has_value()) << surface.getNotes().joinIntoString ("\n");

    const auto held = *surface.getAssignment (mode);

    for (int id = 1; id <= 108; ++id)
    {
        const auto& want = expected[(size_t) id - 1];
        const auto& got = held[(size_t) id - 1];
        EXPECT_EQ (got.type, want.type) << "id " << id;
        EXPECT_EQ (got.channel, want.channel) << "id " << id;
        EXPECT_EQ (got.number, want.number) << "id " << id;
    }

    for (int other = 0; other < 4; ++other)
    {
        EXPECT_EQ (surface.getAssignment (other).has_value(), other == mode) << other;
    }

    EXPECT_EQ (surface.getNumTransfersTaken(), 1);
    EXPECT_EQ (surface.getNumTransfersRefused(), 0);

    // The record is the messages as sent, then the surface's verdict.
    EXPECT_EQ (surface.getReceivedMessages(), sequence);
    const auto record = surface.getRecord();
    ASSERT_EQ (record.size(), sequence.size() + 1);
    EXPECT_EQ (record.back().note, "# mapping taken for mode " + juce::String (mode));
}

INSTANTIATE_TEST_SUITE_P (ModesAndModels, CorrectTransfer,
                          ::testing::Values (TransferCase { Model::tamrel, 0, 0 },
                                             TransferCase { Model::tamrel, 3, 1 },
                                             TransferCase { Model::ostrel, 1, 2 },
                                             TransferCase { Model::ostrel, 2, 3 }));

TEST_F (VirtualSurfaceTest, KeepsEachModesAssignmentAndReplacesItOnlyWithTheNextOneForThatMode)
{
    VirtualSurface surface (Model::ostrel);
    surface.install();

    for (int mode = 0; mode < 4; ++mode)
        send (surface, transfer (mode, makeAssignment (mode)));

    send (surface, transfer (2, makeAssignment (7)));

    EXPECT_EQ (surface.getAssignment (0), makeAssignment (0));
    EXPECT_EQ (surface.getAssignment (1), makeAssignment (1));
    EXPECT_EQ (surface.getAssignment (2), makeAssignment (7));
    EXPECT_EQ (surface.getAssignment (3), makeAssignment (3));
    EXPECT_EQ (surface.getNumTransfersTaken(), 5);
}

TEST_F (VirtualSurfaceTest, TakesATransferSentAsOneBlock)
{
    VirtualSurface surface (Model::tamrel);
    auto port = surface.openOutput (0);
    ASSERT_NE (port, nullptr);

    juce::MidiBuffer buffer;

    for (const auto& bytes : transfer (1, makeAssignment (4)))
        buffer.addEvent (toMessage (bytes), 0);

    port->sendBlockOfMessagesNow (buffer);

    EXPECT_EQ (surface.getAssignment (1), makeAssignment (4));
    EXPECT_EQ (surface.getReceivedMessages(), transfer (1, makeAssignment (4)));
}

//==============================================================================
// Each case spoils one correct transfer (for mode 2) the way a faulty host could.
struct MalformedCase
{
    const char* name;
    std::function<void (Sequence&)> spoil;
};

static void PrintTo (const MalformedCase& c, std::ostream* os)  { *os << c.name; }

class MalformedTransfer : public VirtualSurfaceTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P (MalformedTransfer, IsRefusedWithANoteAndTheNextCorrectOneIsTaken)
{
    VirtualSurface surface (Model::tamrel);
    surface.install();

    const auto before = makeAssignment (0);
    send (surface, transfer (2, before));
    ASSERT_EQ (surface.getAssignment (2), before);

    auto spoilt = transfer (2, makeAssignment (1));
    GetParam().spoil (spoilt);
    surface.clearRecord();
    send (surface, spoilt);

    EXPECT_EQ (surface.getAssignment (2), before);
    EXPECT_EQ (surface.getNumTransfersTaken(), 1);
    EXPECT_EQ (surface.getNumTransfersRefused(), 1);

    const auto notes = surface.getNotes();
    ASSERT_EQ (notes.size(), 1) << notes.joinIntoString ("\n");
    EXPECT_THAT (notes[0].toStdString(), StartsWith ("# transfer refused: "));
    EXPECT_EQ (surface.getReceivedMessages(), spoilt);

    const auto after = makeAssignment (2);
    send (surface, transfer (2, after));
    EXPECT_EQ (surface.getAssignment (2), after) << surface.getNotes().joinIntoString ("\n");
    EXPECT_EQ (surface.getNumTransfersTaken(), 2);
    EXPECT_EQ (surface.getNumTransfersRefused(), 1);
}

namespace
{
auto setAt (size_t position, Bytes bytes)
{
    return [position, bytes] (Sequence& s) { s[position] = bytes; };
}

auto setByte (size_t position, size_t byte, juce::uint8 value)
{
    return [=] (Sequence& s) { s[position][byte] = value; };
}
}

INSTANTIATE_TEST_SUITE_P (
    Cases, MalformedTransfer,
    ::testing::Values (
        MalformedCase { "burst one short",        [] (Sequence& s) { s.erase (s.begin() + 31); } },
        MalformedCase { "burst one long",         [] (Sequence& s) { s.insert (s.begin() + 32, Bytes { 0x9f, 0x20, 0x00 }); } },
        MalformedCase { "burst out of order",     [] (Sequence& s) { std::swap (s[5], s[6]); } },
        MalformedCase { "burst restarted late",   [] (Sequence& s) { s.insert (s.begin() + 20, Bytes { 0x9f, 0x00, 0x00 }); } },
        MalformedCase { "burst with velocity",    setByte (10, 2, 0x01) },
        MalformedCase { "no header",              [] (Sequence& s) { s.erase (s.begin() + (long) headerAt); } },
        MalformedCase { "header manufacturer",    setByte (headerAt, 1, 0x1e) },
        MalformedCase { "header second byte",     setByte (headerAt, 2, 0x04) },
        MalformedCase { "header family 177",      setAt (headerAt, header (3, 177)) },
        MalformedCase { "header family 79",       setAt (headerAt, header (3, 79)) },
        MalformedCase { "header command 0",       setAt (headerAt, header (0)) },
        MalformedCase { "header command 5",       setAt (headerAt, header (5)) },
        MalformedCase { "header command 7F",      setAt (headerAt, header (0x7f)) },
        MalformedCase { "header fixed byte",      setByte (headerAt, 5, 0x01) },
        MalformedCase { "header too long",        [] (Sequence& s) { s[headerAt].insert (s[headerAt].begin() + 7, 0x7f); } },
        MalformedCase { "header too short",       [] (Sequence& s) { s[headerAt].erase (s[headerAt].begin() + 5); } },
        MalformedCase { "one data message short", [] (Sequence& s) { s.erase (s.begin() + (long) otherNumberAt (100)); } },
        MalformedCase { "no data at all",         [] (Sequence& s) { s.erase (s.begin() + (long) dataAt, s.begin() + (long) closingAt); } },
        MalformedCase { "one data message extra", [] (Sequence& s) { s.insert (s.begin() + (long) closingAt, Bytes { 0x9f, 0x00, 0x00 }); } },
        MalformedCase { "no closing message",     [] (Sequence& s) { s.pop_back(); s.push_back ({ 0x9f, 0x00, 0x00 }); s.push_back ({ 0x90, 0x3c, 0x7f }); } },
        MalformedCase { "wrong closing message",  setAt (closingAt, { 0x9e, 0x7f, 0x7e }) },
        MalformedCase { "data on channel 1",      setByte (buttonTypeAt (40), 0, 0x90) },
        MalformedCase { "data as control change", setAt (otherTypeAt (95), { 0xbf, 0x00, 0x00 }) },
        MalformedCase { "data as program change", setAt (buttonNumberAt (7), { 0xcf, 0x08 }) },
        MalformedCase { "button pitch bend",      setByte (buttonTypeAt (12), 2, 1) },
        MalformedCase { "button type 4",          setByte (buttonTypeAt (90), 2, 4) },
        MalformedCase { "knob program change",    setByte (otherTypeAt (91), 2, 3) },
        MalformedCase { "jog program change",     setByte (otherTypeAt (99), 2, 3) },
        MalformedCase { "fader control change",   setByte (otherTypeAt (104), 2, 2) },
        MalformedCase { "master control change",  setByte (otherTypeAt (108), 2, 2) },
        MalformedCase { "button channel 16+1",    setByte (buttonTypeAt (1), 1, 0x10) },
        MalformedCase { "fader channel 16+1",     setByte (otherTypeAt (100), 1, 0x10) },
        MalformedCase { "button high nibble 07",  setAt (buttonNumberAt (30), { 0x9f, 0x07, 0x0d }) },
        MalformedCase { "button high nibble 00",  setAt (buttonNumberAt (31), { 0x9f, 0x00, 0x05 }) },
        MalformedCase { "button high nibble 10",  setAt (buttonNumberAt (90), { 0x9f, 0x10, 0x05 }) },
        MalformedCase { "button low nibble 10",   setAt (buttonNumberAt (1), { 0x9f, 0x08, 0x10 }) },
        MalformedCase { "knob high nibble 08",    setAt (otherNumberAt (91), { 0x9f, 0x08, 0x00 }) },
        MalformedCase { "master low nibble 10",   setAt (otherNumberAt (108), { 0x9f, 0x07, 0x10 }) },
        MalformedCase { "stray message first",    [] (Sequence& s) { s = { { 0x90, 0x3c, 0x7f } }; } },
        MalformedCase { "lone closing message",   [] (Sequence& s) { s = { closing }; } },
        MalformedCase { "lone header",            [] (Sequence& s) { s = { header (3) }; } }),
    [] (const ::testing::TestParamInfo<MalformedCase>& caseInfo)
    {
        return juce::String (caseInfo.param.name).retainCharacters ("abcdefghijklmnopqrstuvwxyz0123456789ABCDEF ")
                                             .replaceCharacter (' ', '_').toStdString();
    });

//==============================================================================
// A transfer cut off before its closing message, then a whole one: the device resynchronises
// on the second one's opening burst, however much of the first came, and so does the surface.
class CutOffTransfer : public VirtualSurfaceTest, public ::testing::WithParamInterface<size_t> {};

TEST_P (CutOffTransfer, IsRefusedAndTheNextTransferIsTaken)
{
    VirtualSurface surface (Model::tamrel);
    surface.install();

    auto cut = transfer (2, makeAssignment (1));
    cut.resize (GetParam());
    send (surface, cut);
    send (surface, transfer (1, makeAssignment (2)));

    const auto notes = surface.getNotes();
    ASSERT_EQ (notes.size(), 2) << notes.joinIntoString ("\n");
    EXPECT_THAT (notes[0].toStdString(), StartsWith ("# transfer refused: "));
    EXPECT_EQ (notes[1], "# mapping taken for mode 1");
    EXPECT_EQ (surface.getAssignment (1), makeAssignment (2));
    EXPECT_FALSE (surface.getAssignment (2).has_value());
    EXPECT_EQ (surface.getNumTransfersRefused(), 1);
}

INSTANTIATE_TEST_SUITE_P (CutPoints, CutOffTransfer,
                          ::testing::Values (1, 20, headerAt, dataAt, buttonTypeAt (50), buttonTypeAt (90),
                                             buttonNumberAt (1), buttonNumberAt (85), otherTypeAt (95),
                                             otherTypeAt (108), otherNumberAt (91), otherNumberAt (104), closingAt));

TEST_F (VirtualSurfaceTest, CutOffNotesSayWhereTheTransferWasCut)
{
    VirtualSurface surface (Model::tamrel);
    surface.install();

    auto cut = transfer (0, makeAssignment (3));
    cut.resize (buttonNumberAt (10));
    send (surface, cut);
    send (surface, transfer (0, makeAssignment (3)));

    EXPECT_THAT (surface.getNotes()[0].toStdString(),
                 HasSubstr ("cut off after 99 of 216 data messages by the next transfer's opening burst"));
}

TEST_F (VirtualSurfaceTest, DataThatBeginsLikeABurstIsStillData)
{
    VirtualSurface surface (Model::tamrel);
    surface.install();

    // Buttons 1 to 16 as notes on channels 1 to 16: their first pass reads 9F 00 00 to 9F 0F 00.
    auto a = makeAssignment (4);

    for (int id = 1; id <= 16; ++id)
        a[(size_t) id - 1] = { 0, id, 5 };

    const auto sequence = transfer (3, a);
    ASSERT_EQ (sequence[buttonTypeAt (1)], (Bytes { 0x9f, 0x00, 0x00 }));
    ASSERT_EQ (sequence[buttonTypeAt (16)], (Bytes { 0x9f, 0x0f, 0x00 }));

    send (surface, sequence);
    EXPECT_EQ (surface.getAssignment (3), a) << surface.getNotes().joinIntoString ("\n");

    // Cut off within that run, the next transfer is still found.
    auto cut = sequence;
    cut.resize (buttonTypeAt (10));
    send (surface, cut);
    send (surface, transfer (3, makeAssignment (5)));
    EXPECT_EQ (surface.getAssignment (3), makeAssignment (5)) << surface.getNotes().joinIntoString ("\n");
}

TEST_F (VirtualSurfaceTest, RefusalNotesSayWhatWasWrong)
{
    VirtualSurface surface (Model::tamrel);
    surface.install();

    auto wrongFamily = transfer (0, makeAssignment (0));
    wrongFamily[headerAt] = header (1, 177);
    send (surface, wrongFamily);

    auto badNibble = transfer (0, makeAssignment (0));
    badNibble[otherNumberAt (91)] = { 0x9f, 0x08, 0x00 };
    send (surface, badNibble);

    auto shortOne = transfer (0, makeAssignment (0));
    shortOne.erase (shortOne.begin() + (long) otherNumberAt (108));
    send (surface, shortOne);

    const auto notes = surface.getNotes();
    ASSERT_EQ (notes.size(), 3);
    EXPECT_THAT (notes[0].toStdString(), HasSubstr ("177"));
    EXPECT_THAT (notes[1].toStdString(), HasSubstr ("control 91"));
    EXPECT_THAT (notes[2].toStdString(), HasSubstr ("215 of 216"));
}

TEST_F (VirtualSurfaceTest, ClearingTheRecordKeepsWhatTheSurfaceHolds)
{
    VirtualSurface surface (Model::tamrel);
    surface.install();
    send (surface, transfer (3, makeAssignment (5)));
    send (surface, { { 0x90, 0x3c, 0x7f } });

    surface.clearRecord();

    EXPECT_TRUE (surface.getRecord().empty());
    EXPECT_EQ (surface.getAssignment (3), makeAssignment (5));
    EXPECT_EQ (surface.getNumTransfersTaken(), 1);
    EXPECT_EQ (surface.getNumTransfersRefused(), 1);
}

//==============================================================================
TEST_F (VirtualSurfaceTest, RefusingToOpenItsOutputStillListsIt)
{
    VirtualSurface surface (Model::tamrel);
    surface.install();
    surface.setRefusesToOpenOutput (true);

    EXPECT_THAT (toVector (MidiPorts::getOutputNames()), ElementsAre ("Varn Tamrel Virtual"));
    EXPECT_EQ (MidiPorts::openOutput (0), nullptr);

    RecordingCallback callback;
    EXPECT_NE (MidiPorts::openInput (0, callback), nullptr);

    surface.setRefusesToOpenInput (true);
    EXPECT_EQ (MidiPorts::openInput (0, callback), nullptr);

    surface.setRefusesToOpenOutput (false);
    EXPECT_NE (MidiPorts::openOutput (0), nullptr);
}

TEST_F (VirtualSurfaceTest, HiddenPortsAreNeitherListedNorOpened)
{
    VirtualSurface surface (Model::ostrel);
    surface.install();
    surface.setHidesPorts (true);

    RecordingCallback callback;
    EXPECT_TRUE (MidiPorts::getOutputNames().isEmpty());
    EXPECT_TRUE (MidiPorts::getInputNames().isEmpty());
    EXPECT_EQ (surface.openOutput (0), nullptr);
    EXPECT_EQ (surface.openInput (0, callback), nullptr);

    surface.setHidesPorts (false);
    EXPECT_THAT (toVector (MidiPorts::getOutputNames()), ElementsAre ("Varn Ostrel Virtual"));
}

TEST_F (VirtualSurfaceTest, OpensNothingBeyondItsOnePort)
{
    VirtualSurface surface (Model::tamrel);
    RecordingCallback callback;

    EXPECT_EQ (surface.openOutput (1), nullptr);
    EXPECT_EQ (surface.openOutput (-1), nullptr);
    EXPECT_EQ (surface.openInput (1, callback), nullptr);
}

// The simulated surface's port lives for one mode: the port it shows in the next mode has the
// same place in the list, but it is another port.
TEST (VirtualSurfacePorts, APortOfAnEarlierModeIsNoLongerOpenedByItsIdentifier)
{
    FakeMidiPorts none;

    {
        VirtualSurface surface (VirtualSurface::Model::tamrel);
        surface.install();

        const auto normal = MidiPorts::getOutputs();
        ASSERT_EQ (normal.size(), 1);
        auto output = MidiPorts::openOutputWithIdentifier (normal[0].identifier);
        ASSERT_NE (output, nullptr);

        // The upgrade-mode request addressed to the main unit's family.
        const juce::uint8 request[] { 0xf0, 0x1d, 0x03, 0x01, 0x30, 0x00, 0x7f, 0x7f, 0xf7 };
        output->sendMessageNow (juce::MidiMessage (request, (int) sizeof (request)));
        ASSERT_EQ (surface.getMode(), VirtualSurface::Mode::upgrade);

        const auto upgrade = MidiPorts::getOutputs();
        ASSERT_EQ (upgrade.size(), 1);
        EXPECT_EQ (upgrade[0].name, VirtualSurface::upgradePortName);
        EXPECT_NE (upgrade[0].identifier, normal[0].identifier);
        EXPECT_EQ (MidiPorts::openOutputWithIdentifier (normal[0].identifier), nullptr);
        EXPECT_NE (MidiPorts::openOutputWithIdentifier (upgrade[0].identifier), nullptr);

        surface.uninstall();
    }
}

//==============================================================================
TEST_F (VirtualSurfaceTest, SendsToTheHostOnlyThroughStartedInputs)
{
    VirtualSurface surface (Model::tamrel);
    surface.install();

    RecordingCallback first, second;
    auto firstInput = MidiPorts::openInput (0, first);
    auto secondInput = MidiPorts::openInput (0, second);
    ASSERT_NE (firstInput, nullptr);
    ASSERT_NE (secondInput, nullptr);

    surface.sendToHost (toMessage ({ 0x9f, 0x01, 0x00 }));
    firstInput->start();
    secondInput->start();
    surface.sendToHost (toMessage ({ 0x9f, 0x7f, 0x00 }));
    secondInput->stop();
    surface.sendToHost (toMessage ({ 0x9f, 0x02, 0x00 }));
    secondInput.reset();
    surface.sendToHost (toMessage ({ 0x9f, 0x00, 0x00 }));

    EXPECT_EQ (first.received, (Sequence { { 0x9f, 0x7f, 0x00 }, { 0x9f, 0x02, 0x00 }, { 0x9f, 0x00, 0x00 } }));
    EXPECT_EQ (second.received, (Sequence { { 0x9f, 0x7f, 0x00 } }));
    EXPECT_TRUE (surface.getRecord().empty()) << "what the surface sends is not what it received";
}

TEST_F (VirtualSurfaceTest, APortThatOutlivesTheSurfaceIsMerelyDisconnected)
{
    auto surface = std::make_unique<VirtualSurface> (Model::tamrel);
    auto output = surface->openOutput (0);
    RecordingCallback callback;
    auto input = surface->openInput (0, callback);
    input->start();

    surface.reset();

    output->sendMessageNow (toMessage ({ 0x9f, 0x00, 0x00 }));
    juce::MidiBuffer buffer;
    buffer.addEvent (toMessage ({ 0x9f, 0x01, 0x00 }), 0);
    output->sendBlockOfMessagesNow (buffer);
    input->stop();
    EXPECT_TRUE (callback.received.empty());
}

TEST_F (VirtualSurfaceTest, RecordsEveryMessageFromSeveralThreads)
{
    VirtualSurface surface (Model::tamrel);
    constexpr int numThreads = 4, perThread = 300;

    std::vector<std::thread> threads;

    for (int t = 0; t < numThreads; ++t)
        threads.emplace_back ([&surface, t]
        {
            auto port = surface.openOutput (0);

            for (int i = 0; i < perThread; ++i)
                port->sendMessageNow (toMessage ({ 0x90, (juce::uint8) t, (juce::uint8) (i % 128) }));
        });

    for (auto& thread : threads)
        thread.join();

    const auto messages = surface.getReceivedMessages();
    ASSERT_EQ (messages.size(), (size_t) (numThreads * perThread));

    // Each thread's messages keep their order.
    std::vector<int> next (numThreads, 0);

    for (const auto& m : messages)
    {
        auto& expected = next[(size_t) m[1]];
        EXPECT_EQ (m[2], expected % 128);
        ++expected;
    }
}

//==============================================================================
TEST_F (VirtualSurfaceTest, TheEnvironmentAsksForAModelOrForNone)
{
    const ScopedEnvironment noLog ("KESTAL_VIRTUAL_SURFACE_LOG", nullptr);

    for (const char* value : { (const char*) nullptr, "", "dravo", "tamrel2" })
    {
        const ScopedEnvironment env ("KESTAL_VIRTUAL_SURFACE", value);
        EXPECT_EQ (VirtualSurface::installFromEnvironment(), nullptr) << (value != nullptr ? value : "(unset)");
        EXPECT_TRUE (MidiPorts::getOutputNames().isEmpty());
    }

    for (auto [value, model, name] : { std::tuple { "tamrel", Model::tamrel, "Varn Tamrel Virtual" },
                                       std::tuple { "ostrel", Model::ostrel, "Varn Ostrel Virtual" } })
    {
        const ScopedEnvironment env ("KESTAL_VIRTUAL_SURFACE", value);
        auto surface = VirtualSurface::installFromEnvironment();
        ASSERT_NE (surface, nullptr) << value;
        EXPECT_EQ (surface->getModel(), model);
        EXPECT_TRUE (surface->isInstalled());
        EXPECT_THAT (toVector (MidiPorts::getOutputNames()), ElementsAre (name));
    }
}

TEST_F (VirtualSurfaceTest, TheLogFileGetsOneLinePerMessageAndTheNotesAppendedToWhatWasThere)
{
    const juce::TemporaryFile temp (".log");
    const auto file = temp.getFile();
    ASSERT_TRUE (file.replaceWithText ("earlier run\n", false, false, "\n"));

    const ScopedEnvironment env ("KESTAL_VIRTUAL_SURFACE", "tamrel");
    const ScopedEnvironment log ("KESTAL_VIRTUAL_SURFACE_LOG", file.getFullPathName().toRawUTF8());

    auto surface = VirtualSurface::installFromEnvironment();
    ASSERT_NE (surface, nullptr);

    send (*surface, { { 0x9f, 0x00, 0x00 }, header (1), closing, { 0x80, 0x0a, 0x7f } });
    surface.reset();

    const auto text = file.loadFileAsString();
    ASSERT_TRUE (text.endsWith ("\n"));

    juce::StringArray lines;
    lines.addTokens (text.dropLastCharacters (1), "\n", {});

    ASSERT_EQ (lines.size(), 7) << text;
    EXPECT_EQ (lines[0], "earlier run");

    std::vector<juce::String> messageBytes;

    for (int i : { 1, 2, 4, 5 })
    {
        const auto& line = lines[i];
        const auto time = line.upToFirstOccurrenceOf ("\t", false, false);
        EXPECT_TRUE (line.contains ("\t")) << line;
        EXPECT_TRUE (time.isNotEmpty() && time.containsOnly ("0123456789")) << line;
        messageBytes.push_back (line.fromFirstOccurrenceOf ("\t", false, false));
    }

    EXPECT_EQ (messageBytes, std::vector<juce::String> ({ "9F 00 00", "F0 1D 03 01 30 00 01 7F F7", "9E 7F 7F", "80 0A 7F" }));
    EXPECT_THAT (lines[3].toStdString(), StartsWith ("# transfer refused: "));
    EXPECT_THAT (lines[6].toStdString(), StartsWith ("# transfer refused: "));
}
