#pragma once

#include <juce_audio_devices/juce_audio_devices.h>
#include <memory>

namespace fenz
{

// An open MIDI output. Deleting it closes the port.
class MidiOutputPort
{
public:
    virtual ~MidiOutputPort() = default;
    virtual void sendMessageNow (const juce::MidiMessage& message) = 0;
    virtual void sendBlockOfMessagesNow (const juce::MidiBuffer& buffer) = 0;
};

// An open MIDI input that delivers to the callback given when it was opened, between start()
// and stop(). Deleting it closes the port. The source handed to the callback may be null.
class MidiInputPort
{
public:
    virtual ~MidiInputPort() = default;
    virtual void start() = 0;
    virtual void stop() = 0;
};

// One output as listed: its name, and what opens exactly that port later on.
struct MidiOutputInfo
{
    juce::String name, identifier;
};

// A source of MIDI ports: the system's own devices, or a simulated device.
class MidiPortProvider
{
public:
    virtual ~MidiPortProvider() = default;
    virtual juce::StringArray getOutputNames() = 0;
    virtual juce::StringArray getInputNames() = 0;
    /** index is a position in this provider's own output list; null when it cannot be opened. */
    virtual std::unique_ptr<MidiOutputPort> openOutput (int index) = 0;
    virtual std::unique_ptr<MidiInputPort> openInput (int index, juce::MidiInputCallback& callback) = 0;

    /** The outputs in the order of getOutputNames(), each with an identifier that is the port's
        own for as long as it is listed, whatever comes and goes around it; names and
        identifiers from one listing. By default the identifier is the name and its place among
        equal names, which only holds while the list stays as it is: a provider whose ports come
        and go gives identifiers of its own. */
    virtual juce::Array<MidiOutputInfo> getOutputs();

    /** The output that has this identifier now; null when none has or it cannot be opened. */
    virtual std::unique_ptr<MidiOutputPort> openOutputWithIdentifier (const juce::String& identifier);
};

// The one way the whole program lists and opens MIDI ports. The port lists are the system
// provider's ports followed by those of every added provider, in the order they were added;
// a position in a list is what the open functions take.
namespace MidiPorts
{
    juce::StringArray getOutputNames();
    juce::StringArray getInputNames();

    /** The output (or input) names in the list's order, each exact name once (the first one
        stays), without empty or blank names: the names to offer a user, not positions to open. */
    juce::StringArray getDistinctOutputNames();
    juce::StringArray getDistinctInputNames();

    std::unique_ptr<MidiOutputPort> openOutput (int index);
    std::unique_ptr<MidiInputPort> openInput (int index, juce::MidiInputCallback& callback);

    /** The outputs with their identifiers, in the order of getOutputNames(). Unlike a position,
        an identifier opens the port it was listed for or none, even once ports before it in
        the list have gone. */
    juce::Array<MidiOutputInfo> getOutputs();
    std::unique_ptr<MidiOutputPort> openOutputWithIdentifier (const juce::String& identifier);

    /** Replaces the system provider (JUCE's MIDI devices by default); null restores it. */
    void setSystemProvider (MidiPortProvider* provider);
    /** Adds a provider behind the system's; it is not owned and must be removed before it dies. */
    void addProvider (MidiPortProvider* provider);
    void removeProvider (MidiPortProvider* provider);
}

} // namespace fenz
