#pragma once

#include "fenz_FirmwareUpgradeComponent.h"

namespace fenz
{

// The upgrader's side of the upgrade dialogue: the open upgrade ports, the firmware image and
// the four acknowledgement flags. It has no constructor of its own: the panel's getHandler()
// makes it and sets owner and pid; everything else starts empty.
class FirmwareUpgradeComponent::MidiInputHandler : public juce::MidiInputCallback
{
public:
    ~MidiInputHandler() override;

    // MIDI input thread: sets the flag that the message's second byte names, nothing else.
    void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage&) override;
    void handlePartialSysexMessage (juce::MidiInput*, const juce::uint8*, int, double) override {}

    // Loads the firmware image from the file: data becomes a zero-filled block of size + 1
    // bytes holding it. A file that cannot be read gives size 0, and so does one whose read
    // fails part-way, and anything but a regular file (a folder, a FIFO, a device), without
    // waiting on it. At most
    // UpgradeProtocol::maxImageSize bytes are read: a longer file gives that size, which the
    // Upgrade step refuses as it refuses the file itself.
    void openProgram (const juce::File&);

    // Lets the image go: no data, size 0.
    void releaseImage();

    // Stops and deletes midiInput, then deletes midiOutput.
    void closePorts();

    // Clears all four flags together.
    void clearFlags() noexcept;

    FirmwareUpgradeComponent* owner = nullptr;
    std::unique_ptr<MidiInputPort> midiInput;
    std::unique_ptr<MidiOutputPort> midiOutput;
    juce::File file;
    char* data = nullptr;          // from calloc, released with free
    juce::uint64 size = 0;
    int pid = 0;
    // Set on the MIDI input thread, read and cleared on the message thread.
    std::atomic<bool> resetAck { false }, writeAck { false }, eraseAck { false }, connectAck { false };
};

} // namespace fenz
