#include "fenz_Pause.h"

#include <juce_events/juce_events.h>
#include <thread>

#if JUCE_LINUX
 #include <cerrno>
 #include <ctime>
 #include <sys/prctl.h>
#endif

namespace fenz
{

#if JUCE_LINUX
namespace
{
    constexpr long long spinTailNanoseconds = 200000;

    long long nanosecondsNow() noexcept
    {
        timespec now {};
        clock_gettime (CLOCK_MONOTONIC, &now);
        return (long long) now.tv_sec * 1000000000LL + now.tv_nsec;
    }
}
#endif

void pauseFor (std::chrono::microseconds duration)
{
    if (duration.count() <= 0)
        return;

   #if JUCE_LINUX
    // The kernel may otherwise let a sleeping thread's timer run late by its slack (50 us by
    // default) to gather wake-ups; a paced transfer pays that on every message.
    thread_local const bool slackReduced = (prctl (PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0);
    juce::ignoreUnused (slackReduced);

    const auto deadline = nanosecondsNow() + (long long) duration.count() * 1000;

    // Even so, a virtual machine wakes a sleeper some 40 us late and now and then far later.
    // Sleeping until shortly before the deadline and spinning through the rest keeps each
    // pause within a microsecond or so of its length, for a tenth of a core while it lasts.
    const auto wake = deadline - spinTailNanoseconds;

    if (wake > nanosecondsNow())
    {
        const timespec until { (time_t) (wake / 1000000000LL), (long) (wake % 1000000000LL) };

        // An absolute deadline, so that a signal in between does not lengthen the pause.
        while (clock_nanosleep (CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {}
    }

    while (nanosecondsNow() < deadline) {}
   #else
    std::this_thread::sleep_until (std::chrono::steady_clock::now() + duration);
   #endif
}

void runMessageLoopFor (int milliseconds)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds (milliseconds);

    for (;;)
    {
        // Rounded up throughout: a run may last a little longer than asked, never shorter.
        const auto left = std::chrono::ceil<std::chrono::microseconds> (end - Clock::now());

        if (left.count() <= 0)
            return;

        // The framework's loop counts whole milliseconds of the wall clock and may end a little
        // early; what is left over is run again.
        const auto loopMilliseconds = (int) std::chrono::ceil<std::chrono::milliseconds> (left).count();

        if (! juce::MessageManager::getInstance()->runDispatchLoopUntil (loopMilliseconds))
        {
            pauseFor (std::chrono::ceil<std::chrono::microseconds> (end - Clock::now()));
            return;
        }
    }
}

} // namespace fenz
