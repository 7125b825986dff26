#pragma once

#include "fenz_MidiPorts.h"

#include <array>
#include <functional>
#include <utility>
#include <vector>

namespace fenz
{

// The command packet templates: 55 x10, 1D 03 00 49, command, argument, checksum. The
// checksum (and the erase packet's argument) is written in before every sending.
extern juce::uint8 midiTemp[3];
extern juce::uint8 midiConnect[17];
extern juce::uint8 midiErase[17];
extern juce::uint8 midiReset[17];
extern juce::uint8 midiWrite[17];

// The erase packet's argument by product id 0 to 199.
extern const juce::uint8 erase15[200];

namespace UpgradeProtocol
{
    constexpr int commandPacketSize = 17;
    constexpr int blockSize = 512;
    constexpr int dataPacketSize = 530;
    constexpr juce::uint64 minImageSize = 512;      // smallest image the Upgrade step writes
    constexpr juce::uint64 maxImageSize = 63488;    // images of this size and above are refused

    // Whether the Upgrade step writes an image of this many bytes, and what the user is told
    // wherever one of another size is refused.
    constexpr bool isWritableImageSize (juce::uint64 size) noexcept  { return size >= minImageSize && size < maxImageSize; }
    constexpr const char* wrongImageText = "Wrong file or cannot find this file!";

    // The acknowledgement codes: the second byte of the device's answer.
    constexpr juce::uint8 eraseAckCode = 0x00, writeAckCode = 0x01, resetAckCode = 0x02, connectAckCode = 0x7f;

    // The blocking pause the packet senders take between messages, given by whoever sends:
    // the panel gives its own (FirmwareUpgradeComponent::Timing::pause, which starts as
    // fenz::pauseMilliseconds), a test one that records the pacing without waiting.
    using PauseFunction = std::function<void (int milliseconds)>;

    // The sum modulo 256 of the bytes.
    juce::uint8 checksum (const juce::uint8* bytes, size_t numBytes) noexcept;

    // The erase byte of a product id; 70 outside the table.
    juce::uint8 eraseByteFor (int productId) noexcept;

    // The id the upgrade-mode request carries: the transfer's family rule, with 110 for 110 to
    // 114 and 126.
    int requestFamilyId (int productId) noexcept;

    // The whole upgrade-mode request in sending order: the first message, the second for ids
    // 101 to 104, then the same once more.
    std::vector<juce::MidiMessage> upgradeModeRequest (int productId);
    void sendUpgradeModeRequest (MidiOutputPort& output, int productId);

    // Sends one command packet template, with the pauses of its kind, after writing its
    // checksum (and, for the erase packet, the erase byte of the product id).
    void sendConnect (MidiOutputPort& output, const PauseFunction& pause);
    void sendErase (MidiOutputPort& output, int productId, const PauseFunction& pause);
    void sendReset (MidiOutputPort& output, bool atClose, const PauseFunction& pause);

    // How many data packets an image of this size takes.
    int numDataPackets (juce::uint64 imageSize) noexcept;

    // The data packet of one block: the write head, the block index, 00, 512 image bytes from
    // blockIndex x 512 (zeros past the end of the image) and the checksum.
    std::array<juce::uint8, dataPacketSize> makeDataPacket (const char* image, juce::uint64 imageSize, int blockIndex);

    // Sends the data packets of one upgrade, one message at a time through one buffer, with
    // the macOS pacing counted over all packets of the upgrade.
    class DataPacketSender
    {
    public:
        DataPacketSender (MidiOutputPort& port, PauseFunction pauseToTake)
            : output (port), pause (std::move (pauseToTake)) {}

        void send (const std::array<juce::uint8, dataPacketSize>& packet);

    private:
        MidiOutputPort& output;
        const PauseFunction pause;
        juce::MidiBuffer buffer;
        int messageCount = 0;
    };
}

} // namespace fenz
