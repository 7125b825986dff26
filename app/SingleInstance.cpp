#include "SingleInstance.h"

#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
    const char magic[4] = { 'K', 's', 'H', 'o' };

    bool isPrivateFolderOfUser (const juce::File& folder)
    {
        struct stat info {};
        return lstat (folder.getFullPathName().toRawUTF8(), &info) == 0 && S_ISDIR (info.st_mode)
                && info.st_uid == getuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
    }
}

//==============================================================================
// Reads the pipe on a thread of its own, one byte at a time (the framework's pipe read gives
// up whatever it has read so far when it times out before its buffer is full), and takes
// whole messages out of what has arrived.
class SingleInstance::Listener : private juce::Thread
{
public:
    Listener (const juce::String& applicationName, std::function<void (const juce::String&)> callback)
        : juce::Thread ("Instance hand-over"),
          applicationPrefix (applicationName + "/"),
          onHandOver (std::make_shared<std::function<void (const juce::String&)>> (std::move (callback)))
    {
    }

    ~Listener() override
    {
        signalThreadShouldExit();
        pipe.close();
        stopThread (2000);
    }

    bool start (const juce::File& pipePath)
    {
        if (! pipe.createNewPipe (pipePath.getFullPathName(), false))
            return false;

        for (auto* end : { "_in", "_out" })
            chmod ((pipePath.getFullPathName() + end).toRawUTF8(), S_IRUSR | S_IWUSR);

        startThread();
        return true;
    }

private:
    const juce::String applicationPrefix;
    juce::NamedPipe pipe;
    juce::MemoryBlock pending;
    std::shared_ptr<std::function<void (const juce::String&)>> onHandOver;

    void run() override
    {
        auto lastArrival = juce::Time::getMillisecondCounter();

        while (! threadShouldExit())
        {
            char byte = 0;

            if (pipe.read (&byte, 1, 100) == 1)
            {
                pending.append (&byte, 1);
                lastArrival = juce::Time::getMillisecondCounter();
                takeMessages();
                continue;
            }

            // A message cut off by a writer that went away: look for the next one after its
            // first byte.
            if (pending.getSize() > 0 && juce::Time::getMillisecondCounter() - lastArrival > 1000)
            {
                pending.removeSection (0, 1);
                takeMessages();
            }
        }
    }

    void takeMessages()
    {
        for (;;)
        {
            const auto* bytes = static_cast<const juce::uint8*> (pending.getData());
            const auto size = pending.getSize();

            // Junk before a message is dropped; the last three bytes may yet begin one.
            size_t start = 0;

            while (start + 4 <= size && std::memcmp (bytes + start, magic, 4) != 0)
                ++start;

            if (start + 4 > size)
                start = size > 3 ? size - 3 : 0;

            if (start > 0)
            {
                pending.removeSection (0, start);
                continue;
            }

            if (size < 8)
                return;

            const auto length = (juce::uint32) bytes[4] | ((juce::uint32) bytes[5] << 8)
                              | ((juce::uint32) bytes[6] << 16) | ((juce::uint32) bytes[7] << 24);

            // No command line is that long: the header is junk, and what follows is looked at
            // afresh.
            if (length > (juce::uint32) maxPayloadBytes)
            {
                pending.removeSection (0, 1);
                continue;
            }

            if (size < 8 + (size_t) length)
                return;

            deliver (reinterpret_cast<const char*> (bytes + 8), (int) length);
            pending.removeSection (0, 8 + (size_t) length);
        }
    }

    void deliver (const char* payload, int length)
    {
        if (! juce::CharPointer_UTF8::isValidString (payload, length))
            return;

        const auto text = juce::String (juce::CharPointer_UTF8 (payload), juce::CharPointer_UTF8 (payload + length));

        if (! text.startsWith (applicationPrefix))
            return;

        std::weak_ptr<std::function<void (const juce::String&)>> callback = onHandOver;

        juce::MessageManager::callAsync ([callback, commandLine = text.substring (applicationPrefix.length())]
        {
            if (auto f = callback.lock())
                (*f) (commandLine);
        });
    }
};

//==============================================================================
SingleInstance::SingleInstance (const juce::String& name, juce::File privateFolder)
    : applicationName (name), folder (std::move (privateFolder))
{
    if (folder == juce::File())
        return;

    lockHandle = open (lockFileIn (folder).getFullPathName().toRawUTF8(),
                       O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);

    if (lockHandle < 0)
        return;

    int result;
    while ((result = flock (lockHandle, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {}

    if (result != 0)
    {
        anotherIsRunning = (errno == EWOULDBLOCK);
        close (lockHandle);
        lockHandle = -1;
    }
}

SingleInstance::~SingleInstance()
{
    listener = nullptr;

    if (lockHandle >= 0)
        close (lockHandle);
}

bool SingleInstance::listen (std::function<void (const juce::String&)> onAnotherInstanceStarted)
{
    if (lockHandle < 0)
        return false;

    listener = std::make_unique<Listener> (applicationName, std::move (onAnotherInstanceStarted));

    if (! listener->start (pipePathIn (folder)))
    {
        listener = nullptr;
        return false;
    }

    return true;
}

bool SingleInstance::tellRunningInstance (const juce::String& commandLine)
{
    if (folder == juce::File())
        return false;

    // The running instance may have taken the lock a moment ago and not be listening yet.
    juce::NamedPipe pipe;
    const auto giveUpAt = juce::Time::getMillisecondCounter() + 2000;

    while (! pipe.openExisting (pipePathIn (folder).getFullPathName()))
        if (juce::Time::getMillisecondCounter() >= giveUpAt)
            return false;

    const auto message = encodeMessage (applicationName, commandLine);
    return pipe.write (message.getData(), (int) message.getSize(), 1000) == (int) message.getSize();
}

juce::MemoryBlock SingleInstance::encodeMessage (const juce::String& name, const juce::String& commandLine)
{
    auto payload = name + "/" + commandLine;

    // The running instance reads no command line; one too long to carry is cut short.
    while ((int) payload.getNumBytesAsUTF8() > maxPayloadBytes)
        payload = payload.dropLastCharacters (juce::jmax (1, ((int) payload.getNumBytesAsUTF8() - maxPayloadBytes) / 4));

    const auto length = (juce::uint32) payload.getNumBytesAsUTF8();
    const juce::uint8 header[8] = { (juce::uint8) magic[0], (juce::uint8) magic[1], (juce::uint8) magic[2], (juce::uint8) magic[3],
                                    (juce::uint8) length, (juce::uint8) (length >> 8),
                                    (juce::uint8) (length >> 16), (juce::uint8) (length >> 24) };

    juce::MemoryBlock message (header, sizeof (header));
    message.append (payload.toRawUTF8(), length);
    return message;
}

juce::File SingleInstance::findUserFolder()
{
    const auto runtime = juce::SystemStats::getEnvironmentVariable ("XDG_RUNTIME_DIR", {});

    if (juce::File::isAbsolutePath (runtime) && isPrivateFolderOfUser (juce::File (runtime)))
        return juce::File (runtime);

    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getChildFile ("kestal-" + juce::String ((juce::int64) getuid()));

    mkdir (folder.getFullPathName().toRawUTF8(), S_IRWXU);

    if (isPrivateFolderOfUser (folder))
        return folder;

    // The user's own folder, made open to others: closed again. One of another user's, or a
    // link, is never used.
    struct stat info {};

    if (lstat (folder.getFullPathName().toRawUTF8(), &info) == 0 && S_ISDIR (info.st_mode)
         && info.st_uid == getuid() && chmod (folder.getFullPathName().toRawUTF8(), S_IRWXU) == 0)
        return folder;

    return {};
}
