#include "QuitSignals.h"

#if ! JUCE_WINDOWS
 #include <csignal>
 #include <iterator>
#endif

namespace
{
   #if ! JUCE_WINDOWS
    // All a signal handler may safely do is set a flag; the message thread looks at it.
    volatile std::sig_atomic_t quitSignalled = 0;

    void noteQuitSignal (int)  { quitSignalled = 1; }

    constexpr int handledSignals[] { SIGINT, SIGTERM };
    struct sigaction previousActions[std::size (handledSignals)];
   #endif

    constexpr int pollIntervalMs = 50;
}

QuitSignals::QuitSignals (std::function<void()> callback) : onQuitRequested (std::move (callback))
{
   #if ! JUCE_WINDOWS
    quitSignalled = 0;

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
    if (quitSignalled == 0)
        return;

    quitSignalled = 0;

    if (onQuitRequested != nullptr)
        onQuitRequested();
   #endif
}
