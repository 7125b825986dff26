#include <gtest/gtest.h>
#include "fenz_Pause.h"

#include <chrono>

namespace
{
    using Clock = std::chrono::steady_clock;

    std::chrono::microseconds timeOf (std::chrono::microseconds pause)
    {
        const auto start = Clock::now();
        fenz::pauseFor (pause);
        return std::chrono::duration_cast<std::chrono::microseconds> (Clock::now() - start);
    }
}

// The device's pacing is a floor: no pause may end before its time, whether it is short enough
// to be spun through whole or long enough to sleep first.
TEST (Pause, NeverEndsEarly)
{
    for (const auto length : { std::chrono::microseconds (50), std::chrono::microseconds (2000),
                               std::chrono::microseconds (15000) })
        for (int i = 0; i < 20; ++i)
            EXPECT_GE (timeOf (length).count(), length.count()) << length.count() << " us, pause " << i;

    const auto start = Clock::now();
    fenz::pauseMilliseconds (2);
    EXPECT_GE (Clock::now() - start, std::chrono::milliseconds (2));
}

TEST (Pause, NothingOrLessReturnsAtOnce)
{
    // No lower bound to check; these must simply come back rather than wait for a wrapped time.
    fenz::pauseFor (std::chrono::microseconds (0));
    fenz::pauseFor (std::chrono::microseconds (-5));
    fenz::pauseMilliseconds (-1);
    SUCCEED();
}
