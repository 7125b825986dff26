#include "fenz_Pause.h"

#include <juce_core/juce_core.h>
#include <thread>

#if JUCE_LINUX
 #include <cerrno>
 #include <ctime>
 #include <sys/prctl.h>
#endif

namespace fenz
{

void pauseFor (std::chrono::microseconds duration)
{
    if (duration.count() <= 0)
        return;

   #if JUCE_LINUX
    // The kernel may otherwise let a sleeping thread's timer run late by its slack (50 us by
    // default) to gather wake-ups; a paced transfer pays that on every message.
    thread_local const bool slackReduced = (prctl (PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0);
    juce::ignoreUnused (slackReduced);

    timespec deadline {};
    clock_gettime (CLOCK_MONOTONIC, &deadline);

    const auto total = deadline.tv_nsec + (long long) duration.count() * 1000;
    deadline.tv_sec += (time_t) (total / 1000000000LL);
    deadline.tv_nsec = (long) (total % 1000000000LL);

    // An absolute deadline, so that a signal in between does not lengthen the pause.
    while (clock_nanosleep (CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {}
   #else
    std::this_thread::sleep_until (std::chrono::steady_clock::now() + duration);
   #endif
}

} // namespace fenz
