#include <gtest/gtest.h>
#include "ProtocolRecorder.h"
#include "RecordedTiming.h"
#include "fenz_FirmwareGlobals.h"

#include <climits>
#include <functional>

using namespace fenz;
using Bytes = std::vector<juce::uint8>;

namespace
{

// The fixed start of every packet: 55 ten times, then 1D 03 00 49.
Bytes packetHead()
{
    Bytes head (10, 0x55);
    head.insert (head.end(), { 0x1d, 0x03, 0x00, 0x49 });
    return head;
}

Bytes commandPacket (juce::uint8 command, juce::uint8 argument, juce::uint8 check)
{
    auto p = packetHead();
    p.insert (p.end(), { command, argument, check });
    return p;
}

// The rule's sum, counted here on its own: all bytes before the last, modulo 256.
juce::uint8 sumOfAllButLast (const Bytes& packet)
{
    unsigned total = 0;

    for (size_t i = 0; i + 1 < packet.size(); ++i)
        total += packet[i];

    return (juce::uint8) (total & 0xff);
}

class UpgradeProtocolTest : public ::testing::Test
{
protected:
    ProtocolRecording recording;
    const UpgradeProtocol::PauseFunction pause = recording.pause();
    RecordingOutput output { recording };

    Bytes sentPacketBytes()
    {
        std::string problem;
        auto bytes = decodeTransport (recording.sentMessages(), problem);
        EXPECT_EQ (problem, "");
        return bytes;
    }
};

//==============================================================================
struct CommandCase
{
    const char* name;
    std::function<void (MidiOutputPort&, const UpgradeProtocol::PauseFunction&)> send;
    Bytes expected;
};

TEST_F (UpgradeProtocolTest, CommandPacketsCarryTheirBytesOneMessageEach)
{
    using Pause = UpgradeProtocol::PauseFunction;

    const CommandCase cases[] = {
        { "connect",   [] (MidiOutputPort& o, const Pause& p) { UpgradeProtocol::sendConnect (o, p); },   commandPacket (0x7f, 0x00, 0x3a) },
        { "erase 176", [] (MidiOutputPort& o, const Pause& p) { UpgradeProtocol::sendErase (o, 176, p); }, commandPacket (0x00, 0x70, 0x2b) },
        { "erase 94",  [] (MidiOutputPort& o, const Pause& p) { UpgradeProtocol::sendErase (o, 94, p); },  commandPacket (0x00, 0x71, 0x2c) },
        // The erase byte is written anew each time: 71 before does not stay.
        { "erase 177 after 94", [] (MidiOutputPort& o, const Pause& p) { UpgradeProtocol::sendErase (o, 177, p); }, commandPacket (0x00, 0x70, 0x2b) },
        { "erase 2000", [] (MidiOutputPort& o, const Pause& p) { UpgradeProtocol::sendErase (o, 2000, p); },    commandPacket (0x00, 0x70, 0x2b) },
        { "erase -1",   [] (MidiOutputPort& o, const Pause& p) { UpgradeProtocol::sendErase (o, -1, p); },      commandPacket (0x00, 0x70, 0x2b) },
        { "reset",      [] (MidiOutputPort& o, const Pause& p) { UpgradeProtocol::sendReset (o, false, p); },   commandPacket (0x02, 0x00, 0xbd) },
        { "reset at close", [] (MidiOutputPort& o, const Pause& p) { UpgradeProtocol::sendReset (o, true, p); }, commandPacket (0x02, 0x00, 0xbd) },
        // The connect packet keeps 00 as its argument after an erase.
        { "connect after erase", [] (MidiOutputPort& o, const Pause& p) { UpgradeProtocol::sendConnect (o, p); }, commandPacket (0x7f, 0x00, 0x3a) },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        recording.events.clear();
        c.send (output, pause);

        auto messages = recording.sentMessages();
        ASSERT_EQ (messages.size(), 17u);

        for (auto& e : recording.events)
        {
            if (e.kind != ProtocolRecording::Event::pause)
            {
                EXPECT_EQ (e.kind, ProtocolRecording::Event::message) << "command bytes go out one by one";
            }
        }

        EXPECT_EQ (sentPacketBytes(), c.expected);
    }
}

TEST_F (UpgradeProtocolTest, TemplatesHoldThePacketsAndTheTransportTemplate)
{
    EXPECT_EQ (Bytes (midiConnect, midiConnect + 17), commandPacket (0x7f, 0x00, 0x3a));
    EXPECT_EQ (Bytes (midiReset, midiReset + 17), commandPacket (0x02, 0x00, 0xbd));
    const auto writeHead = commandPacket (0x01, 0, 0);
    EXPECT_EQ (Bytes (midiWrite, midiWrite + 15), Bytes (writeHead.begin(), writeHead.begin() + 15));
    EXPECT_EQ (midiTemp[0], 0x9f);

    UpgradeProtocol::sendErase (output, 130, pause);
    EXPECT_EQ (Bytes (midiErase, midiErase + 17), commandPacket (0x00, 0x71, 0x2c));
}

TEST (EraseByte, TableAndOutsideIt)
{
    const std::pair<int, juce::uint8> cases[] = {
        { 94, 0x71 }, { 130, 0x71 }, { 182, 0x71 }, { 183, 0x71 },
        { 0, 0x70 }, { 93, 0x70 }, { 95, 0x70 }, { 176, 0x70 }, { 177, 0x70 }, { 181, 0x70 }, { 184, 0x70 }, { 199, 0x70 },
        // Outside the table: the common argument, and no read beyond it.
        { -1, 0x70 }, { 200, 0x70 }, { 2000, 0x70 }, { INT_MIN, 0x70 }, { INT_MAX, 0x70 },
    };

    for (auto [productId, expected] : cases)
        EXPECT_EQ (UpgradeProtocol::eraseByteFor (productId), expected) << "product id " << productId;

    int seventyOnes = 0;

    for (auto b : erase15)
    {
        EXPECT_TRUE (b == 0x70 || b == 0x71);
        seventyOnes += b == 0x71 ? 1 : 0;
    }

    EXPECT_EQ (seventyOnes, 4);
}

TEST (Checksum, SumModulo256)
{
    const juce::uint8 wrap[] = { 0xff, 0x02 };
    const juce::uint8 many[] = { 0x80, 0x80, 0x80, 0x05 };

    EXPECT_EQ (UpgradeProtocol::checksum (nullptr, 0), 0);
    EXPECT_EQ (UpgradeProtocol::checksum (wrap, 2), 0x01);
    EXPECT_EQ (UpgradeProtocol::checksum (many, 4), 0x85);
    EXPECT_EQ (UpgradeProtocol::checksum (wrap, 1), 0xff);
}

//==============================================================================
// Pauses: connect 1 ms before each message; erase 1 ms after each, then 100 ms; reset 2 ms
// before each, and at close 10 ms after the last.
TEST_F (UpgradeProtocolTest, CommandPacketPacing)
{
    const std::pair<std::function<void()>, std::string> cases[] = {
        { [&] { UpgradeProtocol::sendConnect (output, pause); },      testsupport::repeated ("p1 m", 17) },
        { [&] { UpgradeProtocol::sendErase (output, 176, pause); },   testsupport::repeated ("m p1", 17) + " p100" },
        { [&] { UpgradeProtocol::sendReset (output, false, pause); }, testsupport::repeated ("p2 m", 17) },
        { [&] { UpgradeProtocol::sendReset (output, true, pause); },  testsupport::repeated ("p2 m", 17) + " p10" },
    };

    for (auto& [send, expected] : cases)
    {
        recording.events.clear();
        send();
        EXPECT_EQ (recording.pattern(), expected);
    }
}

//==============================================================================
struct RequestCase
{
    int productId;
    std::vector<Bytes> expected;
};

Bytes first (juce::uint8 hi, juce::uint8 lo)   { return { 0xf0, 0x1d, 0x03, hi, lo, 0x00, 0x7f, 0x7f, 0xf7 }; }
Bytes second (juce::uint8 lo)                  { return { 0xf0, 0x1d, 0x03, 0x00, lo, 0x55, 0x7f, 0xf7 }; }

std::vector<Bytes> twice (std::vector<Bytes> pair)
{
    auto all = pair;
    all.insert (all.end(), pair.begin(), pair.end());
    return all;
}

TEST_F (UpgradeProtocolTest, UpgradeModeRequests)
{
    const RequestCase cases[] = {
        { 177, twice ({ first (0x01, 0x30) }) },
        { 176, twice ({ first (0x01, 0x30) }) },
        { 112, twice ({ first (0x00, 0x6e) }) },
        { 110, twice ({ first (0x00, 0x6e) }) },
        { 111, twice ({ first (0x00, 0x6e) }) },
        { 113, twice ({ first (0x00, 0x6e) }) },
        { 114, twice ({ first (0x00, 0x6e) }) },
        { 126, twice ({ first (0x00, 0x6e) }) },
        { 115, twice ({ first (0x00, 0x73) }) },
        { 125, twice ({ first (0x00, 0x7d) }) },
        { 79,  twice ({ first (0x00, 0x4f) }) },
        { 89,  twice ({ first (0x00, 0x4f) }) },
        { 100, twice ({ first (0x00, 0x64) }) },
        { 101, twice ({ first (0x00, 0x65), second (0x65) }) },
        { 102, twice ({ first (0x00, 0x66), second (0x66) }) },
        { 103, twice ({ first (0x00, 0x67), second (0x67) }) },
        { 104, twice ({ first (0x00, 0x68), second (0x68) }) },
        { 105, twice ({ first (0x00, 0x69) }) },
        { 94,  twice ({ first (0x00, 0x5e) }) },
        { 2000, twice ({ first (0x0f, 0x50) }) },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE ("product id " + std::to_string (c.productId));

        std::vector<Bytes> formed;

        for (auto& m : UpgradeProtocol::upgradeModeRequest (c.productId))
            formed.emplace_back (m.getRawData(), m.getRawData() + m.getRawDataSize());

        EXPECT_EQ (formed, c.expected);

        recording.events.clear();
        UpgradeProtocol::sendUpgradeModeRequest (output, c.productId);
        EXPECT_EQ (recording.sentMessages(), c.expected);
        EXPECT_EQ (recording.countPauses (1) + recording.countPauses (2), 0);

        for (auto& e : recording.events)
            EXPECT_EQ (e.kind, ProtocolRecording::Event::message) << "sent whole, one by one, without pauses";
    }
}

TEST (RequestFamily, WidenedRule)
{
    const std::pair<int, int> cases[] = {
        { 110, 110 }, { 111, 110 }, { 112, 110 }, { 113, 110 }, { 114, 110 }, { 126, 110 },
        { 109, 109 }, { 115, 115 }, { 125, 125 }, { 127, 127 },
        { 176, 176 }, { 177, 176 }, { 79, 79 }, { 89, 79 }, { 102, 102 }, { 2000, 2000 },
    };

    for (auto [productId, carried] : cases)
        EXPECT_EQ (UpgradeProtocol::requestFamilyId (productId), carried) << "product id " << productId;
}

//==============================================================================
TEST (DataPacket, HeadBlockIndexAndChecksum)
{
    // Six blocks of 3s: block 5 starts at offset 2560.
    std::vector<char> image (6 * 512, 3);

    const auto packet = UpgradeProtocol::makeDataPacket (image.data(), image.size(), 5);
    const Bytes bytes (packet.begin(), packet.end());

    auto head = packetHead();
    head.insert (head.end(), { 0x01, 0x05, 0x00 });
    EXPECT_EQ (Bytes (bytes.begin(), bytes.begin() + 17), head);
    EXPECT_EQ (Bytes (bytes.begin() + 17, bytes.begin() + 529), Bytes (512, 3));

    // 55 x 10 + 1D + 03 + 49 + 01 + 05 + 512 x 03 = 0x9C1.
    EXPECT_EQ (bytes[529], 0xc1);

    // Block 0 of zeros: 0x3BC.
    const std::vector<char> zeros (512, 0);
    EXPECT_EQ (UpgradeProtocol::makeDataPacket (zeros.data(), zeros.size(), 0)[529], 0xbc);
}

struct ImageCase
{
    juce::uint64 size;
    int packets;
};

// Each image sits in a larger buffer whose bytes after the image are not zero, so that a
// packet reading past the image shows it.
TEST (DataPacket, ImagesAreCutIntoBlocksAndTheLastIsPaddedWithZeros)
{
    const ImageCase cases[] = { { 512, 1 }, { 513, 2 }, { 1024, 2 }, { 63487, 124 }, { 1, 1 }, { 511, 1 } };

    for (auto& c : cases)
    {
        SCOPED_TRACE ("image of " + std::to_string (c.size) + " bytes");

        std::vector<char> buffer ((size_t) c.size + 1024, (char) 0xee);

        for (size_t i = 0; i < c.size; ++i)
            buffer[i] = (char) (i * 7 + 1);

        ASSERT_EQ (UpgradeProtocol::numDataPackets (c.size), c.packets);

        for (int block = 0; block < c.packets; ++block)
        {
            const auto packet = UpgradeProtocol::makeDataPacket (buffer.data(), c.size, block);
            const Bytes bytes (packet.begin(), packet.end());

            ASSERT_EQ (bytes[15], (juce::uint8) block);
            ASSERT_EQ (bytes[16], 0x00);

            for (size_t i = 0; i < 512; ++i)
            {
                const size_t offset = (size_t) block * 512 + i;
                const auto expected = offset < c.size ? (juce::uint8) (offset * 7 + 1) : (juce::uint8) 0;
                ASSERT_EQ (bytes[17 + i], expected) << "block " << block << " byte " << i;
            }

            ASSERT_EQ (bytes[529], sumOfAllButLast (bytes));
        }
    }

    EXPECT_EQ (UpgradeProtocol::numDataPackets (0), 0);
}

// An image exactly as long as it says: the sanitizer build sees any read beyond it.
TEST (DataPacket, LastPacketReadsNothingBeyondTheImage)
{
    std::vector<char> image (513, 9);
    const auto packet = UpgradeProtocol::makeDataPacket (image.data(), image.size(), 1);

    EXPECT_EQ (packet[17], 9);
    EXPECT_EQ (Bytes (packet.begin() + 18, packet.begin() + 529), Bytes (511, 0));
}

//==============================================================================
// The data pacing: from macOS 10.15 on, 1 ms before every second message of the upgrade.
class DataPacing : public UpgradeProtocolTest
{
protected:
    ~DataPacing() override  { _mac_major = 0; }

    void sendImage (int macMajor, juce::uint64 imageSize)
    {
        _mac_major = macMajor;
        std::vector<char> image ((size_t) imageSize, 0x5a);

        UpgradeProtocol::DataPacketSender sender (output, pause);

        for (int block = 0; block < UpgradeProtocol::numDataPackets (imageSize); ++block)
            sender.send (UpgradeProtocol::makeDataPacket (image.data(), imageSize, block));
    }
};

TEST_F (DataPacing, PausesByMacVersion)
{
    const std::pair<int, int> cases[] = { { 0, 0 }, { 14, 0 }, { 15, 265 }, { 16, 265 } };

    for (auto [macMajor, perPacket] : cases)
    {
        SCOPED_TRACE ("_mac_major " + std::to_string (macMajor));
        recording.events.clear();
        sendImage (macMajor, 1024);

        EXPECT_EQ (recording.sentMessages().size(), 2u * 530u);
        EXPECT_EQ (recording.countPauses (1), 2 * perPacket);
        EXPECT_EQ ((int) recording.events.size(), 2 * 530 + 2 * perPacket) << "no other pauses";
    }
}

TEST_F (DataPacing, PauseStandsBeforeEveryEvenMessage)
{
    sendImage (15, 512);

    std::string expected;

    for (int n = 1; n <= 530; ++n)
        expected += (n == 1 ? "" : " ") + std::string (n % 2 == 0 ? "p1 m" : "m");

    EXPECT_EQ (recording.pattern(), expected);
}

TEST_F (DataPacing, EachMessageGoesAloneInABlockAndCarriesThePacket)
{
    sendImage (14, 600);

    for (auto& e : recording.events)
    {
        ASSERT_EQ (e.kind, ProtocolRecording::Event::blockMessage);
        ASSERT_EQ (e.blockSize, 1);
        ASSERT_EQ (e.samplePosition, 0);
    }

    const auto bytes = sentPacketBytes();
    ASSERT_EQ (bytes.size(), 2u * 530u);

    for (int block = 0; block < 2; ++block)
    {
        const Bytes packet (bytes.begin() + block * 530, bytes.begin() + (block + 1) * 530);
        EXPECT_EQ (packet[15], block);
        EXPECT_EQ (packet[529], sumOfAllButLast (packet));
    }

    // The second block holds 88 image bytes, then zeros.
    EXPECT_EQ (bytes[530 + 17 + 87], 0x5a);
    EXPECT_EQ (bytes[530 + 17 + 88], 0x00);
}

} // namespace
