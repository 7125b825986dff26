#include "QuitSignals.h"

#if ! JUCE_WINDOWS
 #include <algorithm>
 #include <atomic>
 #include <csignal>
 #include <iterator>
 #include <vector>
#endif

namespace
{
   #if ! JUCE_WINDOWS
    // All a signal handler may safely do is set a flag, which the message thread looks at: a
    // lock-free atomic, as the handler may run on any thread.
    std::atomic<int> quitSignalled { 0 };
    static_assert (std::atomic<int>::is_always_lock_free);

    void noteQuitSignal (int)  { quitSignalled.store (1); }

    constexpr int handledSignals[] { SIGINT, SIGTERM };
   #endif

    constexpr int pollIntervalMs = 50;
}

#if ! JUCE_WINDOWS
// What this object's sigaction calls replaced, to be put back when it goes.
struct QuitSignals::Replaced
{
    struct sigaction actions[std::size (handledSignals)];
};

namespace
{
    // The living objects in the order they took the signals, the latest last. Only the message
    // thread makes and deletes them.
    std::vector<QuitSignals*>& liveObjects()
    {
        static std::vector<QuitSignals*> objects;
        return objects;
    }
}
#else
struct QuitSignals::Replaced {};
#endif

QuitSignals::QuitSignals (std::function<void()> callback) : onQuitRequested (std::move (callback))
{
   #if ! JUCE_WINDOWS
    quitSignalled.store (0);

    struct sigaction action {};
    action.sa_handler = noteQuitSignal;
    sigemptyset (&action.sa_mask);

    replaced = std::make_unique<Replaced>();

    for (size_t i = 0; i < std::size (handledSignals); ++i)
        sigaction (handledSignals[i], &action, &replaced->actions[i]);

    liveObjects().push_back (this);
    startTimer (pollIntervalMs);
   #endif
}

QuitSignals::~QuitSignals()
{
    stopTimer();

   #if ! JUCE_WINDOWS
    auto& objects = liveObjects();
    const auto self = std::find (objects.begin(), objects.end(), this);
    jassert (self != objects.end());

    if (self + 1 == objects.end())
    {
        // The latest: the handlers it replaced go back.
        for (size_t i = 0; i < std::size (handledSignals); ++i)
            sigaction (handledSignals[i], &replaced->actions[i], nullptr);
    }
    else if (self != objects.end())
    {
        // One taken over by a later object: that one replaced this one's handlers, and is to
        // put back, when it goes, what this one replaced.
        (*(self + 1))->replaced = std::move (replaced);
    }

    if (self != objects.end())
        objects.erase (self);
   #endif
}

void QuitSignals::timerCallback()
{
   #if ! JUCE_WINDOWS
    // The signals are the latest object's; the others wait until it has gone.
    if (liveObjects().empty() || liveObjects().back() != this)
        return;

    if (quitSignalled.exchange (0) == 0)
        return;

    if (onQuitRequested != nullptr)
        onQuitRequested();
   #endif
}
