#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <optional>
#include <vector>

namespace fenz
{

// Misbehaviour of a simulated surface in firmware-upgrade mode, for tests of the host's error
// paths. A silent stage still does its work (a connect still connects, a data packet is still
// written); only its acknowledgement is lost.
struct UpgradeFaults
{
    enum class Stage { none, connect, erase, data, reset };

    bool silentAtConnect = false;
    bool silentAtErase = false;
    int silentAtBlock = -1;             // the data packet of this block index is not answered
    bool silentAtReset = false;         // the surface still resets, without answering first
    Stage wrongCodeAt = Stage::none;    // every answer of that stage carries wrongCode instead
    juce::uint8 wrongCode = 0x03;
    bool refusesUpgradeMode = false;    // the upgrade-mode request is ignored
    int vanishesAfterBlock = -1;        // the packet of this block index is answered, then the
                                        // surface disappears: no ports at all from then on

    bool operator== (const UpgradeFaults& other) const noexcept;
    bool operator!= (const UpgradeFaults& other) const noexcept  { return ! operator== (other); }
};

// The device's side of the firmware-upgrade dialogue, as a surface in upgrade mode holds it.
// Every packet byte comes as one message 9F, high nibble, low nibble; a packet opens with the
// head 55 x10 1D 03 00 49, then its command and argument. Command packets (connect 7F, erase 00,
// reset 02) are 17 bytes, data packets (01) 530: the block index, 00, 512 image bytes. Each
// packet ends with the sum of its other bytes modulo 256. The surface answers a packet it takes
// with one code (connect 7F, erase 00, data 01, reset 02) and anything else with silence.
//
// Not thread-safe: the surface calls it under its own lock.
class VirtualSurfaceUpgrade
{
public:
    static constexpr const char* portName = "Fenz firmware upgrade";
    static constexpr int blockSize = 512;
    static constexpr int maxBlocks = 124;   // the firmware area: images are below 63488 bytes

    // An upgrade-mode request: F0 1D 03 idHi idLo 00 7F 7F F7, or the second message some
    // models take, F0 1D 03 idHi idLo 55 7F F7. Null when the message is neither.
    struct Request
    {
        int id = 0;
        bool isSecondMessage = false;
    };

    static std::optional<Request> readRequest (const juce::MidiMessage& message);

    // What one received message came to.
    struct Outcome
    {
        // After a reset the device restarts: in normal mode when its firmware is whole, else
        // in upgrade mode again, on ports of a new epoch.
        enum class Next { stay, normalMode, upgradeModeAgain, vanish };

        juce::StringArray notes;                  // without the leading "# "
        std::optional<juce::uint8> answer;        // the code to send back as 9F code 00
        Next next = Next::stay;
    };

    // eraseByte is the argument the erase packet must carry for this device.
    explicit VirtualSurfaceUpgrade (juce::uint8 eraseByte);

    // A fresh dialogue, as after the device restarts into upgrade mode; the image last written
    // stays until the next erase.
    void begin (const UpgradeFaults& faultsToUse);
    void setFaults (const UpgradeFaults& faultsToUse)  { faults = faultsToUse; }

    Outcome receive (const juce::MidiMessage& message);

    // The blocks written since the last erase, each as received (the last one with whatever
    // followed the image in its packet).
    const std::vector<juce::uint8>& getImage() const noexcept  { return image; }

    // The image as it was sent, less the zeros after it that fill its last block, as the
    // upgrader pads it: the file's own bytes, unless the file itself ends in zeros.
    std::vector<juce::uint8> getImageWithoutPadding() const;

    // The CRC-32 (as zip and PNG use it) the reset note gives for the image, with the padding
    // and without it.
    static juce::uint32 checksumOf (const std::vector<juce::uint8>& bytes) noexcept;

    // Whether the firmware area holds a whole image, as the device's own start-up checks it:
    // true until an erase, and again once a reset ends the write that followed it, with at
    // least one block taken and every data packet since the erase taken and answered with its
    // own code. A packet refused, or an answer withheld or changed by a fault switch, leaves
    // the host giving up there, so the write counts as not finished even if more follows. A
    // device whose firmware is not whole restarts only in its upgrade mode.
    bool isFirmwareWhole() const noexcept       { return firmwareWhole; }
    void setFirmwareWhole (bool whole) noexcept { firmwareWhole = whole; }

private:
    static constexpr int commandPacketSize = 17;
    static constexpr int dataPacketSize = 530;
    static constexpr int headSize = 14;

    const juce::uint8 eraseByte;
    UpgradeFaults faults;

    std::vector<juce::uint8> packet;   // the packet being rebuilt, head first
    int skippedBytes = 0;              // bytes seen outside any packet since the last head
    bool connected = false, erased = false;
    int nextBlock = 0;
    std::vector<juce::uint8> image;
    bool firmwareWhole = true;
    bool writeBroken = false;   // since the last erase

    void receiveByte (juce::uint8 byte, Outcome& outcome);
    void takePacket (Outcome& outcome);
    void answer (juce::uint8 code, UpgradeFaults::Stage stage, bool silent, const juce::String& what, Outcome& outcome);
    void dropPartialPacket (Outcome& outcome);
    juce::String describeImage() const;
};

} // namespace fenz
