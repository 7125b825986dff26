#pragma once

#include <juce_core/juce_core.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport
{

// A FIFO at the given place for the time of a test, and a watchdog for the code that is handed
// it. Opening a FIFO for reading waits for a writer, so code that wrongly does so would hang
// the test for ever: if the watchdog is still alive after a few seconds it opens the FIFO for
// writing and closes it again, which lets such a reader go on to an empty end, and notes that it
// had to. Whatever runs on the calling thread (the message thread among them) can be watched.
class FifoWatchdog : private juce::Thread
{
public:
    explicit FifoWatchdog (const juce::File& place, int patienceMs = 5000)
        : juce::Thread ("FIFO watchdog"), file (place), patience (patienceMs)
    {
        made = ::mkfifo (file.getFullPathName().toRawUTF8(), 0600) == 0;
        startThread();
    }

    ~FifoWatchdog() override
    {
        done.signal();
        stopThread (-1);
        ::unlink (file.getFullPathName().toRawUTF8());
    }

    bool wasMade() const noexcept           { return made; }

    // True once the watchdog had to release a reader that was waiting on the FIFO.
    bool hadToRelease() const noexcept      { return released; }

    const juce::File file;

private:
    void run() override
    {
        if (done.wait (patience))
            return;

        released = true;

        // A reader waiting in open makes the non-blocking open for writing succeed; until one
        // is there, it fails and is tried again.
        while (! done.wait (20))
        {
            const int fd = ::open (file.getFullPathName().toRawUTF8(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);

            if (fd >= 0)
                ::close (fd);
        }
    }

    const int patience;
    bool made = false;
    std::atomic<bool> released { false };
    juce::WaitableEvent done { true };
};

} // namespace testsupport
