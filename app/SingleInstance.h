#pragma once

#include <juce_events/juce_events.h>
#include <functional>
#include <memory>

// One running instance per user and application. The lock and the pipe that carries a later
// start's command line over to the running instance lie in a folder of the user's alone: the
// runtime folder the system gives the user (XDG_RUNTIME_DIR), else one named with the user id
// in the temporary folder; their names are made from the application's name. What arrives
// through the pipe is checked before it is believed: anything malformed or too long is
// dropped, and the listener goes on listening.
//
// Where no such folder can be had (the one named with the user id is another user's, or a
// link) or the lock cannot be made, this instance cannot tell whether another one runs, and
// says why: it must not go on as if it were the only one, as two instances would then drive
// one device.
class SingleInstance
{
public:
    /** Takes the lock of the named application in the user's folder. */
    explicit SingleInstance (const juce::String& applicationName);
    /** The same in the given folder, which must be the user's alone; none is a problem. */
    SingleInstance (const juce::String& applicationName, juce::File folder);
    ~SingleInstance();

    /** True when another instance of the same user and application holds the lock. */
    bool isAnotherInstanceRunning() const noexcept  { return anotherIsRunning; }

    /** Why this instance cannot tell whether another one runs; empty when it can (it holds
        the lock, or another instance does). */
    const juce::String& getLockProblem() const noexcept  { return lockProblem; }

    /** In a later instance: hands the command line over to the running one. False when it
        could not be delivered. */
    bool tellRunningInstance (const juce::String& commandLine);

    /** In the running instance: from now on each command line handed over is passed to the
        callback on the message thread, until this object is deleted. */
    bool listen (std::function<void (const juce::String& commandLine)> onAnotherInstanceStarted);

    /** The user's private folder for the lock and the pipe, made when it is not there; File()
        when there is none that only the user may read and write, with the reason in whyNone. */
    static juce::File findUserFolder (juce::String& whyNone);
    static juce::File findUserFolder();

    /** Where the lock and the pipe of the application lie in the folder; the pipe is the two
        FIFOs of the framework's named pipe, this path followed by "_in" and "_out". The name's
        letters and digits stay as they are, every other byte of its UTF-8 becomes "_" and two
        hex digits, so that no two names share a lock. */
    static juce::File lockFileIn (const juce::File& folder, const juce::String& applicationName);
    static juce::File pipePathIn (const juce::File& folder, const juce::String& applicationName);
    static juce::String fileNameFor (const juce::String& applicationName);

    /** A message of the hand-over: the magic bytes "KsHo", the payload's length as 4 bytes,
        lowest first, and the payload, the application's name, '/' and the command line. */
    static juce::MemoryBlock encodeMessage (const juce::String& applicationName, const juce::String& commandLine);
    static constexpr int maxPayloadBytes = 16384;

private:
    class Listener;

    void takeLock();

    const juce::String applicationName;
    juce::File folder;
    int lockHandle = -1;
    bool anotherIsRunning = false;
    juce::String lockProblem;
    std::unique_ptr<Listener> listener;

    JUCE_DECLARE_NON_COPYABLE (SingleInstance)
};
