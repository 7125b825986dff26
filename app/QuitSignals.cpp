#include "QuitSignals.h"

#if ! JUCE_WINDOWS
 #include <atomic>
 #include <csignal>
 #include <iterator>
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
    struct sigaction previousActions[std::size (handledSignals)];
   #endif

    constexpr int pollIntervalMs = 50;
}

QuitSignals::QuitSignals (std::function<void()> callback) : onQuitRequested (std::move (callback))
{
   #if ! JUCE_WINDOWS
    quitSignalled.store (0);

    struct sigaction action {};
    action.sa_handler = noteQuitSignal;
    sigemptyset (&action.sa_mask);

    for (size_t i = 0; i < std::size (handledSignals); ++i)
        sigaction (handledSignals[i], &action, &previousActions[i]);

    startTimer (pollIntervalMs);
   #endif
}

QuitSignals::~QuitSignals()
{
    stopTimer();

   #if ! JUCE_WINDOWS
    for (size_t i = 0; i < std::size (handledSignals); ++i)
        sigaction (handledSignals[i], &previousActions[i], nullptr);
   #endif
}

void QuitSignals::timerCallback()
{
   #if ! JUCE_WINDOWS
    if (quitSignalled.exchange (0) == 0)
        return;

    if (onQuitRequested != nullptr)
        onQuitRequested();
   #endif
}
