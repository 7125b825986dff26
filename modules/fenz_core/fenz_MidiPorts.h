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

// One port as listed: its name, and what opens exactly that port later on.
struct MidiPortInfo
{
    juce::String name, identifier;
};

using MidiOutputInfo = MidiPortInfo;
using MidiInputInfo = MidiPortInfo;

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

    /** The same for the inputs, in the order of getInputNames(). */
    virtual juce::Array<MidiInputInfo> getInputs();
    virtual std::unique_ptr<MidiInputPort> openInputWithIdentifier (const juce::String& identifier,
                                                                    juce::MidiInputCallback& callback);
};

// The one way the whole program lists and opens MIDI ports. The port lists are the system
// provider's ports followed by those of every added provider, in the order they were added.
// A port is opened by a position in a list or by its identifier; only the identifier still
// names the same port once others have come or gone since the list was taken.
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

    juce::Array<MidiInputInfo> getInputs();
    std::unique_ptr<MidiInputPort> openInputWithIdentifier (const juce::String& identifier, juce::MidiInputCallback& callback);

    /** The identifier of the first output (input) listed with exactly this name, letter case
        and blanks included; empty when none is. A port looked up by name is opened by this,
        not by its position: ports that come or go in between would move a position onto
        another port. */
    juce::String findOutputIdentifier (const juce::String& name);
    juce::String findInputIdentifier (const juce::String& name);

    /** Replaces the system provider (JUCE's MIDI devices by default); null restores it. */
    void setSystemProvider (MidiPortProvider* provider);
    /** Adds a provider behind the system's; it is not owned and must be removed before it dies. */
    void addProvider (MidiPortProvider* provider);
    void removeProvider (MidiPortProvider* provider);
}

} // namespace fenz
