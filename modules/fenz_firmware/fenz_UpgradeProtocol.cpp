#include "fenz_UpgradeProtocol.h"

#include "fenz_DeviceSysEx.h"
#include "fenz_FirmwareGlobals.h"
#include "fenz_MacVersion.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace fenz
{

// Every packet byte goes out as note on, channel 16, high nibble, low nibble.
juce::uint8 midiTemp[3] { 0x9f, 0x00, 0x00 };

// The checksums written here are those of the packets as they stand; each sending writes
// its checksum again.
juce::uint8 midiConnect[17] { 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55,
                              0x1d, 0x03, 0x00, 0x49, 0x7f, 0x00, 0x3a };
juce::uint8 midiErase[17]   { 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55,
                              0x1d, 0x03, 0x00, 0x49, 0x00, 0x70, 0x2b };
juce::uint8 midiReset[17]   { 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55,
                              0x1d, 0x03, 0x00, 0x49, 0x02, 0x00, 0xbd };
juce::uint8 midiWrite[17]   { 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55,
                              0x1d, 0x03, 0x00, 0x49, 0x01, 0x00, 0xbc };

// Products whose boot loader takes 71 as the erase argument: 94, 130, 182 and 183.
const juce::uint8 erase15[200]
{
    /*   0 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /*  10 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /*  20 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /*  30 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /*  40 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /*  50 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /*  60 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /*  70 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /*  80 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /*  90 */ 0x70, 0x70, 0x70, 0x70, 0x71, 0x70, 0x70, 0x70, 0x70, 0x70,
    /* 100 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /* 110 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /* 120 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /* 130 */ 0x71, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /* 140 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /* 150 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /* 160 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /* 170 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /* 180 */ 0x70, 0x70, 0x71, 0x71, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
    /* 190 */ 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70, 0x70,
};

namespace UpgradeProtocol
{
    namespace
    {
        constexpr int checksumOffset = commandPacketSize - 1;
        constexpr int argumentOffset = commandPacketSize - 2;
        constexpr int writeHeadSize = 15;   // the write template up to its command byte
        constexpr int dataOffset = 17;

        // Writes the template's checksum, then sends its bytes through midiTemp, calling the
        // given pause before and after each byte's message.
        template <typename Before, typename After>
        void sendCommandPacket (MidiOutputPort& output, juce::uint8 (&packet)[commandPacketSize],
                                Before&& pauseBefore, After&& pauseAfter)
        {
            packet[checksumOffset] = checksum (packet, (size_t) checksumOffset);

            for (auto byte : packet)
            {
                pauseBefore();
                midiTemp[1] = (juce::uint8) (byte >> 4);
                midiTemp[2] = (juce::uint8) (byte & 0x0f);
                output.sendMessageNow (juce::MidiMessage (midiTemp, (int) sizeof (midiTemp)));
                pauseAfter();
            }
        }

        void noPause() {}
    }

    juce::uint8 checksum (const juce::uint8* bytes, size_t numBytes) noexcept
    {
        juce::uint8 sum = 0;

        for (size_t i = 0; i < numBytes; ++i)
            sum = (juce::uint8) (sum + bytes[i]);

        return sum;
    }

    juce::uint8 eraseByteFor (int productId) noexcept
    {
        // Every product the table does not know takes the common argument.
        if (! juce::isPositiveAndBelow (productId, (int) std::size (erase15)))
            return 0x70;

        return erase15[productId];
    }

    int requestFamilyId (int productId) noexcept
    {
        switch (productId)
        {
            case 110: case 111: case 112: case 113: case 114: case 126:
                return 110;
            default:
                return familyId (productId);
        }
    }

    std::vector<juce::MidiMessage> upgradeModeRequest (int productId)
    {
        std::vector<juce::MidiMessage> pair { deviceSysEx (requestFamilyId (productId), 0x7f) };

        if (productId >= 101 && productId <= 104)
        {
            const juce::uint8 second[] { 0xf0, 0x1d, 0x03,
                                         (juce::uint8) ((productId >> 7) & 0xff),
                                         (juce::uint8) (productId % 128),
                                         0x55, 0x7f, 0xf7 };
            pair.emplace_back (second, (int) sizeof (second));
        }

        // The whole request goes out twice, back to back.
        auto request = pair;
        request.insert (request.end(), pair.begin(), pair.end());
        return request;
    }

    void sendUpgradeModeRequest (MidiOutputPort& output, int productId)
    {
        for (const auto& message : upgradeModeRequest (productId))
            output.sendMessageNow (message);
    }

    void sendConnect (MidiOutputPort& output, const PauseFunction& pause)
    {
        sendCommandPacket (output, midiConnect, [&pause] { pause (1); }, noPause);
    }

    void sendErase (MidiOutputPort& output, int productId, const PauseFunction& pause)
    {
        midiErase[argumentOffset] = eraseByteFor (productId);
        sendCommandPacket (output, midiErase, noPause, [&pause] { pause (1); });
        pause (100);   // time for the erase itself
    }

    void sendReset (MidiOutputPort& output, bool atClose, const PauseFunction& pause)
    {
        sendCommandPacket (output, midiReset, [&pause] { pause (2); }, noPause);

        // The port is closed right after; give the last message time to leave.
        if (atClose)
            pause (10);
    }

    int numDataPackets (juce::uint64 imageSize) noexcept
    {
        return (int) ((imageSize + (juce::uint64) blockSize - 1) / (juce::uint64) blockSize);
    }

    std::array<juce::uint8, dataPacketSize> makeDataPacket (const char* image, juce::uint64 imageSize, int blockIndex)
    {
        std::array<juce::uint8, dataPacketSize> packet {};   // zeros past the end of the image

        std::memcpy (packet.data(), midiWrite, (size_t) writeHeadSize);
        packet[writeHeadSize] = (juce::uint8) (blockIndex & 0xff);
        packet[writeHeadSize + 1] = 0x00;

        if (image != nullptr && blockIndex >= 0)
        {
            const auto offset = (juce::uint64) blockIndex * (juce::uint64) blockSize;

            if (offset < imageSize)
            {
                const auto count = (size_t) std::min<juce::uint64> ((juce::uint64) blockSize, imageSize - offset);
                std::memcpy (packet.data() + dataOffset, image + offset, count);
            }
        }

        packet[dataPacketSize - 1] = checksum (packet.data(), (size_t) dataPacketSize - 1);
        return packet;
    }

    void DataPacketSender::send (const std::array<juce::uint8, dataPacketSize>& packet)
    {
        for (auto byte : packet)
        {
            // On macOS 10.15 and later every second message of the upgrade waits 1 ms first.
            if (++messageCount % 2 == 0 && _mac_major >= MacVersion::catalina)
                pause (1);

            buffer.addEvent (juce::MidiMessage (0x9f, byte >> 4, byte & 0x0f), 0);
            output.sendBlockOfMessagesNow (buffer);
            buffer.clear();
        }
    }
}

} // namespace fenz
