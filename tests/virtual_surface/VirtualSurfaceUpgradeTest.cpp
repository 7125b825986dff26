#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeMidiPorts.h"
#include "RandomImage.h"
#include "ScopedEnvironment.h"
#include "StringLists.h"
#include "TemporaryFolder.h"
#include "fenz_VirtualSurface.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

using namespace fenz;
using namespace testsupport;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

using Model = VirtualSurface::Model;
using Mode = VirtualSurface::Mode;
using Stage = UpgradeFaults::Stage;
using Bytes = std::vector<juce::uint8>;
using Sequence = std::vector<Bytes>;

namespace
{

//==============================================================================
// The host's side of the upgrade dialogue, written from the byte rules of the protocol.

const juce::String upgradePort ("Fenz firmware upgrade");

Bytes request (int family)
{
    return { 0xf0, 0x1d, 0x03, (juce::uint8) (family >> 7), (juce::uint8) (family % 128), 0x00, 0x7f, 0x7f, 0xf7 };
}

Bytes secondRequest (int product)
{
    return { 0xf0, 0x1d, 0x03, (juce::uint8) (product >> 7), (juce::uint8) (product % 128), 0x55, 0x7f, 0xf7 };
}

juce::uint8 sumOf (const Bytes& bytes)
{
    int sum = 0;

    for (auto b : bytes)
        sum += b;

    return (juce::uint8) (sum % 256);
}

Bytes head (juce::uint8 command)
{
    Bytes b { 0x1d, 0x03, 0x00, 0x49, command };
    b.insert (b.begin(), 10, 0x55);
    return b;
}

Bytes commandPacket (juce::uint8 command, juce::uint8 argument)
{
    auto b = head (command);
    b.push_back (argument);
    b.push_back (sumOf (b));
    return b;
}

const Bytes connectPacket = commandPacket (0x7f, 0x00);
const Bytes resetPacket = commandPacket (0x02, 0x00);
Bytes erasePacket (juce::uint8 eraseByte = 0x70)  { return commandPacket (0x00, eraseByte); }

// Bytes past the end of the image are taken from fill, so that a test can tell them apart.
Bytes dataPacket (const Bytes& image, int block, juce::uint8 fill = 0x00)
{
    auto b = head (0x01);
    b.push_back ((juce::uint8) block);
    b.push_back (0x00);

    for (size_t i = 0; i < 512; ++i)
    {
        const auto at = (size_t) block * 512 + i;
        b.push_back (at < image.size() ? image[at] : fill);
    }

    b.push_back (sumOf (b));
    return b;
}

Bytes transport (juce::uint8 byte)  { return { 0x9f, (juce::uint8) (byte >> 4), (juce::uint8) (byte & 0x0f) }; }

juce::MidiMessage toMessage (const Bytes& b)  { return juce::MidiMessage (b.data(), (int) b.size()); }

Bytes answer (juce::uint8 code)  { return { 0x9f, code, 0x00 }; }

// The CRC-32 of zip and PNG, bit by bit, as the reset note gives it.
juce::String crc32Text (const Bytes& bytes)
{
    juce::uint32 crc = 0xffffffffu;

    for (auto b : bytes)
    {
        crc ^= b;

        for (int k = 0; k < 8; ++k)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xedb88320u : crc >> 1;
    }

    return juce::String::toHexString ((juce::int64) (crc ^ 0xffffffffu)).paddedLeft ('0', 8).toUpperCase();
}

std::vector<std::string> toStrings (const juce::StringArray& texts)
{
    std::vector<std::string> result;

    for (const auto& text : texts)
        result.push_back (text.toStdString());

    return result;
}

//==============================================================================
// What the host's input receives, with the thread each message came on.
class AnswerLog : public juce::MidiInputCallback
{
public:
    void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& m) override
    {
        {
            const std::lock_guard<std::mutex> guard (mutex);
            messages.emplace_back (m.getRawData(), m.getRawData() + m.getRawDataSize());
            threads.push_back (std::this_thread::get_id());
            times.push_back (std::chrono::steady_clock::now());

            if (onMessage)
                onMessage();
        }

        arrived.notify_all();
    }

    // Waits (bounded) until n messages have come.
    bool waitFor (size_t n)
    {
        std::unique_lock<std::mutex> guard (mutex);
        return arrived.wait_for (guard, std::chrono::seconds (10), [&] { return messages.size() >= n; });
    }

    Sequence getMessages()
    {
        const std::lock_guard<std::mutex> guard (mutex);
        return messages;
    }

    std::mutex mutex;
    std::condition_variable arrived;
    Sequence messages;
    std::vector<std::thread::id> threads;
    std::vector<std::chrono::steady_clock::time_point> times;
    std::function<void()> onMessage;   // runs in the callback, mutex held
};

//==============================================================================
// A surface, and the host's ports on it: the normal output, and once in upgrade mode the
// upgrade output and input, as the upgrader opens them (by name, through the port layer).
class UpgradeModeTest : public ::testing::Test
{
protected:
    FakeMidiPorts system;   // no machine ports: only the surface's
    std::unique_ptr<VirtualSurface> surface;
    std::unique_ptr<MidiOutputPort> output;
    std::unique_ptr<MidiInputPort> input;
    AnswerLog answers;

    void SetUp() override
    {
        surface = std::make_unique<VirtualSurface> (Model::tamrel);
        surface->setAnswerDelay (0);
        surface->install();
    }

    void TearDown() override
    {
        input.reset();
        output.reset();
        surface.reset();
    }

    static std::unique_ptr<MidiOutputPort> openOutputNamed (const juce::String& name)
    {
        const auto index = MidiPorts::getOutputNames().indexOf (name);
        return index >= 0 ? MidiPorts::openOutput (index) : nullptr;
    }

    static void sendMessages (MidiOutputPort& port, const Sequence& messages)
    {
        for (const auto& m : messages)
            port.sendMessageNow (toMessage (m));
    }

    // As the upgrader sends it: the request twice on the normal port.
    void sendRequest (const Bytes& message = request (176))
    {
        auto normal = openOutputNamed (surface->getPortName());
        ASSERT_NE (normal, nullptr);
        sendMessages (*normal, { message, message });
    }

    void enterUpgradeMode()
    {
        sendRequest();
        ASSERT_EQ (surface->getMode(), Mode::upgrade) << surface->getNotes().joinIntoString ("\n");
        openUpgradePorts();
    }

    void openUpgradePorts()
    {
        output = openOutputNamed (upgradePort);
        ASSERT_NE (output, nullptr);

        const auto index = MidiPorts::getInputNames().indexOf (upgradePort);
        ASSERT_GE (index, 0);
        input = MidiPorts::openInput (index, answers);
        ASSERT_NE (input, nullptr);
        input->start();
    }

    // Every byte as one message; data packets as blocks of one, as the upgrader sends them.
    void sendPacket (const Bytes& packet)
    {
        const bool isData = packet.size() > 14 && packet[14] == 0x01;

        for (auto byte : packet)
        {
            const auto message = toMessage (transport (byte));

            if (isData)
            {
                juce::MidiBuffer buffer;
                buffer.addEvent (message, 0);
                output->sendBlockOfMessagesNow (buffer);
            }
            else
            {
                output->sendMessageNow (message);
            }
        }
    }

    // The answers of one packet, sent now.
    Sequence answersTo (const Bytes& packet)
    {
        const auto before = answers.getMessages().size();
        sendPacket (packet);
        const auto all = answers.getMessages();
        return { all.begin() + (long) before, all.end() };
    }

    juce::StringArray notesSince (size_t first)
    {
        const auto notes = surface->getNotes();
        juce::StringArray result;

        for (int i = (int) first; i < notes.size(); ++i)
            result.add (notes[i]);

        return result;
    }

    // connect, erase, every block, reset: the whole dialogue for an image.
    std::vector<Bytes> dialogue (const Bytes& image, juce::uint8 fill = 0x00)
    {
        std::vector<Bytes> packets { connectPacket, erasePacket() };

        for (int block = 0; (size_t) block * 512 < image.size(); ++block)
            packets.push_back (dataPacket (image, block, fill));

        packets.push_back (resetPacket);
        return packets;
    }
};

} // namespace

//==============================================================================
TEST (UpgradeEncoding, TheTestsPacketsFollowTheByteRules)
{
    EXPECT_EQ (connectPacket, (Bytes { 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55,
                                       0x1d, 0x03, 0x00, 0x49, 0x7f, 0x00, 0x3a }));
    EXPECT_EQ (erasePacket().back(), 0x2b);
    EXPECT_EQ (erasePacket (0x71).back(), 0x2c);
    EXPECT_EQ (resetPacket.back(), 0xbd);
    EXPECT_EQ (dataPacket (Bytes (512, 0x01), 0).size(), 530u);
    EXPECT_EQ (transport (0x3a), (Bytes { 0x9f, 0x03, 0x0a }));
    EXPECT_EQ (crc32Text ({ '1', '2', '3', '4', '5', '6', '7', '8', '9' }), "CBF43926");
}

//==============================================================================
TEST_F (UpgradeModeTest, TheRequestForItsFamilySwapsItsPortsForTheUpgradePorts)
{
    for (auto model : { Model::tamrel, Model::ostrel })
    {
        surface = std::make_unique<VirtualSurface> (model);
        surface->install();
        const auto name = surface->getPortName();

        EXPECT_THAT (toVector (MidiPorts::getOutputNames()), ElementsAre (name));
        EXPECT_THAT (toVector (MidiPorts::getInputNames()), ElementsAre (name));

        // Both models answer to the main unit's family.
        auto normal = openOutputNamed (name);
        ASSERT_NE (normal, nullptr);
        normal->sendMessageNow (toMessage (request (176)));

        EXPECT_EQ (surface->getMode(), Mode::upgrade);
        EXPECT_THAT (toVector (MidiPorts::getOutputNames()), ElementsAre ("Fenz firmware upgrade"));
        EXPECT_THAT (toVector (MidiPorts::getInputNames()), ElementsAre ("Fenz firmware upgrade"));
        EXPECT_THAT (surface->getNotes()[0].toStdString(), StartsWith ("# upgrade mode"));

        // The request's second copy reaches a port that is gone.
        normal->sendMessageNow (toMessage (request (176)));
        EXPECT_EQ (surface->getMode(), Mode::upgrade);
        EXPECT_EQ (surface->getReceivedMessages(), (Sequence { request (176), request (176) }));
        EXPECT_THAT (surface->getNotes()[1].toStdString(), HasSubstr ("no longer shows"));
    }
}

TEST_F (UpgradeModeTest, RequestsForAnotherFamilyAreIgnoredWithANote)
{
    for (const auto& [message, mentions] : { std::pair { request (177), "177" },
                                             std::pair { request (79), "79" },
                                             std::pair { request (110), "110" },
                                             std::pair { request (102), "102" },
                                             std::pair { secondRequest (102), "102" },
                                             std::pair { secondRequest (176), "176" } })
    {
        surface->clearRecord();
        sendRequest (message);

        EXPECT_EQ (surface->getMode(), Mode::normal) << mentions;
        EXPECT_THAT (toVector (MidiPorts::getOutputNames()), ElementsAre ("Varn Tamrel Virtual"));

        const auto notes = surface->getNotes();
        ASSERT_EQ (notes.size(), 2) << notes.joinIntoString ("\n");
        EXPECT_THAT (notes[0].toStdString(), HasSubstr ("ignored"));
        EXPECT_THAT (notes[0].toStdString(), HasSubstr (mentions));
    }

    EXPECT_EQ (surface->getNumTransfersRefused(), 0) << "a request is no broken transfer";
}

TEST_F (UpgradeModeTest, WithinATransferARequestOnlyBreaksItAndTheNextCopyIsTaken)
{
    auto normal = openOutputNamed (surface->getPortName());

    for (int j = 0; j < 32; ++j)
        normal->sendMessageNow (toMessage ({ 0x9f, (juce::uint8) j, 0x00 }));

    // Where the header stands, the request reads as a header for no mode.
    normal->sendMessageNow (toMessage (request (176)));
    EXPECT_EQ (surface->getMode(), Mode::normal);
    EXPECT_EQ (surface->getNumTransfersRefused(), 1);

    normal->sendMessageNow (toMessage (request (176)));
    EXPECT_EQ (surface->getMode(), Mode::upgrade);
}

//==============================================================================
TEST_F (UpgradeModeTest, AnswersEachPacketItTakesWithItsCodeOnTheUpgradeInput)
{
    enterUpgradeMode();
    const auto image = randomImage (1500, 1);

    EXPECT_EQ (answersTo (connectPacket), (Sequence { answer (0x7f) }));
    EXPECT_EQ (answersTo (erasePacket()), (Sequence { answer (0x00) }));

    for (int block = 0; block < 3; ++block)
        EXPECT_EQ (answersTo (dataPacket (image, block)), (Sequence { answer (0x01) })) << "block " << block;

    EXPECT_EQ (answersTo (resetPacket), (Sequence { answer (0x02) }));
    EXPECT_THAT (toVector (surface->getNotes()).back().toStdString(), StartsWith ("# normal mode"));
}

TEST_F (UpgradeModeTest, ItsOtherInputsHearNothingOfTheUpgrade)
{
    AnswerLog normalInput;
    auto normal = MidiPorts::openInput (0, normalInput);
    normal->start();

    enterUpgradeMode();
    answersTo (connectPacket);
    surface->sendToHost (toMessage ({ 0x9f, 0x05, 0x00 }));

    EXPECT_THAT (normalInput.getMessages(), IsEmpty());
    EXPECT_EQ (answers.getMessages(), (Sequence { answer (0x7f), { 0x9f, 0x05, 0x00 } }));
}

//==============================================================================
// Each case leads up to one faulty packet or message (after connect, erase and block 0 where
// it says so), which gets no answer and one note; then the surface still takes the packet the
// host should have sent.
struct RefusalCase
{
    const char* name;
    int stepsBefore;            // 0 none, 1 connect, 2 and erase, 3 and block 0
    std::function<Sequence()> faulty;
    const char* noteSays;
    Bytes correctAfter;         // empty: the next packet of the dialogue
};

static void PrintTo (const RefusalCase& c, std::ostream* os)  { *os << c.name; }

class Refusal : public UpgradeModeTest, public ::testing::WithParamInterface<RefusalCase> {};

namespace
{
const Bytes image3 = randomImage (3 * 512, 7);

Sequence asMessages (const Bytes& packet)
{
    Sequence s;

    for (auto byte : packet)
        s.push_back (transport (byte));

    return s;
}

Bytes withByte (Bytes packet, size_t at, juce::uint8 value)
{
    packet[at] = value;
    return packet;
}

Bytes resummed (Bytes packet)
{
    packet.pop_back();
    packet.push_back (sumOf (packet));
    return packet;
}
}

TEST_P (Refusal, GetsNoAnswerAndANoteAndTheDialogueGoesOn)
{
    const auto& c = GetParam();
    enterUpgradeMode();

    const std::vector<Bytes> steps { connectPacket, erasePacket(), dataPacket (image3, 0) };

    for (int i = 0; i < c.stepsBefore; ++i)
        ASSERT_EQ (answersTo (steps[(size_t) i]).size(), 1u) << i;

    const auto notesBefore = (size_t) surface->getNotes().size();
    const auto answersBefore = answers.getMessages().size();

    sendMessages (*output, c.faulty());

    EXPECT_EQ (answers.getMessages().size(), answersBefore) << "no answer";
    const auto notes = notesSince (notesBefore);
    ASSERT_GE (notes.size(), 1);
    EXPECT_THAT (notes.joinIntoString ("\n").toStdString(), HasSubstr (c.noteSays));

    const auto next = c.correctAfter.empty() ? (c.stepsBefore < 3 ? steps[(size_t) c.stepsBefore] : dataPacket (image3, 1))
                                             : c.correctAfter;
    EXPECT_EQ (answersTo (next).size(), 1u) << surface->getNotes().joinIntoString ("\n");
    EXPECT_EQ (surface->getMode(), Mode::upgrade);
}

INSTANTIATE_TEST_SUITE_P (
    Cases, Refusal,
    ::testing::Values (
        RefusalCase { "connect checksum", 0, [] { return asMessages (withByte (connectPacket, 16, 0x3b)); }, "checksum 3B, but its bytes sum to 3A", {} },
        RefusalCase { "erase checksum", 1, [] { return asMessages (withByte (erasePacket(), 16, 0x00)); }, "checksum", {} },
        RefusalCase { "data checksum", 3, [] { return asMessages (withByte (dataPacket (image3, 1), 529, (juce::uint8) (dataPacket (image3, 1)[529] + 1))); }, "checksum", {} },
        RefusalCase { "data byte spoilt", 3, [] { auto p = dataPacket (image3, 1); p[300] ^= 0x10; return asMessages (p); }, "checksum", {} },
        RefusalCase { "block index skipped", 2, [] { return asMessages (dataPacket (image3, 1)); }, "block index 1, expected 0", {} },
        RefusalCase { "block index repeated", 3, [] { return asMessages (dataPacket (image3, 0)); }, "block index 0, expected 1", {} },
        RefusalCase { "block before erase", 1, [] { return asMessages (dataPacket (image3, 0)); }, "before any erase", {} },
        RefusalCase { "erase before connect", 0, [] { return asMessages (erasePacket()); }, "no connect before it", {} },
        RefusalCase { "erase byte 71", 1, [] { return asMessages (erasePacket (0x71)); }, "erase byte 71, this device's is 70", {} },
        RefusalCase { "erase byte 00", 1, [] { return asMessages (erasePacket (0x00)); }, "erase byte 00", {} },
        RefusalCase { "connect argument", 0, [] { return asMessages (commandPacket (0x7f, 0x01)); }, "argument 01", {} },
        RefusalCase { "data byte 16", 3, [] { return asMessages (resummed (withByte (dataPacket (image3, 1), 16, 0x01))); }, "byte 16 is 01", {} },
        RefusalCase { "unknown command", 1, [] { return asMessages (commandPacket (0x05, 0x00)); }, "unknown command 05", {} },
        RefusalCase { "unknown command 49", 0, [] { return asMessages (commandPacket (0x49, 0x00)); }, "unknown command 49", {} },
        RefusalCase { "stray note", 1, [] { return Sequence { { 0x90, 0x3c, 0x7f } }; }, "stray message 90 3C 7F", {} },
        RefusalCase { "stray sysex", 1, [] { return Sequence { request (176) }; }, "stray message F0 1D", {} },
        RefusalCase { "nibble above 0F", 1, [] { return Sequence { { 0x9f, 0x10, 0x00 } }; }, "stray message 9F 10 00", {} },
        RefusalCase { "stray inside a packet", 1, [] { auto s = asMessages (erasePacket()); s.insert (s.begin() + 8, Bytes { 0x80, 0x00, 0x00 }); return s; }, "bytes of the packet begun are dropped", {} },
        RefusalCase { "bytes outside a packet", 1, [] { auto s = asMessages (erasePacket()); s.insert (s.begin(), { transport (0x12), transport (0x55), transport (0x34) }); s.resize (3); return s; }, "outside a packet", {} },
        RefusalCase { "packet cut short", 1, [] { auto s = asMessages (erasePacket()); s.resize (12); s.push_back ({ 0x80, 0x00, 0x00 }); return s; }, "the 12 bytes of the packet begun are dropped", {} }),
    [] (const ::testing::TestParamInfo<RefusalCase>& caseInfo)
    {
        return juce::String (caseInfo.param.name).retainCharacters ("abcdefghijklmnopqrstuvwxyz0123456789ABCDEF ")
                                             .replaceCharacter (' ', '_').toStdString();
    });

TEST_F (UpgradeModeTest, FindsAPacketHeadAfterJunkAndAfterExtraLeadBytes)
{
    enterUpgradeMode();

    // Junk, then a connect packet with two more 55s in front of it.
    sendMessages (*output, { transport (0x12), transport (0x55), transport (0x49) });
    Bytes padded { 0x55, 0x55 };
    padded.insert (padded.end(), connectPacket.begin(), connectPacket.end());

    EXPECT_EQ (answersTo (padded), (Sequence { answer (0x7f) })) << surface->getNotes().joinIntoString ("\n");
    EXPECT_THAT (surface->getNotes().joinIntoString ("\n").toStdString(), HasSubstr ("found after 5 skipped bytes"));
}

//==============================================================================
TEST_F (UpgradeModeTest, KeepsTheImageAsWrittenAndNamesItsSizeAndChecksumAtTheReset)
{
    // The upgrader fills the last block with zeros; the note gives the image without them, as
    // its file has it, and as written. Zeros of the image's own at its end read as padding,
    // but never more than the last block's share, and other fill bytes are not padding.
    struct Case { const char* what; size_t size; juce::uint8 fill; size_t ownZeros; size_t expectedOwn; };
    const Case cases[] = {
        { "zero padding",                       1300, 0x00, 0,   1300 },
        { "other fill bytes",                   1300, 0xab, 0,   1536 },
        { "no padding at all",                  1536, 0x00, 0,   1536 },
        { "a file ending in zeros",             1300, 0x00, 4,   1296 },
        { "a last block of one byte, a zero",   1025, 0x00, 1,   1025 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        SetUp();
        enterUpgradeMode();
        auto image = randomImage (c.size, 3);
        auto& lastOwnByte = image[c.size - c.ownZeros - 1];
        lastOwnByte = lastOwnByte == 0 ? 1 : lastOwnByte;
        std::fill (image.end() - (long) c.ownZeros, image.end(), 0);

        for (const auto& packet : dialogue (image, c.fill))
            ASSERT_EQ (answersTo (packet).size(), 1u);

        // Whole blocks, the last one with what followed the image in its packet.
        auto written = image;
        written.resize (1536, c.fill);
        EXPECT_EQ (surface->getWrittenImage(), written);

        const Bytes own (written.begin(), written.begin() + (long) c.expectedOwn);
        const auto note = "# reset: image of " + juce::String ((int) own.size()) + " bytes, CRC-32 " + crc32Text (own)
                        + " without the zeros that end its last block (the file's own size and CRC, unless the file"
                          " itself ends in zeros); as written, padded to 1536 bytes, CRC-32 " + crc32Text (written)
                        + "; answered 02";
        const auto notes = surface->getNotes();
        EXPECT_TRUE (notes.contains (note)) << note << "\n" << notes.joinIntoString ("\n");
        TearDown();
    }
}

TEST_F (UpgradeModeTest, TheNextEraseForgetsTheImage)
{
    enterUpgradeMode();

    for (const auto& packet : dialogue (randomImage (2048, 4)))
        answersTo (packet);

    enterUpgradeMode();
    const auto smaller = randomImage (512, 5);

    EXPECT_EQ (surface->getWrittenImage(), randomImage (2048, 4)) << "kept until the next erase";

    for (const auto& packet : dialogue (smaller))
        ASSERT_EQ (answersTo (packet).size(), 1u);

    EXPECT_EQ (surface->getWrittenImage(), smaller);
}

TEST_F (UpgradeModeTest, TakesNoBlockBeyondTheFirmwareArea)
{
    enterUpgradeMode();
    const auto image = randomImage (125 * 512, 6);
    answersTo (connectPacket);
    answersTo (erasePacket());

    for (int block = 0; block < 124; ++block)
        ASSERT_EQ (answersTo (dataPacket (image, block)).size(), 1u) << block;

    EXPECT_THAT (answersTo (dataPacket (image, 124)), IsEmpty());
    EXPECT_THAT (surface->getNotes()[surface->getNotes().size() - 1].toStdString(), HasSubstr ("beyond the firmware area"));
    EXPECT_EQ (surface->getWrittenImage().size(), 124u * 512u);
}

//==============================================================================
TEST_F (UpgradeModeTest, TheResetBringsBackTheNormalPortsAndTheUpgradePortsDie)
{
    auto oldNormal = openOutputNamed (surface->getPortName());
    enterUpgradeMode();
    answersTo (connectPacket);
    answersTo (resetPacket);

    EXPECT_EQ (surface->getMode(), Mode::normal);
    EXPECT_THAT (toVector (MidiPorts::getOutputNames()), ElementsAre ("Varn Tamrel Virtual"));
    EXPECT_THAT (toVector (MidiPorts::getInputNames()), ElementsAre ("Varn Tamrel Virtual"));

    // The upgrade output is dead: a connect on it is recorded, noted once, and not answered.
    const auto notesBefore = (size_t) surface->getNotes().size();
    EXPECT_THAT (answersTo (connectPacket), IsEmpty());
    EXPECT_THAT (toStrings (notesSince (notesBefore)), ElementsAre (StartsWith ("# a port the surface no longer shows")));

    // So is the normal port of before; a newly opened one takes a transfer again.
    Sequence mapping;

    for (int j = 0; j < 32; ++j)
        mapping.push_back ({ 0x9f, (juce::uint8) j, 0x00 });

    mapping.push_back ({ 0xf0, 0x1d, 0x03, 0x01, 0x30, 0x00, 0x01, 0x7f, 0xf7 });

    for (int i = 0; i < 216; ++i)
        mapping.push_back (i < 90 || (i >= 180 && i < 198) ? Bytes { 0x9f, 0x00, 0x00 }
                                                           : (i < 180 ? Bytes { 0x9f, 0x08, 0x00 } : Bytes { 0x9f, 0x00, 0x00 }));

    mapping.push_back ({ 0x9e, 0x7f, 0x7f });

    sendMessages (*oldNormal, mapping);
    EXPECT_EQ (surface->getNumTransfersTaken(), 0);

    auto newNormal = openOutputNamed (surface->getPortName());
    ASSERT_NE (newNormal, nullptr);
    sendMessages (*newNormal, mapping);
    EXPECT_EQ (surface->getNumTransfersTaken(), 1) << surface->getNotes().joinIntoString ("\n");
}

//==============================================================================
// The whole dialogue of a three-block image under each fault switch: the answers the host gets.
struct FaultCase
{
    const char* name;
    std::function<void (UpgradeFaults&)> set;
    Sequence expected;
    Mode modeAfter;
};

static void PrintTo (const FaultCase& c, std::ostream* os)  { *os << c.name; }

class FaultSwitch : public UpgradeModeTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P (FaultSwitch, ChangesOnlyTheAnswersItNames)
{
    const auto& c = GetParam();
    UpgradeFaults faults;
    c.set (faults);
    surface->setUpgradeFaults (faults);
    EXPECT_EQ (surface->getUpgradeFaults(), faults);

    enterUpgradeMode();

    for (const auto& packet : dialogue (image3))
        sendPacket (packet);

    EXPECT_EQ (answers.getMessages(), c.expected) << surface->getNotes().joinIntoString ("\n");
    EXPECT_EQ (surface->getMode(), c.modeAfter);
    EXPECT_THAT (surface->getNotes().joinIntoString ("\n").toStdString(), HasSubstr ("(fault switch)"));
}

INSTANTIATE_TEST_SUITE_P (
    Cases, FaultSwitch,
    ::testing::Values (
        // A silent stage still does its work: the erase after a silent connect is taken.
        FaultCase { "silent connect", [] (UpgradeFaults& f) { f.silentAtConnect = true; },
                    { answer (0x00), answer (0x01), answer (0x01), answer (0x01), answer (0x02) }, Mode::normal },
        FaultCase { "silent erase", [] (UpgradeFaults& f) { f.silentAtErase = true; },
                    { answer (0x7f), answer (0x01), answer (0x01), answer (0x01), answer (0x02) }, Mode::normal },
        // The host gives up its write at a block it gets no answer for: the firmware is not
        // whole, and the reset brings back only the upgrade ports.
        FaultCase { "silent block 1", [] (UpgradeFaults& f) { f.silentAtBlock = 1; },
                    { answer (0x7f), answer (0x00), answer (0x01), answer (0x01), answer (0x02) }, Mode::upgrade },
        FaultCase { "silent reset", [] (UpgradeFaults& f) { f.silentAtReset = true; },
                    { answer (0x7f), answer (0x00), answer (0x01), answer (0x01), answer (0x01) }, Mode::normal },
        FaultCase { "wrong code at connect", [] (UpgradeFaults& f) { f.wrongCodeAt = Stage::connect; },
                    { answer (0x03), answer (0x00), answer (0x01), answer (0x01), answer (0x01), answer (0x02) }, Mode::normal },
        FaultCase { "wrong code 01 at erase", [] (UpgradeFaults& f) { f.wrongCodeAt = Stage::erase; f.wrongCode = 0x01; },
                    { answer (0x7f), answer (0x01), answer (0x01), answer (0x01), answer (0x01), answer (0x02) }, Mode::normal },
        FaultCase { "wrong code at data", [] (UpgradeFaults& f) { f.wrongCodeAt = Stage::data; f.wrongCode = 0x7f; },
                    { answer (0x7f), answer (0x00), answer (0x7f), answer (0x7f), answer (0x7f), answer (0x02) }, Mode::upgrade },
        FaultCase { "wrong code at reset", [] (UpgradeFaults& f) { f.wrongCodeAt = Stage::reset; f.wrongCode = 0x00; },
                    { answer (0x7f), answer (0x00), answer (0x01), answer (0x01), answer (0x01), answer (0x00) }, Mode::normal },
        // The answer to block 0 still comes; then nothing, as there is no port left.
        FaultCase { "vanish after block 0", [] (UpgradeFaults& f) { f.vanishesAfterBlock = 0; },
                    { answer (0x7f), answer (0x00), answer (0x01) }, Mode::gone }),
    [] (const ::testing::TestParamInfo<FaultCase>& caseInfo)
    {
        return juce::String (caseInfo.param.name).retainCharacters ("abcdefghijklmnopqrstuvwxyz0123456789 ")
                                             .replaceCharacter (' ', '_').toStdString();
    });

//==============================================================================
// What a reset after each kind of dialogue leaves: the firmware whole and the normal ports
// back, or the firmware not whole and only the upgrade ports, on a new epoch.
TEST_F (UpgradeModeTest, TheResetRestartsInNormalModeOnlyWithTheFirmwareWrittenWhole)
{
    const auto image = randomImage (1300, 8);

    const auto withoutBlock = [&] (int dropped)
    {
        auto packets = dialogue (image);
        packets.erase (packets.begin() + 2 + dropped);
        return packets;
    };

    struct Case { const char* what; std::vector<Bytes> packets; bool whole; };
    const Case cases[] = {
        { "a whole write",                    dialogue (image),                                                  true },
        { "a connect and a reset alone",      { connectPacket, resetPacket },                                    true },
        { "an erase and no block",            { connectPacket, erasePacket(), resetPacket },                     false },
        { "a block missing in the middle",    withoutBlock (1),                                                  false },
        { "a block with a broken checksum",   [&] { auto p = dialogue (image); p[3].back() ^= 1; return p; } (), false },
        { "a new connect in the middle",      [&] { auto p = dialogue (image); p.insert (p.begin() + 3, connectPacket); return p; } (), false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        SetUp();
        enterUpgradeMode();

        for (const auto& packet : c.packets)
            sendPacket (packet);

        EXPECT_EQ (surface->isFirmwareWhole(), c.whole);
        EXPECT_EQ (surface->getMode(), c.whole ? Mode::normal : Mode::upgrade);
        EXPECT_THAT (toVector (MidiPorts::getOutputNames()), ElementsAre (c.whole ? surface->getPortName() : upgradePort));
        EXPECT_THAT (toVector (MidiPorts::getInputNames()), ElementsAre (c.whole ? surface->getPortName() : upgradePort));

        if (! c.whole)
        {
            EXPECT_TRUE (surface->getNotes().contains ("# the firmware was not written whole: restarting in upgrade mode"))
                << surface->getNotes().joinIntoString ("\n");

            // The upgrade ports of before are dead; the new ones take a whole write, which
            // brings the normal ports back.
            const auto notesBefore = (size_t) surface->getNotes().size();
            EXPECT_THAT (answersTo (connectPacket), IsEmpty());
            EXPECT_THAT (toStrings (notesSince (notesBefore)), ElementsAre (StartsWith ("# a port the surface no longer shows")));

            openUpgradePorts();

            for (const auto& packet : dialogue (image))
                ASSERT_EQ (answersTo (packet).size(), 1u);

            EXPECT_TRUE (surface->isFirmwareWhole());
            EXPECT_EQ (surface->getMode(), Mode::normal);
        }

        TearDown();
    }
}

// Off and on again: a surface cut off in the middle of a write, or after it vanished there,
// comes back with only its upgrade ports; one whose firmware is whole comes back as itself.
TEST_F (UpgradeModeTest, APowerCycleAfterAnUnfinishedWriteShowsOnlyTheUpgradePorts)
{
    const auto image = randomImage (2048, 9);

    struct Case { const char* what; int blocksSent; int vanishAfter; bool whole; };
    const Case cases[] = {
        { "cut off after two of four blocks", 2, -1, false },
        { "vanished after block 1",           4,  1, false },
        { "cut off before the erase",         -1, -1, true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        SetUp();
        UpgradeFaults faults;
        faults.vanishesAfterBlock = c.vanishAfter;
        surface->setUpgradeFaults (faults);
        enterUpgradeMode();
        sendPacket (connectPacket);

        if (c.blocksSent >= 0)
        {
            sendPacket (erasePacket());

            for (int block = 0; block < c.blocksSent; ++block)
                sendPacket (dataPacket (image, block));
        }

        surface->setUpgradeFaults ({});
        surface->restart();

        EXPECT_EQ (surface->getMode(), c.whole ? Mode::normal : Mode::upgrade);
        EXPECT_THAT (toVector (MidiPorts::getOutputNames()), ElementsAre (c.whole ? surface->getPortName() : upgradePort));
        EXPECT_THAT (surface->getNotes()[surface->getNotes().size() - 2].toStdString(),
                     StartsWith (c.whole ? "# restarted: the firmware is whole" : "# restarted: the firmware is not whole"));
        EXPECT_THAT (answersTo (connectPacket), IsEmpty()) << "the upgrade port of before the restart is dead";
        TearDown();
    }
}

// The state file carries the firmware's state from one surface to the next, as the editor
// started again finds the device as it was left.
TEST_F (UpgradeModeTest, TheStateFileKeepsAnUnfinishedWriteOverARestartOfTheEditor)
{
    const TemporaryFolder folder ("surface-state");
    const auto stateFile = folder.getFile().getChildFile ("surface.state");
    const auto image = randomImage (1536, 10);

    // The first run is cut off after one block.
    surface->setStateFile (stateFile);
    EXPECT_EQ (stateFile.loadFileAsString().trim(), "firmware whole");
    enterUpgradeMode();

    for (const auto& packet : { connectPacket, erasePacket(), dataPacket (image, 0) })
        sendPacket (packet);

    EXPECT_EQ (stateFile.loadFileAsString(), "firmware not written whole\n") << "kept from the erase on";
    TearDown();

    // The next one comes up in upgrade mode, and a whole write brings it back as itself.
    surface = std::make_unique<VirtualSurface> (Model::tamrel);
    surface->setAnswerDelay (0);
    surface->install();
    EXPECT_EQ (surface->getMode(), Mode::normal) << "no state file given yet";
    surface->setStateFile (stateFile);

    EXPECT_EQ (surface->getMode(), Mode::upgrade);
    EXPECT_FALSE (surface->isFirmwareWhole());
    EXPECT_THAT (toVector (MidiPorts::getOutputNames()), ElementsAre (upgradePort));
    EXPECT_THAT (toVector (MidiPorts::getInputNames()), ElementsAre (upgradePort));
    EXPECT_THAT (toStrings (surface->getNotes()),
                 ElementsAre ("# started with firmware that was not written whole: the firmware is not whole, so only the upgrade mode starts",
                              StartsWith ("# upgrade mode")));

    openUpgradePorts();

    for (const auto& packet : dialogue (image))
        ASSERT_EQ (answersTo (packet).size(), 1u) << surface->getNotes().joinIntoString ("\n");

    EXPECT_EQ (surface->getMode(), Mode::normal);
    EXPECT_EQ (stateFile.loadFileAsString().trim(), "firmware whole");
    TearDown();

    surface = std::make_unique<VirtualSurface> (Model::tamrel);
    surface->setStateFile (stateFile);
    EXPECT_EQ (surface->getMode(), Mode::normal);

    // A file that says anything else, or none at all, is whole firmware.
    for (const char* text : { "", "firmware not written", "nonsense" })
    {
        stateFile.replaceWithText (text);
        VirtualSurface other (Model::ostrel);
        other.setStateFile (stateFile);
        EXPECT_EQ (other.getMode(), Mode::normal) << text;
        EXPECT_TRUE (other.isFirmwareWhole()) << text;
    }
}

TEST_F (UpgradeModeTest, AVanishedSurfaceShowsAndOpensNoPorts)
{
    UpgradeFaults faults;
    faults.vanishesAfterBlock = 1;
    surface->setUpgradeFaults (faults);
    enterUpgradeMode();

    for (const auto& packet : dialogue (image3))
        sendPacket (packet);

    EXPECT_EQ (surface->getMode(), Mode::gone);
    EXPECT_THAT (toVector (MidiPorts::getOutputNames()), IsEmpty());
    EXPECT_THAT (toVector (MidiPorts::getInputNames()), IsEmpty());
    EXPECT_EQ (surface->openOutput (0), nullptr);
    EXPECT_EQ (surface->openInput (0, answers), nullptr);
    EXPECT_EQ (surface->getWrittenImage(), Bytes (image3.begin(), image3.begin() + 1024));
}

TEST_F (UpgradeModeTest, RefusingUpgradeModeKeepsTheNormalPorts)
{
    UpgradeFaults faults;
    faults.refusesUpgradeMode = true;
    surface->setUpgradeFaults (faults);

    sendRequest();

    EXPECT_EQ (surface->getMode(), Mode::normal);
    EXPECT_THAT (toVector (MidiPorts::getOutputNames()), ElementsAre ("Varn Tamrel Virtual"));
    EXPECT_THAT (toVector (surface->getNotes()), ElementsAre ("# upgrade-mode request ignored (fault switch)",
                                                              "# upgrade-mode request ignored (fault switch)"));

    surface->setUpgradeFaults ({});
    sendRequest();
    EXPECT_EQ (surface->getMode(), Mode::upgrade);
}

TEST_F (UpgradeModeTest, ASwitchSetInTheMiddleOfAnUpgradeCountsFromThere)
{
    enterUpgradeMode();
    answersTo (connectPacket);

    UpgradeFaults faults;
    faults.silentAtErase = true;
    surface->setUpgradeFaults (faults);

    EXPECT_THAT (answersTo (erasePacket()), IsEmpty());
}

//==============================================================================
TEST (UpgradeFaultText, SetsTheSwitchesItNamesAndNotesWhatItDoesNotUnderstand)
{
    struct Case
    {
        const char* text;
        std::function<void (UpgradeFaults&)> expect;
        std::vector<juce::String> unknown;
    };

    const std::vector<Case> cases {
        { "", [] (UpgradeFaults&) {}, {} },
        { "silent-connect", [] (UpgradeFaults& f) { f.silentAtConnect = true; }, {} },
        { "silent-erase, silent-reset", [] (UpgradeFaults& f) { f.silentAtErase = f.silentAtReset = true; }, {} },
        { "silent-data=17", [] (UpgradeFaults& f) { f.silentAtBlock = 17; }, {} },
        { "vanish-after-data=0 refuse-upgrade-mode", [] (UpgradeFaults& f) { f.vanishesAfterBlock = 0; f.refusesUpgradeMode = true; }, {} },
        { "wrong-code=data", [] (UpgradeFaults& f) { f.wrongCodeAt = Stage::data; }, {} },
        { "wrong-code=reset:7F", [] (UpgradeFaults& f) { f.wrongCodeAt = Stage::reset; f.wrongCode = 0x7f; }, {} },
        { "wrong-code=flash", [] (UpgradeFaults&) {}, { "wrong-code=flash" } },
        { "wrong-code=erase:80", [] (UpgradeFaults&) {}, { "wrong-code=erase:80" } },
        { "silent-data=-1,silent-data=x,silent-data=256", [] (UpgradeFaults&) {}, { "silent-data=-1", "silent-data=x", "silent-data=256" } },
        { "silent-connect=1,loud,silent-erase", [] (UpgradeFaults& f) { f.silentAtErase = true; }, { "silent-connect=1", "loud" } },
    };

    FakeMidiPorts system;

    for (const auto& c : cases)
    {
        VirtualSurface surface (Model::ostrel);
        const auto unknown = surface.setFaultsFromText (c.text);

        UpgradeFaults expected;
        c.expect (expected);
        EXPECT_EQ (surface.getUpgradeFaults(), expected) << c.text;
        EXPECT_EQ (toVector (unknown), c.unknown) << c.text;

        const auto notes = surface.getNotes();
        ASSERT_EQ (notes.size(), (int) c.unknown.size()) << c.text;

        for (size_t i = 0; i < c.unknown.size(); ++i)
            EXPECT_EQ (notes[(int) i], "# fault switch \"" + c.unknown[i] + "\" not understood: ignored");
    }

    VirtualSurface surface (Model::tamrel);
    surface.install();
    EXPECT_THAT (toVector (surface.setFaultsFromText ("refuse-output refuse-input ack-delay=25")), IsEmpty());
    EXPECT_EQ (surface.getAnswerDelay(), 25);
    EXPECT_EQ (MidiPorts::openOutput (0), nullptr);
    EXPECT_EQ (MidiPorts::openInput (0, *std::make_unique<AnswerLog>()), nullptr);
}

TEST_F (UpgradeModeTest, TheEnvironmentSetsTheSwitchesAndTheLogGetsTheUpgrade)
{
    const juce::TemporaryFile temp (".log");
    const ScopedEnvironment env ("KESTAL_VIRTUAL_SURFACE", "tamrel");
    const ScopedEnvironment log ("KESTAL_VIRTUAL_SURFACE_LOG", temp.getFile().getFullPathName().toRawUTF8());
    const ScopedEnvironment faults ("KESTAL_VIRTUAL_SURFACE_FAULTS", "silent-erase,nonsense");

    surface.reset();
    surface = VirtualSurface::installFromEnvironment();
    ASSERT_NE (surface, nullptr);
    EXPECT_TRUE (surface->getUpgradeFaults().silentAtErase);
    EXPECT_EQ (surface->getAnswerDelay(), 1);

    surface->setAnswerDelay (0);
    enterUpgradeMode();
    EXPECT_THAT (answersTo (connectPacket), ElementsAre (answer (0x7f)));
    EXPECT_THAT (answersTo (erasePacket()), IsEmpty());
    input.reset();
    output.reset();
    surface.reset();

    juce::StringArray lines;
    lines.addLines (temp.getFile().loadFileAsString());
    lines.removeEmptyStrings();

    // The unknown switch, two requests, 34 packet bytes, and the notes on them.
    ASSERT_GE (lines.size(), 1);
    EXPECT_EQ (lines[0], "# fault switch \"nonsense\" not understood: ignored");

    int numMessages = 0;
    juce::StringArray notes;

    for (const auto& line : lines)
    {
        if (line.startsWith ("#"))
        {
            notes.add (line);
            continue;
        }

        ++numMessages;
        const auto time = line.upToFirstOccurrenceOf ("\t", false, false);
        EXPECT_TRUE (time.isNotEmpty() && time.containsOnly ("0123456789")) << line;
    }

    EXPECT_EQ (numMessages, 2 + 34);
    EXPECT_TRUE (lines[1].endsWith ("\tF0 1D 03 01 30 00 7F 7F F7")) << lines[1];
    EXPECT_TRUE (lines[lines.size() - 2].endsWith ("\t9F 02 0B")) << "the erase packet's checksum, 2B";
    EXPECT_THAT (toStrings (notes), ElementsAre ("# fault switch \"nonsense\" not understood: ignored",
                                                StartsWith ("# upgrade mode"),
                                                StartsWith ("# a port the surface no longer shows"),
                                                "# connected; answered 7F",
                                                "# firmware area erased; not answered (fault switch)"));
}

//==============================================================================
TEST_F (UpgradeModeTest, WithNoDelayTheAnswerComesOnTheSendingThreadBeforeTheSendReturns)
{
    enterUpgradeMode();

    for (size_t i = 0; i + 1 < connectPacket.size(); ++i)
        output->sendMessageNow (toMessage (transport (connectPacket[i])));

    EXPECT_THAT (answers.getMessages(), IsEmpty());
    output->sendMessageNow (toMessage (transport (connectPacket.back())));

    ASSERT_EQ (answers.getMessages(), (Sequence { answer (0x7f) }));
    EXPECT_EQ (answers.threads[0], std::this_thread::get_id());
}

TEST_F (UpgradeModeTest, WithADelayTheAnswerComesOnAThreadOfItsOwnNoSoonerThanThat)
{
    for (int delay : { -1, 20 })
    {
        surface = std::make_unique<VirtualSurface> (Model::tamrel);
        surface->install();

        if (delay >= 0)
            surface->setAnswerDelay (delay);
        else
            delay = 1;   // the default

        EXPECT_EQ (surface->getAnswerDelay(), delay);

        answers.messages.clear();
        answers.threads.clear();
        answers.times.clear();
        enterUpgradeMode();

        for (size_t i = 0; i + 1 < connectPacket.size(); ++i)
            output->sendMessageNow (toMessage (transport (connectPacket[i])));

        const auto lastSent = std::chrono::steady_clock::now();
        output->sendMessageNow (toMessage (transport (connectPacket.back())));

        ASSERT_TRUE (answers.waitFor (1)) << delay;
        const std::lock_guard<std::mutex> guard (answers.mutex);
        EXPECT_EQ (answers.messages, (Sequence { answer (0x7f) }));
        EXPECT_NE (answers.threads[0], std::this_thread::get_id());
        EXPECT_GE (answers.times[0] - lastSent, std::chrono::milliseconds (delay)) << delay;
    }
}

TEST_F (UpgradeModeTest, DelayedAnswersKeepTheirOrderAndTheResetAnswerStillComes)
{
    surface->setAnswerDelay (2);
    enterUpgradeMode();

    // All packets in one go, without waiting for any answer.
    for (const auto& packet : dialogue (image3))
        sendPacket (packet);

    EXPECT_EQ (surface->getMode(), Mode::normal);
    ASSERT_TRUE (answers.waitFor (6));
    EXPECT_EQ (answers.getMessages(), (Sequence { answer (0x7f), answer (0x00), answer (0x01), answer (0x01),
                                                  answer (0x01), answer (0x02) }));
}

TEST_F (UpgradeModeTest, AStoppedInputGetsNoAnswerThatWasStillDue)
{
    surface->setAnswerDelay (50);
    enterUpgradeMode();

    AnswerLog witness;
    auto other = MidiPorts::openInput (0, witness);
    other->start();

    sendPacket (connectPacket);
    input->stop();

    ASSERT_TRUE (witness.waitFor (1));
    EXPECT_EQ (witness.getMessages(), (Sequence { answer (0x7f) }));
    EXPECT_THAT (answers.getMessages(), IsEmpty());
}

TEST_F (UpgradeModeTest, DestroyingTheSurfaceDropsTheAnswersStillDue)
{
    surface->setAnswerDelay (200);
    enterUpgradeMode();
    sendPacket (connectPacket);
    surface.reset();

    EXPECT_THAT (answers.getMessages(), IsEmpty());
    std::this_thread::sleep_for (std::chrono::milliseconds (300));
    EXPECT_THAT (answers.getMessages(), IsEmpty());
}

//==============================================================================
// The host's callback lists and opens ports while another thread opens them too. Any lock the
// surface held around the callback would meet the port layer's lock in the other order.
namespace
{
void runBounded (const char* what, std::function<void()> body)
{
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();

    std::thread ([body, done] { body(); done->set_value(); }).detach();

    if (finished.wait_for (std::chrono::seconds (60)) != std::future_status::ready)
    {
        ADD_FAILURE() << what << ": still running after 60 s, a deadlock";
        std::fflush (stdout);
        std::_Exit (1);
    }
}
}

TEST_F (UpgradeModeTest, ACallbackThatListsAndOpensPortsMeetsNoDeadlock)
{
    for (int delay : { 0, 1 })
    {
        surface->setAnswerDelay (delay);
        enterUpgradeMode();

        std::atomic<int> opened { 0 };
        answers.onMessage = [&opened]
        {
            const auto names = MidiPorts::getOutputNames();

            if (auto out = MidiPorts::openOutput (names.indexOf (upgradePort)))
                ++opened;
        };

        std::atomic<bool> stop { false };
        AnswerLog other;

        runBounded ("callback and another thread opening ports", [&]
        {
            std::thread opener ([&]
            {
                while (! stop)
                {
                    auto in = MidiPorts::openInput (0, other);
                    auto out = MidiPorts::openOutput (0);
                    (void) MidiPorts::getOutputNames();
                }
            });

            for (int i = 0; i < 200; ++i)
                sendPacket (connectPacket);

            answers.waitFor (200);
            stop = true;
            opener.join();
        });

        EXPECT_EQ (answers.getMessages().size(), 200u) << delay;
        EXPECT_EQ (opened.load(), 200) << delay;

        answers.onMessage = nullptr;
        input.reset();
        output.reset();
        answers.messages.clear();
        surface = std::make_unique<VirtualSurface> (Model::tamrel);
        surface->install();
    }
}

TEST_F (UpgradeModeTest, ACallbackMayCloseItsOwnPortAndNothingFollows)
{
    enterUpgradeMode();
    answers.onMessage = [this] { input.reset(); };

    sendPacket (connectPacket);
    sendPacket (erasePacket());

    EXPECT_EQ (answers.getMessages(), (Sequence { answer (0x7f) }));
}
