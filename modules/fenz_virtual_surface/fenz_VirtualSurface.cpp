#include "fenz_VirtualSurface.h"
#include "fenz_VirtualSurfaceFaults.h"
#include "fenz_VirtualSurfaceHex.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include "fenz_Text.h"

namespace fenz
{

namespace
{

// Both models answer to the main unit's id, and both take the same erase byte.
constexpr int surfaceFamilyId = 176;
constexpr juce::uint8 surfaceEraseByte = 0x70;

} // namespace

//==============================================================================
enum class PortKind { normal, upgrade };

// Which ports a message came through, or is meant for: the kind, and the count of mode changes
// when the port was opened. A port of an earlier count is dead, as a device's port is once it
// has left that mode.
struct VirtualSurface::PortTag
{
    PortKind kind = PortKind::normal;
    int epoch = 0;
    bool deadNoted = false;   // the surface says once that it ignores a dead port
};

// One open input: the host's callback and when it may be called. The lock is held while the
// callback runs, so once stop() or closing returns no callback is running, and nothing else
// of the surface's is held then.
struct VirtualSurface::InputState
{
    InputState (juce::MidiInputCallback& cb, PortTag t) : callback (cb), tag (t) {}

    void deliver (const juce::MidiMessage& message)
    {
        const juce::ScopedLock sl (deliveryLock);

        if (started && ! closed)
            callback.handleIncomingMidiMessage (nullptr, message);
    }

    juce::MidiInputCallback& callback;
    const PortTag tag;
    juce::CriticalSection deliveryLock;
    bool started = false, closed = false;   // deliveryLock held
};

// A message for the host, due at a given time on the inputs of one kind and epoch.
struct VirtualSurface::Answer
{
    juce::MidiMessage message;
    PortTag to;
    std::chrono::steady_clock::time_point due;
    bool now = false;   // on the sending thread, before its send returns
};

struct VirtualSurface::Link
{
    juce::CriticalSection lock;
    VirtualSurface* surface = nullptr;   // null once the surface is gone
    std::vector<std::shared_ptr<InputState>> inputs;
    std::vector<Entry> record;
    VirtualSurfaceMapping mapping { surfaceFamilyId };
    VirtualSurfaceUpgrade upgrade { surfaceEraseByte };
    UpgradeFaults faults;
    Mode mode = Mode::normal;
    int epoch = 0;
    std::atomic<int> answerDelay { 1 };
    std::unique_ptr<juce::FileOutputStream> log;
    juce::File stateFile;
    std::shared_ptr<AnswerThread> answerThread;   // created on first use, stopped with the surface

    PortTag currentTag() const  { return { mode == Mode::upgrade ? PortKind::upgrade : PortKind::normal, epoch }; }

    // Hands the message to every input the tag names. Call without the lock.
    void deliver (const juce::MidiMessage& message, const PortTag& to)
    {
        std::vector<std::shared_ptr<InputState>> targets;

        {
            const juce::ScopedLock sl (lock);

            for (const auto& input : inputs)
                if (input->tag.kind == to.kind && input->tag.epoch == to.epoch)
                    targets.push_back (input);
        }

        for (const auto& input : targets)
            input->deliver (message);
    }

    void dispatch (std::vector<Answer>& answers);   // without the lock
};

// Sends answers when they are due, in the order they were made, on a thread of its own.
class VirtualSurface::AnswerThread
{
public:
    explicit AnswerThread (Link& l) : link (l), thread ([this] { run(); }) {}

    ~AnswerThread()  { stop(); }

    // Drops what is still due; once it returns no answer is being sent.
    void stop()
    {
        {
            const std::lock_guard<std::mutex> guard (mutex);
            stopping = true;
        }

        wake.notify_all();

        if (thread.joinable())
            thread.join();
    }

    void post (Answer answer)
    {
        {
            const std::lock_guard<std::mutex> guard (mutex);

            if (stopping)
                return;

            queue.push_back (std::move (answer));
        }

        wake.notify_all();
    }

private:
    Link& link;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Answer> queue;
    bool stopping = false;
    std::thread thread;   // last, so that it starts once everything else is there

    void run()
    {
        std::unique_lock<std::mutex> guard (mutex);

        for (;;)
        {
            wake.wait (guard, [this] { return stopping || ! queue.empty(); });

            if (stopping)
                return;

            // Never early, whatever wakes the wait.
            const auto due = queue.front().due;

            if (std::chrono::steady_clock::now() < due)
            {
                wake.wait_until (guard, due, [this] { return stopping; });
                continue;
            }

            auto answer = std::move (queue.front());
            queue.pop_front();

            guard.unlock();
            link.deliver (answer.message, answer.to);
            guard.lock();
        }
    }
};

void VirtualSurface::Link::dispatch (std::vector<Answer>& answers)
{
    for (auto& answer : answers)
    {
        if (answer.now)
        {
            deliver (answer.message, answer.to);
            continue;
        }

        std::shared_ptr<AnswerThread> thread;

        {
            const juce::ScopedLock sl (lock);

            if (surface == nullptr)
                return;

            if (answerThread == nullptr)
                answerThread = std::make_shared<AnswerThread> (*this);

            thread = answerThread;
        }

        thread->post (std::move (answer));
    }
}

class VirtualSurface::OutputPort final : public MidiOutputPort
{
public:
    OutputPort (std::shared_ptr<Link> l, PortTag t) : link (std::move (l)), tag (t) {}

    void sendMessageNow (const juce::MidiMessage& message) override
    {
        std::vector<Answer> answers;

        {
            const juce::ScopedLock sl (link->lock);

            if (link->surface != nullptr)
                link->surface->receive (message, tag, answers);
        }

        link->dispatch (answers);
    }

    void sendBlockOfMessagesNow (const juce::MidiBuffer& buffer) override
    {
        std::vector<Answer> answers;

        {
            const juce::ScopedLock sl (link->lock);

            for (const auto metadata : buffer)
                if (link->surface != nullptr)
                    link->surface->receive (metadata.getMessage(), tag, answers);
        }

        link->dispatch (answers);
    }

private:
    std::shared_ptr<Link> link;
    PortTag tag;   // link's lock held
};

class VirtualSurface::InputPort final : public MidiInputPort
{
public:
    // Registers itself with the link; the caller holds the link's lock.
    InputPort (std::shared_ptr<Link> l, juce::MidiInputCallback& callback, PortTag tag)
        : link (std::move (l)), state (std::make_shared<InputState> (callback, tag))
    {
        link->inputs.push_back (state);
    }

    ~InputPort() override
    {
        {
            const juce::ScopedLock sl (state->deliveryLock);
            state->closed = true;
        }

        const juce::ScopedLock sl (link->lock);
        link->inputs.erase (std::remove (link->inputs.begin(), link->inputs.end(), state), link->inputs.end());
    }

    void start() override
    {
        const juce::ScopedLock sl (state->deliveryLock);
        state->started = true;
    }

    void stop() override
    {
        const juce::ScopedLock sl (state->deliveryLock);
        state->started = false;
    }

private:
    std::shared_ptr<Link> link;
    std::shared_ptr<InputState> state;
};

//==============================================================================
juce::String VirtualSurface::Entry::toLogLine() const
{
    if (isNote())
        return note;

    return juce::String (microseconds) + "\t" + VirtualSurfaceHex::ofBytes (bytes.data(), bytes.size());
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

    std::shared_ptr<AnswerThread> answerThread;

    {
        const juce::ScopedLock sl (link->lock);
        link->surface = nullptr;
        answerThread = std::move (link->answerThread);

        if (link->log != nullptr)
            link->log->flush();

        link->log.reset();
    }

    // Without the lock: an answer on its way takes it.
    if (answerThread != nullptr)
        answerThread->stop();
}

std::unique_ptr<VirtualSurface> VirtualSurface::installFromEnvironment()
{
    const auto wanted = environmentText ("KESTAL_VIRTUAL_SURFACE").trim().toLowerCase();

    std::unique_ptr<VirtualSurface> surface;

    if (wanted == "tamrel")
        surface = std::make_unique<VirtualSurface> (Model::tamrel);
    else if (wanted == "ostrel")
        surface = std::make_unique<VirtualSurface> (Model::ostrel);
    else
        return nullptr;

    const auto logPath = environmentText ("KESTAL_VIRTUAL_SURFACE_LOG");

    if (logPath.isNotEmpty())
        surface->setLogFile (juce::File::getCurrentWorkingDirectory().getChildFile (logPath));

    const auto statePath = environmentText ("KESTAL_VIRTUAL_SURFACE_STATE");

    if (statePath.isNotEmpty())
        surface->setStateFile (juce::File::getCurrentWorkingDirectory().getChildFile (statePath));

    surface->setFaultsFromText (environmentText ("KESTAL_VIRTUAL_SURFACE_FAULTS"));
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

VirtualSurface::Mode VirtualSurface::getMode() const
{
    const juce::ScopedLock sl (link->lock);
    return link->mode;
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

namespace
{
    // The state file's whole text for firmware that is not whole; anything else reads as whole.
    constexpr const char* notWholeText = "firmware not written whole";
    constexpr const char* wholeText = "firmware whole";
}

void VirtualSurface::setStateFile (const juce::File& file)
{
    const juce::ScopedLock sl (link->lock);
    link->stateFile = file;

    if (file == juce::File())
        return;

    if (file.loadFileAsString().trim() == notWholeText && link->upgrade.isFirmwareWhole())
    {
        link->upgrade.setFirmwareWhole (false);
        restartAsFirmwareAllows ("started with firmware that was not written whole");
    }
    else
    {
        keepState();
    }
}

void VirtualSurface::restart()
{
    const juce::ScopedLock sl (link->lock);
    restartAsFirmwareAllows ("restarted");
}

bool VirtualSurface::isFirmwareWhole() const
{
    const juce::ScopedLock sl (link->lock);
    return link->upgrade.isFirmwareWhole();
}

void VirtualSurface::restartAsFirmwareAllows (const juce::String& why)
{
    if (link->upgrade.isFirmwareWhole())
    {
        addNote (why + ": the firmware is whole");
        enterMode (Mode::normal);
    }
    else
    {
        addNote (why + ": the firmware is not whole, so only the upgrade mode starts");
        enterMode (Mode::upgrade);
    }
}

void VirtualSurface::keepState()
{
    if (link->stateFile == juce::File())
        return;

    const juce::String text (link->upgrade.isFirmwareWhole() ? wholeText : notWholeText);

    if (link->stateFile.loadFileAsString().trim() != text && ! link->stateFile.replaceWithText (text + "\n", false, false, "\n"))
        addNote ("cannot keep the firmware's state in " + link->stateFile.getFullPathName());
}

//==============================================================================
void VirtualSurface::sendToHost (const juce::MidiMessage& message)
{
    PortTag to;

    {
        const juce::ScopedLock sl (link->lock);

        if (link->mode == Mode::gone)
            return;

        to = link->currentTag();
    }

    link->deliver (message, to);
}

//==============================================================================
void VirtualSurface::setUpgradeFaults (const UpgradeFaults& faults)
{
    const juce::ScopedLock sl (link->lock);
    link->faults = faults;
    link->upgrade.setFaults (faults);
}

UpgradeFaults VirtualSurface::getUpgradeFaults() const
{
    const juce::ScopedLock sl (link->lock);
    return link->faults;
}

juce::StringArray VirtualSurface::setFaultsFromText (const juce::String& text)
{
    const auto read = readVirtualSurfaceFaults (text, getUpgradeFaults());

    if (read.refusesToOpenOutput)
        setRefusesToOpenOutput (true);

    if (read.refusesToOpenInput)
        setRefusesToOpenInput (true);

    if (read.answerDelay.has_value())
        setAnswerDelay (*read.answerDelay);

    setUpgradeFaults (read.upgrade);

    const juce::ScopedLock sl (link->lock);

    for (const auto& item : read.notUnderstood)
        addNote ("fault switch \"" + item + "\" not understood: ignored");

    return read.notUnderstood;
}

void VirtualSurface::setAnswerDelay (int milliseconds)
{
    link->answerDelay = juce::jmax (0, milliseconds);
}

int VirtualSurface::getAnswerDelay() const noexcept
{
    return link->answerDelay;
}

std::vector<juce::uint8> VirtualSurface::getWrittenImage() const
{
    const juce::ScopedLock sl (link->lock);
    return link->upgrade.getImage();
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
    const juce::ScopedLock sl (link->lock);
    return link->mapping.getAssignment (mode);
}

int VirtualSurface::getNumTransfersTaken() const
{
    const juce::ScopedLock sl (link->lock);
    return link->mapping.getNumTaken();
}

int VirtualSurface::getNumTransfersRefused() const
{
    const juce::ScopedLock sl (link->lock);
    return link->mapping.getNumRefused();
}

//==============================================================================
juce::StringArray VirtualSurface::getOutputNames()
{
    juce::StringArray names;

    for (const auto& output : getOutputs())
        names.add (output.name);

    return names;
}

juce::StringArray VirtualSurface::getInputNames()
{
    return getOutputNames();
}

// A port lives for one mode: the port of every later mode is another one.
static juce::String identifierOfEpoch (int epoch)  { return "mode-" + juce::String (epoch); }

juce::Array<MidiOutputInfo> VirtualSurface::getOutputs()
{
    if (hidePorts)
        return {};

    const juce::ScopedLock sl (link->lock);

    switch (link->mode)
    {
        case Mode::normal:  return { MidiOutputInfo { getPortName(), identifierOfEpoch (link->epoch) } };
        case Mode::upgrade: return { MidiOutputInfo { upgradePortName, identifierOfEpoch (link->epoch) } };
        case Mode::gone:    break;
    }

    return {};
}

std::unique_ptr<MidiOutputPort> VirtualSurface::openOutputWithIdentifier (const juce::String& identifier)
{
    if (hidePorts || refuseOutput)
        return nullptr;

    // Looked at and opened under one lock, so that the mode cannot change in between.
    const juce::ScopedLock sl (link->lock);

    if (link->mode == Mode::gone || identifier != identifierOfEpoch (link->epoch))
        return nullptr;

    return std::make_unique<OutputPort> (link, link->currentTag());
}

// Its input is listed and identified as its output is.
juce::Array<MidiInputInfo> VirtualSurface::getInputs()
{
    return getOutputs();
}

std::unique_ptr<MidiInputPort> VirtualSurface::openInputWithIdentifier (const juce::String& identifier,
                                                                        juce::MidiInputCallback& callback)
{
    if (hidePorts || refuseInput)
        return nullptr;

    const juce::ScopedLock sl (link->lock);

    if (link->mode == Mode::gone || identifier != identifierOfEpoch (link->epoch))
        return nullptr;

    return std::make_unique<InputPort> (link, callback, link->currentTag());
}

std::unique_ptr<MidiOutputPort> VirtualSurface::openOutput (int index)
{
    if (hidePorts || refuseOutput || index != 0)
        return nullptr;

    const juce::ScopedLock sl (link->lock);

    if (link->mode == Mode::gone)
        return nullptr;

    return std::make_unique<OutputPort> (link, link->currentTag());
}

std::unique_ptr<MidiInputPort> VirtualSurface::openInput (int index, juce::MidiInputCallback& callback)
{
    if (hidePorts || refuseInput || index != 0)
        return nullptr;

    const juce::ScopedLock sl (link->lock);

    if (link->mode == Mode::gone)
        return nullptr;

    return std::make_unique<InputPort> (link, callback, link->currentTag());
}

//==============================================================================
juce::int64 VirtualSurface::microsecondsNow() const
{
    const auto elapsed = juce::Time::getHighResolutionTicks() - startTicks;
    return (juce::int64) (juce::Time::highResolutionTicksToSeconds (elapsed) * 1.0e6);
}

void VirtualSurface::receive (const juce::MidiMessage& message, PortTag& port, std::vector<Answer>& answers)
{
    Entry entry;
    entry.microseconds = microsecondsNow();
    entry.bytes.assign (message.getRawData(), message.getRawData() + message.getRawDataSize());
    addEntry (std::move (entry));

    const auto current = link->currentTag();

    if (link->mode == Mode::gone || port.kind != current.kind || port.epoch != current.epoch)
    {
        if (! port.deadNoted)
            addNote ("a port the surface no longer shows: ignored from here on");

        port.deadNoted = true;
        return;
    }

    if (link->mode == Mode::normal)
    {
        // Between transfers the device also listens for the request that switches it into
        // firmware-upgrade mode; within one, a request is only a broken transfer.
        if (link->mapping.isBetweenTransfers())
        {
            if (const auto request = VirtualSurfaceUpgrade::readRequest (message))
                return receiveRequest (*request);
        }

        const auto outcome = link->mapping.receive (message);

        if (outcome.kind != VirtualSurfaceMapping::Outcome::nothing)
            addNote (outcome.text);

        return;
    }

    const bool wasWhole = link->upgrade.isFirmwareWhole();
    const auto outcome = link->upgrade.receive (message);

    for (const auto& note : outcome.notes)
        addNote (note);

    if (link->upgrade.isFirmwareWhole() != wasWhole)
        keepState();

    if (outcome.answer.has_value())
    {
        Answer answer;
        const juce::uint8 bytes[] { 0x9f, *outcome.answer, 0x00 };
        answer.message = juce::MidiMessage (bytes, 3);
        answer.to = current;

        const auto delay = link->answerDelay.load();
        answer.now = delay == 0;
        answer.due = std::chrono::steady_clock::now() + std::chrono::milliseconds (delay);
        answers.push_back (std::move (answer));
    }

    if (outcome.next == VirtualSurfaceUpgrade::Outcome::Next::normalMode)
        enterMode (Mode::normal);
    else if (outcome.next == VirtualSurfaceUpgrade::Outcome::Next::upgradeModeAgain)
        enterMode (Mode::upgrade);
    else if (outcome.next == VirtualSurfaceUpgrade::Outcome::Next::vanish)
        enterMode (Mode::gone);
}

void VirtualSurface::receiveRequest (const VirtualSurfaceUpgrade::Request& request)
{
    if (request.isSecondMessage)
        return addNote ("second upgrade-mode message for product " + juce::String (request.id)
                          + " ignored: this surface needs none");

    if (request.id != surfaceFamilyId)
        return addNote ("upgrade-mode request for family " + juce::String (request.id)
                          + " ignored: this surface is of family " + juce::String (surfaceFamilyId));

    if (link->faults.refusesUpgradeMode)
        return addNote ("upgrade-mode request ignored (fault switch)");

    enterMode (Mode::upgrade);
}

void VirtualSurface::enterMode (Mode newMode)
{
    link->mode = newMode;
    ++link->epoch;

    switch (newMode)
    {
        case Mode::upgrade:
            link->mapping.restart();
            link->upgrade.begin (link->faults);
            addNote ("upgrade mode: the ports \"" + getPortName() + "\" are gone, \"" + upgradePortName + "\" is shown");
            break;

        case Mode::normal:
            link->mapping.restart();
            addNote ("normal mode: the ports \"" + getPortName() + "\" are back");
            break;

        case Mode::gone:
            addNote ("gone: no ports at all from here on");
            break;
    }
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
