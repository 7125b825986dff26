#pragma once

#include "fenz_MidiPorts.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace firmwaretest
{

// A replacement for the machine's MIDI devices, for the upgrade steps: the input and output
// names a test lists, any of which may be listed and yet refuse to open. It keeps what was
// sent on each output and can answer on the started inputs of a name, as a device would. Used
// on the message thread only.
struct FakePorts : public fenz::MidiPortProvider
{
    FakePorts()            { fenz::MidiPorts::setSystemProvider (this); }
    ~FakePorts() override  { fenz::MidiPorts::setSystemProvider (nullptr); }

    struct Sent
    {
        juce::String port;
        std::vector<juce::uint8> bytes;
    };

    juce::StringArray inputs, outputs;
    juce::StringArray refusedInputs, refusedOutputs;    // listed, but never open

    std::vector<Sent> sent;
    juce::StringArray openedInputs, openedOutputs;      // every successful open, in order
    int liveInputs = 0, liveOutputs = 0;                // ports open right now

    // Called each time the inputs are listed, before the list is given.
    std::function<void()> onListInputs;

    std::vector<Sent> sentTo (const juce::String& port) const
    {
        std::vector<Sent> result;

        for (const auto& s : sent)
            if (s.port == port)
                result.push_back (s);

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
    juce::StringArray getOutputNames() override  { return outputs; }
    juce::StringArray getInputNames() override
    {
        if (onListInputs != nullptr)
            onListInputs();

        return inputs;
    }

    std::unique_ptr<fenz::MidiOutputPort> openOutput (int index) override
    {
        if (! juce::isPositiveAndBelow (index, outputs.size()) || refusedOutputs.contains (outputs[index]))
            return nullptr;

        openedOutputs.add (outputs[index]);
        return std::make_unique<Output> (*this, outputs[index]);
    }

    std::unique_ptr<fenz::MidiInputPort> openInput (int index, juce::MidiInputCallback& callback) override
    {
        if (! juce::isPositiveAndBelow (index, inputs.size()) || refusedInputs.contains (inputs[index]))
            return nullptr;

        openedInputs.add (inputs[index]);
        return std::make_unique<Input> (*this, inputs[index], callback);
    }

private:
    struct Output : public fenz::MidiOutputPort
    {
        Output (FakePorts& o, juce::String n) : owner (o), name (std::move (n))  { ++owner.liveOutputs; }
        ~Output() override  { --owner.liveOutputs; }

        void sendMessageNow (const juce::MidiMessage& message) override
        {
            owner.sent.push_back ({ name, { message.getRawData(), message.getRawData() + message.getRawDataSize() } });
        }

        void sendBlockOfMessagesNow (const juce::MidiBuffer& buffer) override
        {
            for (const auto metadata : buffer)
                sendMessageNow (metadata.getMessage());
        }

        FakePorts& owner;
        const juce::String name;
    };

    struct Input : public fenz::MidiInputPort
    {
        Input (FakePorts& o, juce::String n, juce::MidiInputCallback& c)
            : owner (o), name (std::move (n)), callback (c)
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

        FakePorts& owner;
        const juce::String name;
        juce::MidiInputCallback& callback;
        bool started = false;
    };

    std::vector<Input*> openInputs;
};

} // namespace firmwaretest
