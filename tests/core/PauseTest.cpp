#include <gtest/gtest.h>
#include "fenz_Pause.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

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
    // They run on a thread of their own, watched from here, so that a pause that waits fails
    // the case instead of holding it until the test run kills it. The watch is generous: it
    // tells a pause that returns from one that waits for ever, nothing finer.
    const auto returned = std::make_shared<std::atomic<bool>> (false);

    std::thread pauses ([returned]
    {
        fenz::pauseFor (std::chrono::microseconds (0));
        fenz::pauseFor (std::chrono::microseconds (-5));
        fenz::pauseMilliseconds (-1);
        *returned = true;
    });

    const auto deadline = Clock::now() + std::chrono::seconds (10);

    while (! *returned && Clock::now() < deadline)
        std::this_thread::sleep_for (std::chrono::milliseconds (1));

    EXPECT_TRUE (*returned) << "a pause of nothing or less was still waiting after 10 s";

    if (*returned)
        pauses.join();
    else
        pauses.detach();   // still waiting, on state of its own; the process ends with the run
}

//==============================================================================
// The message loop runs for the time asked, and what is queued meanwhile happens.
TEST (MessageLoopRun, LastsItsTimeAndDispatches)
{
    bool called = false;
    juce::MessageManager::callAsync ([&called] { called = true; });

    const auto start = Clock::now();
    fenz::runMessageLoopFor (33);

    EXPECT_GE (Clock::now() - start, std::chrono::milliseconds (33));
    EXPECT_TRUE (called);
}

// Once the framework's quit message has arrived the loop returns at once whatever it is asked;
// a run still takes its time, so that a wait made of runs cannot run out early. The quit ends
// the message loop for good, so the case runs in a process of its own.
TEST (MessageLoopRun, LastsItsTimeAfterTheQuitHasArrived)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");

    EXPECT_EXIT (
        {
            auto* messageManager = juce::MessageManager::getInstance();
            messageManager->stopDispatchLoop();
            const bool loopEnded = ! messageManager->runDispatchLoopUntil (50);

            bool everyRunLasted = true;

            for (int i = 0; i < 5; ++i)
            {
                const auto start = Clock::now();
                fenz::runMessageLoopFor (33);
                everyRunLasted = everyRunLasted && Clock::now() - start >= std::chrono::milliseconds (33);
            }

            std::_Exit (loopEnded && everyRunLasted ? 0 : 1);
        },
        ::testing::ExitedWithCode (0), "");
}
