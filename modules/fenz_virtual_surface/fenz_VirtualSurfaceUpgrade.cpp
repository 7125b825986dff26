#include "fenz_VirtualSurfaceUpgrade.h"
#include "fenz_VirtualSurfaceHex.h"

#include <array>

namespace fenz
{

namespace
{

constexpr std::array<juce::uint8, 14> packetHead { 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55,
                                                   0x1d, 0x03, 0x00, 0x49 };

constexpr juce::uint8 connectCommand = 0x7f, eraseCommand = 0x00, dataCommand = 0x01, resetCommand = 0x02;

juce::String hex (int byte)                                  { return VirtualSurfaceHex::ofByte (byte); }
juce::String hexBytes (const juce::uint8* data, int size)   { return VirtualSurfaceHex::ofBytes (data, (size_t) size); }

bool beginsHead (const juce::uint8* bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (bytes[i] != packetHead[i])
            return false;

    return true;
}

juce::String nameOf (juce::uint8 command)
{
    switch (command)
    {
        case connectCommand: return "connect";
        case eraseCommand:   return "erase";
        case dataCommand:    return "data";
        case resetCommand:   return "reset";
        default:             return "command " + hex (command);
    }
}

} // namespace

bool UpgradeFaults::operator== (const UpgradeFaults& other) const noexcept
{
    return silentAtConnect == other.silentAtConnect && silentAtErase == other.silentAtErase
        && silentAtBlock == other.silentAtBlock && silentAtReset == other.silentAtReset
        && wrongCodeAt == other.wrongCodeAt && wrongCode == other.wrongCode
        && refusesUpgradeMode == other.refusesUpgradeMode && vanishesAfterBlock == other.vanishesAfterBlock;
}

//==============================================================================
std::optional<VirtualSurfaceUpgrade::Request> VirtualSurfaceUpgrade::readRequest (const juce::MidiMessage& message)
{
    const auto* d = message.getRawData();
    const auto size = message.getRawDataSize();

    const bool isFirst = size == 9 && d[5] == 0x00 && d[6] == 0x7f && d[7] == 0x7f && d[8] == 0xf7;
    const bool isSecond = size == 8 && d[5] == 0x55 && d[6] == 0x7f && d[7] == 0xf7;

    if (! (isFirst || isSecond) || d[0] != 0xf0 || d[1] != 0x1d || d[2] != 0x03 || d[3] > 0x7f || d[4] > 0x7f)
        return std::nullopt;

    return Request { (d[3] << 7) | d[4], isSecond };
}

VirtualSurfaceUpgrade::VirtualSurfaceUpgrade (juce::uint8 eraseByteToExpect) : eraseByte (eraseByteToExpect)
{
    packet.reserve (dataPacketSize);
}

void VirtualSurfaceUpgrade::begin (const UpgradeFaults& faultsToUse)
{
    faults = faultsToUse;
    packet.clear();
    skippedBytes = 0;
    connected = erased = false;
    nextBlock = 0;
}

VirtualSurfaceUpgrade::Outcome VirtualSurfaceUpgrade::receive (const juce::MidiMessage& message)
{
    Outcome outcome;
    const auto* d = message.getRawData();
    const auto size = message.getRawDataSize();

    if (size != 3 || d[0] != 0x9f || d[1] > 0x0f || d[2] > 0x0f)
    {
        outcome.notes.add ("stray message " + hexBytes (d, size) + " ignored: not a packet byte");
        dropPartialPacket (outcome);
        return outcome;
    }

    receiveByte ((juce::uint8) ((d[1] << 4) | d[2]), outcome);
    return outcome;
}

void VirtualSurfaceUpgrade::dropPartialPacket (Outcome& outcome)
{
    if (packet.empty())
        return;

    outcome.notes.add ("the " + juce::String ((int) packet.size()) + " bytes of the packet begun are dropped");
    packet.clear();
}

void VirtualSurfaceUpgrade::receiveByte (juce::uint8 byte, Outcome& outcome)
{
    packet.push_back (byte);

    if (packet.size() <= (size_t) headSize)
    {
        // Like the device, look for the head in whatever comes: keep the longest tail of what
        // was received that can still begin one.
        size_t drop = 0;

        while (drop < packet.size() && ! beginsHead (packet.data() + drop, packet.size() - drop))
            ++drop;

        if (drop > 0)
        {
            if (skippedBytes == 0)
                outcome.notes.add ("byte " + hex (packet[0]) + " outside a packet: skipping to the next packet head");

            skippedBytes += (int) drop;
            packet.erase (packet.begin(), packet.begin() + (long) drop);
        }

        if (packet.size() == (size_t) headSize && skippedBytes > 0)
        {
            outcome.notes.add ("packet head found after " + juce::String (skippedBytes) + " skipped bytes");
            skippedBytes = 0;
        }

        return;
    }

    const auto command = packet[headSize];

    if (packet.size() == (size_t) headSize + 1
         && command != connectCommand && command != eraseCommand && command != dataCommand && command != resetCommand)
    {
        outcome.notes.add ("packet with unknown command " + hex (command) + " ignored");
        packet.clear();
        return;
    }

    if (packet.size() == (size_t) (command == dataCommand ? dataPacketSize : commandPacketSize))
    {
        takePacket (outcome);
        packet.clear();
    }
}

void VirtualSurfaceUpgrade::takePacket (Outcome& outcome)
{
    const auto command = packet[headSize];
    const auto argument = packet[headSize + 1];
    const auto name = nameOf (command);

    juce::uint8 sum = 0;

    for (size_t i = 0; i + 1 < packet.size(); ++i)
        sum = (juce::uint8) (sum + packet[i]);

    const auto refuse = [&] (const juce::String& why)
    {
        // The host gets no answer for a refused block and gives up its write there.
        if (command == dataCommand && erased)
            writeBroken = true;

        outcome.notes.add (name + " packet refused: " + why);
    };

    if (sum != packet.back())
        return refuse ("checksum " + hex (packet.back()) + ", but its bytes sum to " + hex (sum));

    switch (command)
    {
        case connectCommand:
            if (argument != 0x00)
                return refuse ("argument " + hex (argument) + ", not 00");

            connected = true;
            erased = false;
            nextBlock = 0;
            return answer (0x7f, UpgradeFaults::Stage::connect, faults.silentAtConnect, "connected", outcome);

        case eraseCommand:
            if (! connected)
                return refuse ("no connect before it");

            if (argument != eraseByte)
                return refuse ("erase byte " + hex (argument) + ", this device's is " + hex (eraseByte));

            erased = true;
            nextBlock = 0;
            image.clear();
            firmwareWhole = false;
            writeBroken = false;
            return answer (0x00, UpgradeFaults::Stage::erase, faults.silentAtErase, "firmware area erased", outcome);

        case dataCommand:
        {
            const auto block = (int) argument;

            if (! erased)
                return refuse ("block " + juce::String (block) + " before any erase");

            if (packet[headSize + 2] != 0x00)
                return refuse ("byte 16 is " + hex (packet[headSize + 2]) + ", not 00");

            if (block != nextBlock)
                return refuse ("block index " + juce::String (block) + ", expected " + juce::String (nextBlock));

            if (block >= maxBlocks)
                return refuse ("block " + juce::String (block) + " lies beyond the firmware area of "
                                 + juce::String (maxBlocks) + " blocks");

            const auto data = packet.begin() + headSize + 3;
            image.insert (image.end(), data, data + blockSize);
            ++nextBlock;

            // So it does where a fault switch withholds or changes the block's answer.
            if (faults.silentAtBlock == block || faults.wrongCodeAt == UpgradeFaults::Stage::data)
                writeBroken = true;

            answer (0x01, UpgradeFaults::Stage::data, faults.silentAtBlock == block,
                    "block " + juce::String (block) + " written", outcome);

            if (faults.vanishesAfterBlock == block)
            {
                outcome.notes.add ("vanishing after block " + juce::String (block) + " (fault switch)");
                outcome.next = Outcome::Next::vanish;
            }

            return;
        }

        case resetCommand:
            if (argument != 0x00)
                return refuse ("argument " + hex (argument) + ", not 00");

            // A reset ends the write that followed an erase; one without an erase before it
            // leaves the firmware as it was.
            if (erased)
                firmwareWhole = nextBlock > 0 && ! writeBroken;

            connected = erased = false;
            answer (0x02, UpgradeFaults::Stage::reset, faults.silentAtReset, "reset: " + describeImage(), outcome);

            if (! firmwareWhole)
                outcome.notes.add ("the firmware was not written whole: restarting in upgrade mode");

            outcome.next = firmwareWhole ? Outcome::Next::normalMode : Outcome::Next::upgradeModeAgain;
            return;

        default:
            jassertfalse;   // unknown commands never make a whole packet
            return;
    }
}

void VirtualSurfaceUpgrade::answer (juce::uint8 code, UpgradeFaults::Stage stage, bool silent,
                                    const juce::String& what, Outcome& outcome)
{
    if (silent)
    {
        outcome.notes.add (what + "; not answered (fault switch)");
        return;
    }

    if (faults.wrongCodeAt == stage)
    {
        outcome.notes.add (what + "; answered " + hex (faults.wrongCode) + " instead of " + hex (code) + " (fault switch)");
        outcome.answer = faults.wrongCode;
        return;
    }

    outcome.notes.add (what + "; answered " + hex (code));
    outcome.answer = code;
}

std::vector<juce::uint8> VirtualSurfaceUpgrade::getImageWithoutPadding() const
{
    // Every block holds at least one byte of the image: only the rest of the last one can be
    // padding.
    auto own = image;
    const auto shortest = own.size() > (size_t) blockSize - 1 ? own.size() - (size_t) (blockSize - 1) : (size_t) 0;

    while (own.size() > shortest && own.back() == 0)
        own.pop_back();

    return own;
}

juce::String VirtualSurfaceUpgrade::describeImage() const
{
    const auto crcText = [] (const std::vector<juce::uint8>& bytes)
    {
        return juce::String::toHexString ((juce::int64) checksumOf (bytes)).paddedLeft ('0', 8).toUpperCase();
    };

    const auto own = getImageWithoutPadding();

    return "image of " + juce::String ((int) own.size()) + " bytes, CRC-32 " + crcText (own)
         + " without the zeros that end its last block (the file's own size and CRC, unless the file"
           " itself ends in zeros); as written, padded to " + juce::String ((int) image.size())
         + " bytes, CRC-32 " + crcText (image);
}

juce::uint32 VirtualSurfaceUpgrade::checksumOf (const std::vector<juce::uint8>& bytes) noexcept
{
    juce::uint32 crc = 0xffffffff;

    for (auto byte : bytes)
    {
        crc ^= byte;

        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }

    return ~crc;
}

} // namespace fenz
