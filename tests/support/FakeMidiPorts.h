#pragma once

#include <gtest/gtest.h>
#include "fenz_MidiPorts.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace testsupport
{

// MIDI ports that a test names itself, in place of the machine's devices or beside them: the
// output and input names it lists, any of which may be listed and yet refuse to open. It
// records what reaches its outputs and when they open and close, counts the listings and the
// opens asked of it, and answers on its started inputs as a device would. Its ports may have
// identifiers of their own, its outputs may leave the list once used, as a device does that
// restarts, and a test may change either list whenever it is looked at. It
// installs itself as it is made and removes itself when it goes. The port layer asks it under
// its lock; the test reads its records, and uses its ports, from one thread.
class FakeMidiPorts : public fenz::MidiPortProvider
{
public:
    using Bytes = std::vector<juce::uint8>;

    // Where the ports are listed: as the system's (replacing the machine's devices), behind
    // them as an added provider, or nowhere until the test installs them.
    enum class Installed { asSystem, asAdded, no };

    explicit FakeMidiPorts (juce::StringArray outputNames = {}, juce::StringArray inputNames = {},
                            Installed where = Installed::asSystem)
        : outputs (std::move (outputNames)), inputs (std::move (inputNames)), installed (where)
    {
        if (installed == Installed::asSystem)
            fenz::MidiPorts::setSystemProvider (this);
        else if (installed == Installed::asAdded)
            fenz::MidiPorts::addProvider (this);
    }

    ~FakeMidiPorts() override
    {
        if (installed == Installed::asSystem)
            fenz::MidiPorts::setSystemProvider (nullptr);
        else if (installed == Installed::asAdded)
            fenz::MidiPorts::removeProvider (this);
    }

    // One call of an output's send functions: a message on its own, or a block of them.
    struct Call
    {
        juce::String port;
        bool isBlock = false;
        std::vector<int> samplePositions;   // blocks only
        std::vector<Bytes> messages;
    };

    // One message that reached an output, alone or in a block.
    struct Sent
    {
        juce::String port;
        Bytes bytes;
    };

    //==============================================================================
    juce::StringArray outputs, inputs;
    juce::StringArray refusedOutputs, refusedInputs;   // listed, but never open

    // Empty: the identifiers every provider has (see numberOutputs and numberInputs for ones
    // of their own).
    juce::StringArray identifiers, inputIdentifiers;

    // Outputs of these names leave the list once they are closed after something was sent to
    // them; only outputs with identifiers of their own can, which tell which one it was.
    juce::StringArray leaveWhenClosed;

    std::vector<Call> calls;                         // every send, in order
    juce::StringArray log;                           // the outputs': "open <name>", each message's bytes in hex, "close <name>"
    juce::StringArray openedOutputs, openedInputs;   // every successful open, in order
    int lastOpenedOutput = -1;                       // the position of the output opened last
    int numOutputListings = 0;                       // calls of getOutputNames
    int numOutputOpens = 0, numInputOpens = 0;       // every open asked for, refused or not
    int numOutputCloses = 0;
    int liveOutputs = 0, liveInputs = 0;             // ports open right now

    // Called each time the outputs (inputs) are listed, by name or with identifiers, before
    // the list is given: a device may come or go there.
    std::function<void()> onListOutputs, onListInputs;

    // Gives every output listed now an identifier of its own, "port-" and its place in this
    // list, which stays its own when ports before it leave.
    void numberOutputs()
    {
        identifiers.clear();

        for (int i = 0; i < outputs.size(); ++i)
            identifiers.add ("port-" + juce::String (i));
    }

    // The same for the inputs: "in-" and the input's place in this list.
    void numberInputs()
    {
        inputIdentifiers.clear();

        for (int i = 0; i < inputs.size(); ++i)
            inputIdentifiers.add ("in-" + juce::String (i));
    }

    // Every message sent, in order.
    std::vector<Sent> sent() const
    {
        std::vector<Sent> result;

        for (const auto& call : calls)
            for (const auto& bytes : call.messages)
                result.push_back ({ call.port, bytes });

        return result;
    }

    // The bytes of every message sent, in order.
    std::vector<Bytes> allSent() const
    {
        std::vector<Bytes> result;

        for (const auto& s : sent())
            result.push_back (s.bytes);

        return result;
    }

    // The bytes of every message that reached an output of this name; ports of one name share it.
    std::vector<Bytes> sentTo (const juce::String& port) const
    {
        std::vector<Bytes> result;

        for (const auto& s : sent())
            if (s.port == port)
                result.push_back (s.bytes);

        return result;
    }

    // Delivers a message to the callback of every started input of that name.
    void answer (const juce::String& port, const juce::MidiMessage& message)
    {
        for (auto* input : openInputs)
            if (input->name == port && input->started)
                input->callback.handleIncomingMidiMessage (nullptr, message);
    }

    //==============================================================================
    // An open output; it knows which ports opened it, and at which of their positions.
    class Output : public fenz::MidiOutputPort
    {
    public:
        Output (FakeMidiPorts& o, int i, juce::String n, juce::String id)
            : owner (o), index (i), name (std::move (n)), identifier (std::move (id))
        {
            ++owner.liveOutputs;
            owner.log.add ("open " + name);
        }

        ~Output() override
        {
            --owner.liveOutputs;
            ++owner.numOutputCloses;
            owner.log.add ("close " + name);

            if (sentSomething && owner.leaveWhenClosed.contains (name))
                owner.leave (identifier);
        }

        void sendMessageNow (const juce::MidiMessage& message) override
        {
            owner.calls.push_back ({ name, false, {}, { take (message) } });
        }

        void sendBlockOfMessagesNow (const juce::MidiBuffer& buffer) override
        {
            Call call { name, true, {}, {} };

            for (const auto metadata : buffer)
            {
                call.samplePositions.push_back (metadata.samplePosition);
                call.messages.push_back (take (metadata.getMessage()));
            }

            owner.calls.push_back (std::move (call));
        }

        FakeMidiPorts& owner;
        const int index;
        const juce::String name, identifier;

    private:
        Bytes take (const juce::MidiMessage& m)
        {
            owner.log.add (juce::String::toHexString (m.getRawData(), m.getRawDataSize()));
            sentSomething = true;
            return { m.getRawData(), m.getRawData() + m.getRawDataSize() };
        }

        bool sentSomething = false;
    };

    // An open input, delivering to its callback what answer() gives while it is started.
    class Input : public fenz::MidiInputPort
    {
    public:
        Input (FakeMidiPorts& o, int i, juce::String n, juce::MidiInputCallback& c)
            : owner (o), index (i), name (std::move (n)), callback (c)
        {
            ++owner.liveInputs;
            owner.openInputs.push_back (this);
        }

        ~Input() override
        {
            --owner.liveInputs;
            owner.openInputs.erase (std::find (owner.openInputs.begin(), owner.openInputs.end(), this));
        }

        void start() override  { started = true; }
        void stop() override   { started = false; }

        FakeMidiPorts& owner;
        const int index;
        const juce::String name;
        juce::MidiInputCallback& callback;
        bool started = false;
    };

    //==============================================================================
    juce::StringArray getOutputNames() override
    {
        ++numOutputListings;

        if (onListOutputs != nullptr)
            onListOutputs();

        return outputs;
    }

    juce::StringArray getInputNames() override
    {
        if (onListInputs != nullptr)
            onListInputs();

        return inputs;
    }

    juce::Array<fenz::MidiOutputInfo> getOutputs() override
    {
        if (identifiers.isEmpty())
            return fenz::MidiPortProvider::getOutputs();

        if (onListOutputs != nullptr)
            onListOutputs();

        return numbered (outputs, identifiers, "outputs");
    }

    juce::Array<fenz::MidiInputInfo> getInputs() override
    {
        if (inputIdentifiers.isEmpty())
            return fenz::MidiPortProvider::getInputs();

        if (onListInputs != nullptr)
            onListInputs();

        return numbered (inputs, inputIdentifiers, "inputs");
    }

    std::unique_ptr<fenz::MidiOutputPort> openOutput (int index) override
    {
        ++numOutputOpens;

        if (! juce::isPositiveAndBelow (index, outputs.size()) || refusedOutputs.contains (outputs[index]))
            return nullptr;

        openedOutputs.add (outputs[index]);
        lastOpenedOutput = index;
        return std::make_unique<Output> (*this, index, outputs[index], identifiers[index]);
    }

    std::unique_ptr<fenz::MidiInputPort> openInput (int index, juce::MidiInputCallback& callback) override
    {
        ++numInputOpens;

        if (! juce::isPositiveAndBelow (index, inputs.size()) || refusedInputs.contains (inputs[index]))
            return nullptr;

        openedInputs.add (inputs[index]);
        return std::make_unique<Input> (*this, index, inputs[index], callback);
    }

private:
    // The ports with the identifiers they were numbered with, which must still be one each.
    static juce::Array<fenz::MidiPortInfo> numbered (const juce::StringArray& names, const juce::StringArray& ids,
                                                     const char* what)
    {
        EXPECT_EQ (ids.size(), names.size()) << "the " << what << " changed after they were numbered";
        juce::Array<fenz::MidiPortInfo> listed;

        for (int i = 0; i < names.size(); ++i)
            listed.add ({ names[i], ids[i] });

        return listed;
    }

    void leave (const juce::String& identifier)
    {
        const auto at = identifier.isEmpty() ? -1 : identifiers.indexOf (identifier);

        if (at < 0)
        {
            ADD_FAILURE() << "an output leaves the list only with an identifier of its own (numberOutputs)";
            return;
        }

        outputs.remove (at);
        identifiers.remove (at);
    }

    const Installed installed;
    std::vector<Input*> openInputs;

    JUCE_DECLARE_NON_COPYABLE (FakeMidiPorts)
};

} // namespace testsupport
