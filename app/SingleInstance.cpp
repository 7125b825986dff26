#include "SingleInstance.h"
#include "fenz_Text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
    const char magic[4] = { 'K', 's', 'H', 'o' };

    juce::String systemError (int error)  { return juce::String (std::strerror (error)); }

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
SingleInstance::SingleInstance (const juce::String& name)
    : applicationName (name)
{
    folder = findUserFolder (lockProblem);

    if (folder == juce::File())
        lockProblem = lockProblem.isNotEmpty() ? lockProblem : "there is no folder for its lock";
    else
        takeLock();
}

SingleInstance::SingleInstance (const juce::String& name, juce::File privateFolder)
    : applicationName (name), folder (std::move (privateFolder))
{
    if (folder == juce::File())
        lockProblem = "there is no folder for its lock";
    else
        takeLock();
}

void SingleInstance::takeLock()
{
    const auto lockFile = lockFileIn (folder, applicationName);
    lockHandle = open (lockFile.getFullPathName().toRawUTF8(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);

    if (lockHandle < 0)
    {
        const auto error = errno;
        lockProblem = "its lock " + lockFile.getFullPathName() + " cannot be opened (" + systemError (error) + ")";
        return;
    }

    int result;
    while ((result = flock (lockHandle, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {}

    if (result != 0)
    {
        const auto error = errno;
        anotherIsRunning = (error == EWOULDBLOCK);

        if (! anotherIsRunning)
            lockProblem = "its lock " + lockFile.getFullPathName() + " cannot be taken (" + systemError (error) + ")";

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

    if (! listener->start (pipePathIn (folder, applicationName)))
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

    while (! pipe.openExisting (pipePathIn (folder, applicationName).getFullPathName()))
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
    juce::String whyNone;
    return findUserFolder (whyNone);
}

juce::File SingleInstance::findUserFolder (juce::String& whyNone)
{
    whyNone = {};
    const auto runtime = fenz::environmentText ("XDG_RUNTIME_DIR");

    if (juce::File::isAbsolutePath (runtime) && isPrivateFolderOfUser (juce::File (runtime)))
        return juce::File (runtime);

    const auto folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                          .getChildFile ("kestal-" + juce::String ((juce::int64) getuid()));
    const auto path = folder.getFullPathName();

    if (mkdir (path.toRawUTF8(), S_IRWXU) != 0 && errno != EEXIST)
    {
        const auto error = errno;
        whyNone = "the folder " + path + " for its lock cannot be made (" + systemError (error) + ")";
        return {};
    }

    if (isPrivateFolderOfUser (folder))
        return folder;

    // The user's own folder, made open to others: closed again. One of another user's, or a
    // link, is never used; the name is anyone's to take first, so nothing else is taken in its
    // place: each start of the user's would have to find the same one.
    struct stat info {};
    const auto looked = lstat (path.toRawUTF8(), &info);
    const auto lookError = errno;

    if (looked != 0)
        whyNone = "the folder " + path + " for its lock cannot be looked at (" + systemError (lookError) + ")";
    else if (S_ISLNK (info.st_mode))
        whyNone = path + ", the folder for its lock, is a link";
    else if (! S_ISDIR (info.st_mode))
        whyNone = path + ", the folder for its lock, is not a folder";
    else if (info.st_uid != getuid())
        whyNone = path + ", the folder for its lock, belongs to another user";
    else if (chmod (path.toRawUTF8(), S_IRWXU) == 0)
        return folder;
    else
    {
        const auto closeError = errno;
        whyNone = path + ", the folder for its lock, is open to other users and cannot be closed ("
                    + systemError (closeError) + ")";
    }

    return {};
}

juce::String SingleInstance::fileNameFor (const juce::String& name)
{
    juce::String fileName;

    for (const auto* c = name.toRawUTF8(); *c != 0; ++c)
    {
        const auto byte = (unsigned char) *c;

        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9'))
            fileName << (char) byte;
        else
            fileName << "_" << juce::String::toHexString ((int) byte).paddedLeft ('0', 2).toUpperCase();
    }

    return fileName;
}

juce::File SingleInstance::lockFileIn (const juce::File& f, const juce::String& name)
{
    return f.getChildFile (fileNameFor (name) + ".lock");
}

juce::File SingleInstance::pipePathIn (const juce::File& f, const juce::String& name)
{
    return f.getChildFile (fileNameFor (name) + ".pipe");
}
