#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <optional>

namespace fenz
{

// The device's side of a mapping transfer, as a surface in normal mode holds it: the opening
// burst 9F 00 00 to 9F 1F 00, the header F0 1D 03 idHi idLo 00 MODE 7F F7 that names the mode
// (1 to 4), then the controls by position (no ids travel) in 216 data messages 9F, then the
// closing message 9E 7F 7F. Nothing is taken unless the whole transfer fits; a refused transfer
// leaves the mode as it was.
//
// It reads the transfer from the byte rules of the wire format alone, with nothing of the
// editor's, so that what it takes checks the editor's encoder rather than repeating it.
//
// Not thread-safe: the surface calls it under its own lock.
class VirtualSurfaceMapping
{
public:
    static constexpr int numModes = 4;
    static constexpr int numControls = 108;

    // What the surface holds for one control.
    struct ControlAssignment
    {
        int type = 0;      // 0 note, 1 pitch bend, 2 control change, 3 program change
        int channel = 1;   // 1 to 16
        int number = 0;    // 0 to 127

        bool operator== (const ControlAssignment& other) const noexcept
        {
            return type == other.type && channel == other.channel && number == other.number;
        }

        bool operator!= (const ControlAssignment& other) const noexcept  { return ! operator== (other); }
    };

    // A whole mode's assignment; element id - 1 belongs to control id (1 to 108).
    using Assignment = std::array<ControlAssignment, numControls>;

    // What one received message came to.
    struct Outcome
    {
        enum Kind { nothing, taken, refused } kind = nothing;
        juce::String text;   // for taken and refused, the note, without the leading "# "
    };

    // familyId is the product id the header must address for this device.
    explicit VirtualSurfaceMapping (int familyId);

    Outcome receive (const juce::MidiMessage& message);

    // Between two transfers, where a message that starts none may mean something else.
    bool isBetweenTransfers() const noexcept;

    // Forgets a transfer in progress, as the device does when it restarts; what it holds stays.
    void restart() noexcept;

    // The assignment last taken for mode 0 to 3; none until a transfer for it was taken.
    std::optional<Assignment> getAssignment (int mode) const;
    int getNumTaken() const noexcept     { return numTaken; }
    int getNumRefused() const noexcept   { return numRefused; }

private:
    static constexpr int burstLength = 32;
    static constexpr int numButtons = 90;
    static constexpr int numOthers = numControls - numButtons;   // knobs, jog wheel, faders, master fader
    static constexpr int numDataMessages = 2 * numControls;

    enum class State { idle, discarding, burst, header, data };

    const int familyId;

    std::array<std::optional<Assignment>, numModes> assignments;
    int numTaken = 0, numRefused = 0;

    State state = State::idle;
    int burstPosition = 0;
    bool quietBurst = false;

    // How many of the latest messages, up to this one, read as the start of an opening burst
    // (9F 00 00, 9F 01 00, ...). Data can look like a burst's first sixteen messages, but never
    // like its seventeenth, 9F 10 00; so a transfer cut off before its closing message is told
    // from the next one's burst at the latest there, and the burst is taken up where it stands.
    int burstRun = 0;

    int mode = 0;
    int numData = 0;
    Assignment incoming {};

    void followBurst (const juce::MidiMessage& message);
    Outcome beginBurst (bool quiet);
    Outcome discard (const juce::MidiMessage& message);
    Outcome refuse (const juce::String& reason, const juce::MidiMessage& message);
    Outcome receiveHeader (const juce::MidiMessage& message);
    Outcome receiveData (const juce::MidiMessage& message);
    juce::String decode (int position, int first, int second);
};

} // namespace fenz
