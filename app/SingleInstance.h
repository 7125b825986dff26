#pragma once

#include <juce_events/juce_events.h>
#include <functional>
#include <memory>

// One running instance per user. The lock and the pipe that carries a later start's command
// line over to the running instance lie in a folder of the user's alone: the runtime folder the
// system gives the user (XDG_RUNTIME_DIR), else one named with the user id in the temporary
// folder. What arrives through the pipe is checked before it is believed: anything malformed or
// too long is dropped, and the listener goes on listening.
class SingleInstance
{
public:
    /** Takes the lock of the named application in the user's folder, or in the given one. */
    explicit SingleInstance (const juce::String& applicationName, juce::File folder = findUserFolder());
    ~SingleInstance();

    /** True when another instance of the same user holds the lock. Without a private folder,
        or when the lock cannot be made, this instance counts as the only one. */
    bool isAnotherInstanceRunning() const noexcept  { return anotherIsRunning; }

    /** In a later instance: hands the command line over to the running one. False when it
        could not be delivered. */
    bool tellRunningInstance (const juce::String& commandLine);

    /** In the running instance: from now on each command line handed over is passed to the
        callback on the message thread, until this object is deleted. */
    bool listen (std::function<void (const juce::String& commandLine)> onAnotherInstanceStarted);

    /** The user's private folder for the lock and the pipe, made when it is not there; File()
        when there is none that only the user may read and write. */
    static juce::File findUserFolder();

    /** Where the lock and the pipe lie in the folder; the pipe is the two FIFOs of the
        framework's named pipe, this path followed by "_in" and "_out". */
    static juce::File lockFileIn (const juce::File& folder)  { return folder.getChildFile ("TamrelOstrelPelto.lock"); }
    static juce::File pipePathIn (const juce::File& folder)  { return folder.getChildFile ("TamrelOstrelPelto.pipe"); }

    /** A message of the hand-over: the magic bytes "KsHo", the payload's length as 4 bytes,
        lowest first, and the payload, the application's name, '/' and the command line. */
    static juce::MemoryBlock encodeMessage (const juce::String& applicationName, const juce::String& commandLine);
    static constexpr int maxPayloadBytes = 16384;

private:
    class Listener;

    const juce::String applicationName;
    juce::File folder;
    int lockHandle = -1;
    bool anotherIsRunning = false;
    std::unique_ptr<Listener> listener;

    JUCE_DECLARE_NON_COPYABLE (SingleInstance)
};
