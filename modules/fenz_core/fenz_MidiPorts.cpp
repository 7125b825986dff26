#include "fenz_MidiPorts.h"

#include <algorithm>
#include <vector>

#if JUCE_LINUX && JUCE_ALSA
 #include <alsa/asoundlib.h>
#endif

namespace fenz
{

namespace
{

#if JUCE_LINUX && JUCE_ALSA
// libasound reports every failed attempt to reach the sequencer on stderr ("ALSA lib ...
// cannot open ..."), which on a machine without sound devices happens on each port listing.
void ignoreAlsaError (const char*, int, const char*, int, const char*, ...) {}
#endif

// Called before every use of JUCE's MIDI classes rather than once: JUCE's ALSA audio device
// type puts libasound's default (printing) handler back when it is destroyed.
void quietenSystemMidi()
{
   #if JUCE_LINUX && JUCE_ALSA
    snd_lib_error_set_handler (&ignoreAlsaError);
   #endif
}

//==============================================================================
class SystemOutputPort final : public MidiOutputPort
{
public:
    explicit SystemOutputPort (std::unique_ptr<juce::MidiOutput> o) : output (std::move (o)) {}

    void sendMessageNow (const juce::MidiMessage& message) override        { output->sendMessageNow (message); }
    void sendBlockOfMessagesNow (const juce::MidiBuffer& buffer) override  { output->sendBlockOfMessagesNow (buffer); }

private:
    std::unique_ptr<juce::MidiOutput> output;
};

class SystemInputPort final : public MidiInputPort
{
public:
    explicit SystemInputPort (std::unique_ptr<juce::MidiInput> i) : input (std::move (i)) {}

    void start() override  { input->start(); }
    void stop() override   { input->stop(); }

private:
    std::unique_ptr<juce::MidiInput> input;
};

// The machine's own MIDI devices, exactly as JUCE lists and opens them.
class SystemMidiProvider final : public MidiPortProvider
{
public:
    juce::StringArray getOutputNames() override
    {
        quietenSystemMidi();
        return namesOf (juce::MidiOutput::getAvailableDevices());
    }

    juce::StringArray getInputNames() override
    {
        quietenSystemMidi();
        return namesOf (juce::MidiInput::getAvailableDevices());
    }

    std::unique_ptr<MidiOutputPort> openOutput (int index) override
    {
        quietenSystemMidi();
        const auto devices = juce::MidiOutput::getAvailableDevices();

        if (! juce::isPositiveAndBelow (index, devices.size()))
            return nullptr;

        if (auto output = juce::MidiOutput::openDevice (devices.getReference (index).identifier))
            return std::make_unique<SystemOutputPort> (std::move (output));

        return nullptr;
    }

    std::unique_ptr<MidiInputPort> openInput (int index, juce::MidiInputCallback& callback) override
    {
        quietenSystemMidi();
        const auto devices = juce::MidiInput::getAvailableDevices();

        if (! juce::isPositiveAndBelow (index, devices.size()))
            return nullptr;

        if (auto input = juce::MidiInput::openDevice (devices.getReference (index).identifier, &callback))
            return std::make_unique<SystemInputPort> (std::move (input));

        return nullptr;
    }

    juce::Array<MidiOutputInfo> getOutputs() override
    {
        quietenSystemMidi();
        return infosOf (juce::MidiOutput::getAvailableDevices());
    }

    std::unique_ptr<MidiOutputPort> openOutputWithIdentifier (const juce::String& identifier) override
    {
        quietenSystemMidi();

        for (const auto& device : juce::MidiOutput::getAvailableDevices())
            if (device.identifier == identifier)
                if (auto output = juce::MidiOutput::openDevice (identifier))
                    return std::make_unique<SystemOutputPort> (std::move (output));

        return nullptr;
    }

    juce::Array<MidiInputInfo> getInputs() override
    {
        quietenSystemMidi();
        return infosOf (juce::MidiInput::getAvailableDevices());
    }

    std::unique_ptr<MidiInputPort> openInputWithIdentifier (const juce::String& identifier,
                                                            juce::MidiInputCallback& callback) override
    {
        quietenSystemMidi();

        for (const auto& device : juce::MidiInput::getAvailableDevices())
            if (device.identifier == identifier)
                if (auto input = juce::MidiInput::openDevice (identifier, &callback))
                    return std::make_unique<SystemInputPort> (std::move (input));

        return nullptr;
    }

private:
    static juce::StringArray namesOf (const juce::Array<juce::MidiDeviceInfo>& devices)
    {
        juce::StringArray names;

        for (const auto& device : devices)
            names.add (device.name);

        return names;
    }

    static juce::Array<MidiPortInfo> infosOf (const juce::Array<juce::MidiDeviceInfo>& devices)
    {
        juce::Array<MidiPortInfo> infos;

        for (const auto& device : devices)
            infos.add ({ device.name, device.identifier });

        return infos;
    }
};

//==============================================================================
struct ProviderList
{
    juce::CriticalSection lock;
    MidiPortProvider* replacedSystem = nullptr;
    std::vector<MidiPortProvider*> added;

    static ProviderList& get()
    {
        static ProviderList list;
        return list;
    }

    // The system provider first, then the added ones in the order they came. Caller holds lock.
    std::vector<MidiPortProvider*> inOrder()
    {
        static SystemMidiProvider system;

        std::vector<MidiPortProvider*> providers;
        providers.reserve (added.size() + 1);
        providers.push_back (replacedSystem != nullptr ? replacedSystem : &system);
        providers.insert (providers.end(), added.begin(), added.end());
        return providers;
    }
};

enum class Direction { output, input };

juce::StringArray namesOf (MidiPortProvider& provider, Direction direction)
{
    return direction == Direction::output ? provider.getOutputNames() : provider.getInputNames();
}

juce::StringArray combinedNames (Direction direction)
{
    auto& list = ProviderList::get();
    const juce::ScopedLock sl (list.lock);

    juce::StringArray names;

    for (auto* provider : list.inOrder())
        names.addArray (namesOf (*provider, direction));

    return names;
}

juce::StringArray distinctNames (juce::StringArray names)
{
    // Some systems report one port more than once; letter case still tells ports apart.
    names.removeDuplicates (false);

    // A nameless port cannot be told from another or shown in a box. An empty text also
    // "contains only" white space.
    for (int i = names.size(); --i >= 0;)
        if (names[i].containsOnly (" \t\n\v\f\r"))
            names.remove (i);

    return names;
}

// Finds the provider that holds the given position of the combined list and calls open with
// that provider's own index. The list stays locked while the port opens, so that a provider
// cannot be removed in the middle of opening one of its ports.
template <typename Port, typename OpenFn>
std::unique_ptr<Port> openAt (int index, Direction direction, OpenFn&& open)
{
    if (index < 0)
        return nullptr;

    auto& list = ProviderList::get();
    const juce::ScopedLock sl (list.lock);

    for (auto* provider : list.inOrder())
    {
        const auto count = namesOf (*provider, direction).size();

        if (index < count)
            return open (*provider, index);

        index -= count;
    }

    return nullptr;
}

// A combined identifier names the provider as well, so that equal identifiers of two providers
// cannot be taken for one another.
juce::String providerPrefix (const MidiPortProvider& provider)
{
    return juce::String::toHexString ((juce::pointer_sized_int) &provider) + "/";
}

template <typename ListFn>
juce::Array<MidiPortInfo> combinedPorts (ListFn&& listOf)
{
    auto& list = ProviderList::get();
    const juce::ScopedLock sl (list.lock);

    juce::Array<MidiPortInfo> ports;

    for (auto* provider : list.inOrder())
        for (const auto& port : listOf (*provider))
            ports.add ({ port.name, providerPrefix (*provider) + port.identifier });

    return ports;
}

// The list stays locked while the port opens, as in openAt.
template <typename Port, typename OpenFn>
std::unique_ptr<Port> openIdentified (const juce::String& identifier, OpenFn&& open)
{
    auto& list = ProviderList::get();
    const juce::ScopedLock sl (list.lock);

    for (auto* provider : list.inOrder())
    {
        const auto prefix = providerPrefix (*provider);

        if (identifier.startsWith (prefix))
            return open (*provider, identifier.substring (prefix.length()));
    }

    return nullptr;
}

juce::String identifierOfFirst (const juce::Array<MidiPortInfo>& ports, const juce::String& name)
{
    for (const auto& port : ports)
        if (port.name == name)
            return port.identifier;

    return {};
}

// The identifiers a provider has without any of its own: the name and its place among equal
// names.
juce::Array<MidiPortInfo> identifiedByName (const juce::StringArray& names)
{
    juce::Array<MidiPortInfo> ports;

    for (int i = 0; i < names.size(); ++i)
    {
        int sameBefore = 0;

        for (int j = 0; j < i; ++j)
            sameBefore += names[j] == names[i] ? 1 : 0;

        ports.add ({ names[i], names[i] + "#" + juce::String (sameBefore) });
    }

    return ports;
}

int positionOf (const juce::Array<MidiPortInfo>& ports, const juce::String& identifier)
{
    for (int i = 0; i < ports.size(); ++i)
        if (ports.getReference (i).identifier == identifier)
            return i;

    return -1;
}

} // namespace

//==============================================================================
juce::Array<MidiOutputInfo> MidiPortProvider::getOutputs()
{
    return identifiedByName (getOutputNames());
}

std::unique_ptr<MidiOutputPort> MidiPortProvider::openOutputWithIdentifier (const juce::String& identifier)
{
    const auto at = positionOf (getOutputs(), identifier);
    return at < 0 ? nullptr : openOutput (at);
}

juce::Array<MidiInputInfo> MidiPortProvider::getInputs()
{
    return identifiedByName (getInputNames());
}

std::unique_ptr<MidiInputPort> MidiPortProvider::openInputWithIdentifier (const juce::String& identifier,
                                                                          juce::MidiInputCallback& callback)
{
    const auto at = positionOf (getInputs(), identifier);
    return at < 0 ? nullptr : openInput (at, callback);
}

//==============================================================================
namespace MidiPorts
{
    juce::StringArray getOutputNames()  { return combinedNames (Direction::output); }
    juce::StringArray getInputNames()   { return combinedNames (Direction::input); }

    juce::StringArray getDistinctOutputNames()  { return distinctNames (getOutputNames()); }
    juce::StringArray getDistinctInputNames()   { return distinctNames (getInputNames()); }

    std::unique_ptr<MidiOutputPort> openOutput (int index)
    {
        return openAt<MidiOutputPort> (index, Direction::output,
                                       [] (MidiPortProvider& p, int local) { return p.openOutput (local); });
    }

    std::unique_ptr<MidiInputPort> openInput (int index, juce::MidiInputCallback& callback)
    {
        return openAt<MidiInputPort> (index, Direction::input,
                                      [&callback] (MidiPortProvider& p, int local) { return p.openInput (local, callback); });
    }

    juce::Array<MidiOutputInfo> getOutputs()
    {
        return combinedPorts ([] (MidiPortProvider& p) { return p.getOutputs(); });
    }

    std::unique_ptr<MidiOutputPort> openOutputWithIdentifier (const juce::String& identifier)
    {
        return openIdentified<MidiOutputPort> (identifier, [] (MidiPortProvider& p, const juce::String& own)
                                                           { return p.openOutputWithIdentifier (own); });
    }

    juce::Array<MidiInputInfo> getInputs()
    {
        return combinedPorts ([] (MidiPortProvider& p) { return p.getInputs(); });
    }

    std::unique_ptr<MidiInputPort> openInputWithIdentifier (const juce::String& identifier, juce::MidiInputCallback& callback)
    {
        return openIdentified<MidiInputPort> (identifier, [&callback] (MidiPortProvider& p, const juce::String& own)
                                                          { return p.openInputWithIdentifier (own, callback); });
    }

    juce::String findOutputIdentifier (const juce::String& name)  { return identifierOfFirst (getOutputs(), name); }
    juce::String findInputIdentifier (const juce::String& name)   { return identifierOfFirst (getInputs(), name); }

    void setSystemProvider (MidiPortProvider* provider)
    {
        auto& list = ProviderList::get();
        const juce::ScopedLock sl (list.lock);
        list.replacedSystem = provider;
    }

    void addProvider (MidiPortProvider* provider)
    {
        if (provider == nullptr)
            return;

        auto& list = ProviderList::get();
        const juce::ScopedLock sl (list.lock);

        if (std::find (list.added.begin(), list.added.end(), provider) == list.added.end())
            list.added.push_back (provider);
    }

    void removeProvider (MidiPortProvider* provider)
    {
        auto& list = ProviderList::get();
        const juce::ScopedLock sl (list.lock);
        list.added.erase (std::remove (list.added.begin(), list.added.end(), provider), list.added.end());
    }
}

} // namespace fenz
