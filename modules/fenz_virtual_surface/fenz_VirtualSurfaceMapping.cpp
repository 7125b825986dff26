#include "fenz_VirtualSurfaceMapping.h"
#include "fenz_VirtualSurfaceHex.h"

namespace fenz
{

namespace
{

bool isMessage (const juce::MidiMessage& message, int status, int data1, int data2)
{
    const auto* d = message.getRawData();
    return message.getRawDataSize() == 3 && d[0] == status && d[1] == data1 && d[2] == data2;
}

bool isBurstStart (const juce::MidiMessage& message)     { return isMessage (message, 0x9f, 0, 0); }
bool isClosingMessage (const juce::MidiMessage& message) { return isMessage (message, 0x9e, 0x7f, 0x7f); }

enum class Kind { button, knob, jogWheel, fader, masterFader };

Kind kindOf (int id)
{
    if (id <= 90)  return Kind::button;
    if (id <= 98)  return Kind::knob;
    if (id == 99)  return Kind::jogWheel;
    if (id <= 107) return Kind::fader;
    return Kind::masterFader;
}

bool isTypeOfKind (int code, Kind kind)
{
    switch (kind)
    {
        case Kind::button:      return code == 0 || code == 2 || code == 3;
        case Kind::knob:
        case Kind::jogWheel:    return code == 0 || code == 1 || code == 2;
        case Kind::fader:
        case Kind::masterFader: return code == 0 || code == 1;
    }

    return false;
}

} // namespace

//==============================================================================
VirtualSurfaceMapping::VirtualSurfaceMapping (int id) : familyId (id) {}

VirtualSurfaceMapping::Outcome VirtualSurfaceMapping::receive (const juce::MidiMessage& message)
{
    followBurst (message);

    switch (state)
    {
        case State::idle:
            if (isBurstStart (message))
                return beginBurst (false);

            return refuse ("message outside a transfer: " + VirtualSurfaceHex::ofMessage (message), message);

        case State::discarding:
            return discard (message);

        case State::burst:
            if (isMessage (message, 0x9f, burstPosition, 0))
            {
                if (++burstPosition == burstLength)
                    state = State::header;

                return {};
            }

            // A burst that starts while the rest of a refused transfer is being skipped
            // may just be data that looks like one; only a real one is worth a note.
            if (quietBurst)
            {
                state = State::discarding;
                return discard (message);
            }

            return refuse ("opening burst broken after " + juce::String (burstPosition)
                             + " of " + juce::String (burstLength) + " messages by " + VirtualSurfaceHex::ofMessage (message),
                           message);

        case State::header:
            return receiveHeader (message);

        case State::data:
            return receiveData (message);
    }

    return {};
}

bool VirtualSurfaceMapping::isBetweenTransfers() const noexcept
{
    return state == State::idle || state == State::discarding || (state == State::burst && quietBurst);
}

void VirtualSurfaceMapping::restart() noexcept
{
    state = State::idle;
    burstRun = 0;
}

std::optional<VirtualSurfaceMapping::Assignment> VirtualSurfaceMapping::getAssignment (int modeIndex) const
{
    if (! juce::isPositiveAndBelow (modeIndex, numModes))
        return std::nullopt;

    return assignments[(size_t) modeIndex];
}

//==============================================================================
void VirtualSurfaceMapping::followBurst (const juce::MidiMessage& message)
{
    if (burstRun < burstLength && isMessage (message, 0x9f, burstRun, 0))
        ++burstRun;
    else
        burstRun = isBurstStart (message) ? 1 : 0;
}

VirtualSurfaceMapping::Outcome VirtualSurfaceMapping::beginBurst (bool quiet)
{
    state = State::burst;
    burstPosition = 1;
    quietBurst = quiet;
    return {};
}

// Skips what is left of a refused transfer, up to its closing message or the next burst,
// which may have begun before the refusal.
VirtualSurfaceMapping::Outcome VirtualSurfaceMapping::discard (const juce::MidiMessage& message)
{
    if (burstRun > 0)
    {
        beginBurst (true);
        burstPosition = burstRun;

        if (burstPosition == burstLength)
            state = State::header;

        return {};
    }

    if (isClosingMessage (message))
        state = State::idle;

    return {};
}

VirtualSurfaceMapping::Outcome VirtualSurfaceMapping::refuse (const juce::String& reason, const juce::MidiMessage& message)
{
    ++numRefused;

    // The refusing message may itself be the closing message, or a host starting over.
    state = State::discarding;
    discard (message);

    return { Outcome::refused, "transfer refused: " + reason };
}

VirtualSurfaceMapping::Outcome VirtualSurfaceMapping::receiveHeader (const juce::MidiMessage& message)
{
    const auto* d = message.getRawData();
    const auto size = message.getRawDataSize();

    if (! message.isSysEx())
        return refuse ("expected the header after the opening burst, got " + VirtualSurfaceHex::ofMessage (message), message);

    if (size != 9)
        return refuse ("header " + VirtualSurfaceHex::ofMessage (message) + " is " + juce::String (size) + " bytes long, not 9", message);

    if (d[1] != 0x1d || d[2] != 0x03)
        return refuse ("header " + VirtualSurfaceHex::ofMessage (message) + " has the wrong manufacturer bytes", message);

    const auto id = (d[3] << 7) | d[4];

    if (d[3] > 0x7f || d[4] > 0x7f || id != familyId)
        return refuse ("header " + VirtualSurfaceHex::ofMessage (message) + " addresses family " + juce::String (id)
                         + ", not " + juce::String (familyId), message);

    if (d[5] != 0x00 || d[7] != 0x7f || d[8] != 0xf7)
        return refuse ("header " + VirtualSurfaceHex::ofMessage (message) + " has wrong fixed bytes", message);

    if (d[6] < 1 || d[6] > numModes)
        return refuse ("header " + VirtualSurfaceHex::ofMessage (message) + " has command " + juce::String (d[6])
                         + ", not a mode (1 to 4)", message);

    mode = d[6] - 1;
    numData = 0;
    incoming = {};
    state = State::data;
    return {};
}

VirtualSurfaceMapping::Outcome VirtualSurfaceMapping::receiveData (const juce::MidiMessage& message)
{
    if (isClosingMessage (message))
    {
        if (numData < numDataMessages)
            return refuse ("closing message after " + juce::String (numData) + " of "
                             + juce::String (numDataMessages) + " data messages", message);

        assignments[(size_t) mode] = incoming;
        ++numTaken;
        state = State::idle;
        return { Outcome::taken, "mapping taken for mode " + juce::String (mode) };
    }

    const auto* d = message.getRawData();

    // A message that continues a burst and cannot be this position's data ends the
    // transfer: the host has started the next one.
    const auto cutOff = [this]
    {
        return "cut off after " + juce::String (numData - (burstRun - 1)) + " of "
             + juce::String (numDataMessages) + " data messages by the next transfer's opening burst";
    };

    if (numData == numDataMessages)
    {
        if (burstRun > 0)
            return refuse (cutOff(), message);

        if (message.getRawDataSize() == 3 && d[0] == 0x9f)
            return refuse ("more than " + juce::String (numDataMessages) + " data messages", message);

        return refuse (VirtualSurfaceHex::ofMessage (message) + " instead of the closing message", message);
    }

    if (message.getRawDataSize() != 3 || d[0] != 0x9f)
        return refuse ("data message " + juce::String (numData + 1) + " is " + VirtualSurfaceHex::ofMessage (message)
                         + ", not 9F", message);

    const auto problem = decode (numData, d[1], d[2]);

    if (problem.isNotEmpty() && burstRun > 0)
        return refuse (cutOff(), message);

    if (problem.isNotEmpty())
        return refuse ("data message " + juce::String (numData + 1) + " (" + VirtualSurfaceHex::ofMessage (message) + "): " + problem,
                       message);

    ++numData;
    return {};
}

// Type and channel of every button, then their numbers; then the same for the other
// controls (knobs, jog wheel, faders, master fader), all in id order.
juce::String VirtualSurfaceMapping::decode (int position, int first, int second)
{
    const bool isButtonPart = position < 2 * numButtons;
    const int offset = isButtonPart ? position : position - 2 * numButtons;
    const int perPass = isButtonPart ? numButtons : numOthers;
    const bool isTypePass = offset < perPass;
    const int id = (isButtonPart ? 1 : numButtons + 1) + offset % perPass;
    const auto kind = kindOf (id);
    auto& control = incoming[(size_t) (id - 1)];
    const auto where = "control " + juce::String (id) + ": ";

    if (isTypePass)
    {
        if (first > 0x0f)
            return where + "channel byte out of range";

        if (! isTypeOfKind (second, kind))
            return where + "type code " + juce::String (second) + " not allowed for this kind";

        control.channel = first + 1;
        control.type = second;
        return {};
    }

    if (second > 0x0f)
        return where + "low nibble out of range";

    if (kind == Kind::button)
    {
        // 126 has a form of its own; every other number carries bit 3 in its high nibble.
        if (first == 0x07 && second == 0x0e)
            control.number = 126;
        else if (first >= 0x08 && first <= 0x0f)
            control.number = ((first & 0x07) << 4) | second;
        else
            return where + "high nibble out of range";

        return {};
    }

    if (first > 0x07)
        return where + "high nibble out of range";

    control.number = (first << 4) | second;
    return {};
}

} // namespace fenz
