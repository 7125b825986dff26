#include "fenz_VirtualSurface.h"

#include <algorithm>

namespace fenz
{

namespace
{

juce::String hexBytes (const juce::uint8* data, size_t size)
{
    static const char digits[] = "0123456789ABCDEF";

    juce::String text;
    text.preallocateBytes (size * 3);

    for (size_t i = 0; i < size; ++i)
    {
        if (i > 0)
            text << ' ';

        text << digits[data[i] >> 4] << digits[data[i] & 0x0f];
    }

    return text;
}

juce::String hexBytes (const juce::MidiMessage& message)
{
    return hexBytes (message.getRawData(), (size_t) message.getRawDataSize());
}

bool isMessage (const juce::MidiMessage& message, int status, int data1, int data2)
{
    const auto* d = message.getRawData();
    return message.getRawDataSize() == 3 && d[0] == status && d[1] == data1 && d[2] == data2;
}

bool isBurstStart (const juce::MidiMessage& message)     { return isMessage (message, 0x9f, 0, 0); }
bool isClosingMessage (const juce::MidiMessage& message) { return isMessage (message, 0x9e, 0x7f, 0x7f); }

} // namespace

//==============================================================================
// The device's side of a mapping transfer: the opening burst, the header that names the
// mode, then the controls by position (no ids travel), then the closing message. Nothing is
// taken unless the whole transfer fits; a refused transfer leaves the mode as it was.
struct VirtualSurface::MappingReceiver
{
    static constexpr int burstLength = 32;
    static constexpr int numButtons = 90;
    static constexpr int numOthers = numControls - numButtons;   // knobs, jog wheel, faders, master fader
    static constexpr int numDataMessages = 2 * numControls;
    static constexpr int familyId = 176;                         // both models answer to the main unit's id

    struct Outcome
    {
        enum Kind { nothing, taken, refused } kind = nothing;
        juce::String text;
    };

    std::array<std::optional<Assignment>, numModes> assignments;
    int numTaken = 0, numRefused = 0;

    Outcome receive (const juce::MidiMessage& message)
    {
        followBurst (message);

        switch (state)
        {
            case State::idle:
                if (isBurstStart (message))
                    return beginBurst (false);

                return refuse ("message outside a transfer: " + hexBytes (message), message);

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
                                 + " of " + juce::String (burstLength) + " messages by " + hexBytes (message),
                               message);

            case State::header:
                return receiveHeader (message);

            case State::data:
                return receiveData (message);
        }

        return {};
    }

private:
    enum class State { idle, discarding, burst, header, data };

    State state = State::idle;
    int burstPosition = 0;
    bool quietBurst = false;

    // How many of the latest messages, up to this one, read as the start of an opening burst
    // (9F 00 00, 9F 01 00, ...). Data can look like a burst's first sixteen messages, but never
    // like its seventeenth, 9F 10 00; so a transfer cut off before its closing message is told
    // from the next one's burst at the latest there, and the burst is taken up where it stands.
    int burstRun = 0;

    void followBurst (const juce::MidiMessage& message)
    {
        if (burstRun < burstLength && isMessage (message, 0x9f, burstRun, 0))
            ++burstRun;
        else
            burstRun = isBurstStart (message) ? 1 : 0;
    }

    int mode = 0;
    int numData = 0;
    Assignment incoming {};

    Outcome beginBurst (bool quiet)
    {
        state = State::burst;
        burstPosition = 1;
        quietBurst = quiet;
        return {};
    }

    // Skips what is left of a refused transfer, up to its closing message or the next burst,
    // which may have begun before the refusal.
    Outcome discard (const juce::MidiMessage& message)
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

    Outcome refuse (const juce::String& reason, const juce::MidiMessage& message)
    {
        ++numRefused;

        // The refusing message may itself be the closing message, or a host starting over.
        state = State::discarding;
        discard (message);

        return { Outcome::refused, "transfer refused: " + reason };
    }

    Outcome receiveHeader (const juce::MidiMessage& message)
    {
        const auto* d = message.getRawData();
        const auto size = message.getRawDataSize();

        if (! message.isSysEx())
            return refuse ("expected the header after the opening burst, got " + hexBytes (message), message);

        if (size != 9)
            return refuse ("header " + hexBytes (message) + " is " + juce::String (size) + " bytes long, not 9", message);

        if (d[1] != 0x1d || d[2] != 0x03)
            return refuse ("header " + hexBytes (message) + " has the wrong manufacturer bytes", message);

        const auto id = (d[3] << 7) | d[4];

        if (d[3] > 0x7f || d[4] > 0x7f || id != familyId)
            return refuse ("header " + hexBytes (message) + " addresses family " + juce::String (id)
                             + ", not " + juce::String (familyId), message);

        if (d[5] != 0x00 || d[7] != 0x7f || d[8] != 0xf7)
            return refuse ("header " + hexBytes (message) + " has wrong fixed bytes", message);

        if (d[6] < 1 || d[6] > numModes)
            return refuse ("header " + hexBytes (message) + " has command " + juce::String (d[6])
                             + ", not a mode (1 to 4)", message);

        mode = d[6] - 1;
        numData = 0;
        incoming = {};
        state = State::data;
        return {};
    }

    Outcome receiveData (const juce::MidiMessage& message)
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

            return refuse (hexBytes (message) + " instead of the closing message", message);
        }

        if (message.getRawDataSize() != 3 || d[0] != 0x9f)
            return refuse ("data message " + juce::String (numData + 1) + " is " + hexBytes (message)
                             + ", not 9F", message);

        const auto problem = decode (numData, d[1], d[2]);

        if (problem.isNotEmpty() && burstRun > 0)
            return refuse (cutOff(), message);

        if (problem.isNotEmpty())
            return refuse ("data message " + juce::String (numData + 1) + " (" + hexBytes (message) + "): " + problem,
                           message);

        ++numData;
        return {};
    }

    enum class Kind { button, knob, jogWheel, fader, masterFader };

    static Kind kindOf (int id)
    {
        if (id <= 90)  return Kind::button;
        if (id <= 98)  return Kind::knob;
        if (id == 99)  return Kind::jogWheel;
        if (id <= 107) return Kind::fader;
        return Kind::masterFader;
    }

    static bool isTypeOfKind (int code, Kind kind)
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

    // Type and channel of every button, then their numbers; then the same for the other
    // controls (knobs, jog wheel, faders, master fader), all in id order.
    juce::String decode (int position, int first, int second)
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
};

//==============================================================================
struct VirtualSurface::Link
{
    juce::CriticalSection lock;
    VirtualSurface* surface = nullptr;   // null once the surface is gone
    std::vector<InputPort*> inputs;
    std::vector<Entry> record;
    MappingReceiver mapping;
    std::unique_ptr<juce::FileOutputStream> log;
};

class VirtualSurface::OutputPort final : public MidiOutputPort
{
public:
    explicit OutputPort (std::shared_ptr<Link> l) : link (std::move (l)) {}

    void sendMessageNow (const juce::MidiMessage& message) override
    {
        const juce::ScopedLock sl (link->lock);

        if (link->surface != nullptr)
            link->surface->receive (message);
    }

    void sendBlockOfMessagesNow (const juce::MidiBuffer& buffer) override
    {
        const juce::ScopedLock sl (link->lock);

        for (const auto metadata : buffer)
            if (link->surface != nullptr)
                link->surface->receive (metadata.getMessage());
    }

private:
    std::shared_ptr<Link> link;
};

class VirtualSurface::InputPort final : public MidiInputPort
{
public:
    InputPort (std::shared_ptr<Link> l, juce::MidiInputCallback& cb) : link (std::move (l)), callback (cb)
    {
        const juce::ScopedLock sl (link->lock);
        link->inputs.push_back (this);
    }

    ~InputPort() override
    {
        const juce::ScopedLock sl (link->lock);
        link->inputs.erase (std::remove (link->inputs.begin(), link->inputs.end(), this), link->inputs.end());
    }

    // Deliveries happen under the link's lock, so once stop() returns no callback is running.
    void start() override
    {
        const juce::ScopedLock sl (link->lock);
        started = true;
    }

    void stop() override
    {
        const juce::ScopedLock sl (link->lock);
        started = false;
    }

    void deliver (const juce::MidiMessage& message)
    {
        if (started)
            callback.handleIncomingMidiMessage (nullptr, message);
    }

private:
    std::shared_ptr<Link> link;
    juce::MidiInputCallback& callback;
    bool started = false;
};

//==============================================================================
juce::String VirtualSurface::Entry::toLogLine() const
{
    if (isNote())
        return note;

    return juce::String (microseconds) + "\t" + hexBytes (bytes.data(), bytes.size());
}

VirtualSurface::VirtualSurface (Model m)
    : link (std::make_shared<Link>()),
      model (m),
      startTicks (juce::Time::getHighResolutionTicks())
{
    link->surface = this;
}

VirtualSurface::~VirtualSurface()
{
    uninstall();

    const juce::ScopedLock sl (link->lock);
    link->surface = nullptr;

    if (link->log != nullptr)
        link->log->flush();

    link->log.reset();
}

std::unique_ptr<VirtualSurface> VirtualSurface::installFromEnvironment()
{
    const auto wanted = juce::SystemStats::getEnvironmentVariable ("KESTAL_VIRTUAL_SURFACE", {}).trim().toLowerCase();

    std::unique_ptr<VirtualSurface> surface;

    if (wanted == "tamrel")
        surface = std::make_unique<VirtualSurface> (Model::tamrel);
    else if (wanted == "ostrel")
        surface = std::make_unique<VirtualSurface> (Model::ostrel);
    else
        return nullptr;

    const auto logPath = juce::SystemStats::getEnvironmentVariable ("KESTAL_VIRTUAL_SURFACE_LOG", {});

    if (logPath.isNotEmpty())
        surface->setLogFile (juce::File::getCurrentWorkingDirectory().getChildFile (logPath));

    surface->install();
    return surface;
}

Product::PID VirtualSurface::getProductId() const noexcept
{
    return model == Model::tamrel ? Product::tamrel : Product::ostrel;
}

juce::String VirtualSurface::getPortName() const
{
    return model == Model::tamrel ? "Varn Tamrel Virtual" : "Varn Ostrel Virtual";
}

void VirtualSurface::install()
{
    if (! installed.exchange (true))
        MidiPorts::addProvider (this);
}

void VirtualSurface::uninstall()
{
    if (installed.exchange (false))
        MidiPorts::removeProvider (this);
}

void VirtualSurface::setLogFile (const juce::File& file)
{
    std::unique_ptr<juce::FileOutputStream> stream;

    if (file != juce::File())
    {
        stream = std::make_unique<juce::FileOutputStream> (file);

        if (stream->failedToOpen())
        {
            DBG ("Virtual surface cannot write its log to " << file.getFullPathName());
            stream.reset();
        }
    }

    const juce::ScopedLock sl (link->lock);

    if (link->log != nullptr)
        link->log->flush();

    link->log = std::move (stream);
}

//==============================================================================
void VirtualSurface::sendToHost (const juce::MidiMessage& message)
{
    const juce::ScopedLock sl (link->lock);

    // A callback may close its own port, or another one.
    const auto inputs = link->inputs;

    for (auto* input : inputs)
        if (std::find (link->inputs.begin(), link->inputs.end(), input) != link->inputs.end())
            input->deliver (message);
}

//==============================================================================
std::vector<VirtualSurface::Entry> VirtualSurface::getRecord() const
{
    const juce::ScopedLock sl (link->lock);
    return link->record;
}

std::vector<std::vector<juce::uint8>> VirtualSurface::getReceivedMessages() const
{
    const juce::ScopedLock sl (link->lock);

    std::vector<std::vector<juce::uint8>> messages;

    for (const auto& entry : link->record)
        if (! entry.isNote())
            messages.push_back (entry.bytes);

    return messages;
}

juce::StringArray VirtualSurface::getNotes() const
{
    const juce::ScopedLock sl (link->lock);

    juce::StringArray notes;

    for (const auto& entry : link->record)
        if (entry.isNote())
            notes.add (entry.note);

    return notes;
}

void VirtualSurface::clearRecord()
{
    const juce::ScopedLock sl (link->lock);
    link->record.clear();
}

std::optional<VirtualSurface::Assignment> VirtualSurface::getAssignment (int mode) const
{
    if (! juce::isPositiveAndBelow (mode, numModes))
        return std::nullopt;

    const juce::ScopedLock sl (link->lock);
    return link->mapping.assignments[(size_t) mode];
}

int VirtualSurface::getNumTransfersTaken() const
{
    const juce::ScopedLock sl (link->lock);
    return link->mapping.numTaken;
}

int VirtualSurface::getNumTransfersRefused() const
{
    const juce::ScopedLock sl (link->lock);
    return link->mapping.numRefused;
}

//==============================================================================
juce::StringArray VirtualSurface::getOutputNames()
{
    if (hidePorts)
        return {};

    return { getPortName() };
}

juce::StringArray VirtualSurface::getInputNames()
{
    return getOutputNames();
}

std::unique_ptr<MidiOutputPort> VirtualSurface::openOutput (int index)
{
    if (hidePorts || refuseOutput || index != 0)
        return nullptr;

    return std::make_unique<OutputPort> (link);
}

std::unique_ptr<MidiInputPort> VirtualSurface::openInput (int index, juce::MidiInputCallback& callback)
{
    if (hidePorts || refuseInput || index != 0)
        return nullptr;

    return std::make_unique<InputPort> (link, callback);
}

//==============================================================================
juce::int64 VirtualSurface::microsecondsNow() const
{
    const auto elapsed = juce::Time::getHighResolutionTicks() - startTicks;
    return (juce::int64) (juce::Time::highResolutionTicksToSeconds (elapsed) * 1.0e6);
}

void VirtualSurface::receive (const juce::MidiMessage& message)
{
    Entry entry;
    entry.microseconds = microsecondsNow();
    entry.bytes.assign (message.getRawData(), message.getRawData() + message.getRawDataSize());
    addEntry (std::move (entry));

    // Everything the surface understands in its normal working is a mapping transfer.
    const auto outcome = link->mapping.receive (message);

    if (outcome.kind != MappingReceiver::Outcome::nothing)
        addNote (outcome.text);
}

void VirtualSurface::addNote (const juce::String& text)
{
    Entry entry;
    entry.microseconds = microsecondsNow();
    entry.note = "# " + text;
    addEntry (std::move (entry));
}

void VirtualSurface::addEntry (Entry entry)
{
    if (auto* log = link->log.get())
    {
        log->writeText (entry.toLogLine() + "\n", false, false, nullptr);

        // Notes are rare and mark what a reader of the log looks for; messages come every
        // 2 ms and stay in the stream's buffer until then.
        if (entry.isNote())
            log->flush();
    }

    link->record.push_back (std::move (entry));
}

} // namespace fenz
