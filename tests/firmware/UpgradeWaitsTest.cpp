#include <gtest/gtest.h>
#include "fenz_UpgradeWaits.h"

#include <set>

namespace
{
    namespace waits = fenz::UpgradeWaits;

    // Stands in for the device and the message loop: counts the slices and the tests of the
    // flag, and raises the flag during the slices a case names (counted from 1 for each wait).
    struct Script
    {
        std::set<int> ackDuringSlice;
        bool flag = false;
        int slices = 0, tests = 0;

        void startWait()        { slices = 0; tests = 0; flag = false; }

        waits::Slice slice()    { return [this] { ++slices; if (ackDuringSlice.count (slices) > 0) flag = true; }; }
        waits::IsSet isSet()    { return [this] { ++tests; return flag; }; }
    };
}

//==============================================================================
// Connect and reset: up to 180 slices, the flag tested before each and once after the last.
TEST (UpgradeWaits, CommandWaitFindsTheFlagBetweenSlices)
{
    struct Case { const char* what; std::set<int> ack; bool found; int slices; int tests; };

    const Case cases[] = {
        { "answered before the wait",  { 0 },   true,  0,   1   },
        { "answered in slice 1",       { 1 },   true,  1,   2   },
        { "answered in slice 37",      { 37 },  true,  37,  38  },
        { "answered in the last slice", { 180 }, true,  180, 181 },
        { "never answered",            {},      false, 180, 181 },
    };

    for (const auto& c : cases)
    {
        Script script;
        script.startWait();
        script.ackDuringSlice = c.ack;
        script.flag = c.ack.count (0) > 0;

        EXPECT_EQ (waits::waitForCommand (script.slice(), script.isSet()), c.found) << c.what;
        EXPECT_EQ (script.slices, c.slices) << c.what;
        EXPECT_EQ (script.tests, c.tests) << c.what;
    }
}

// The erase wait hands on the number of slices it took; a flag found only by the test after
// the last slice leaves 0.
TEST (UpgradeWaits, EraseWaitCountsItsSlices)
{
    struct Case { const char* what; std::set<int> ack; bool found; int count; };

    const Case cases[] = {
        { "answered before the wait",    { 0 },   true,  0   },
        { "answered in slice 5",         { 5 },   true,  5   },
        { "answered in slice 179",       { 179 }, true,  179 },
        { "answered in the last slice",  { 180 }, true,  0   },
        { "never answered",              {},      false, 0   },
    };

    for (const auto& c : cases)
    {
        Script script;
        script.startWait();
        script.ackDuringSlice = c.ack;
        script.flag = c.ack.count (0) > 0;

        int count = -1;
        EXPECT_EQ (waits::waitForErase (count, script.slice(), script.isSet()), c.found) << c.what;
        EXPECT_EQ (count, c.count) << c.what;
        EXPECT_LE (script.slices, 180) << c.what;
    }
}

//==============================================================================
// Every data packet waits at least one slice, even when its answer came before the wait began.
TEST (UpgradeWaits, WriteWaitAlwaysRunsASlice)
{
    Script script;
    script.startWait();
    script.flag = true;

    int count = 0;
    EXPECT_TRUE (waits::waitForWrite (count, script.slice(), script.isSet()));
    EXPECT_EQ (script.slices, 1);
    EXPECT_EQ (count, 1);
}

// A silent packet: the slices left below 179, then one allowance of 30 with the count afresh.
// A wait that starts at 179 or more gets one slice and then the 30.
TEST (UpgradeWaits, SilentPacketGetsTheRestAndThirtyMore)
{
    struct Case { int startCount; int slices; };

    const Case cases[] = {
        { 0,   179 + 1 + 30 },
        { 100, 79 + 1 + 30 },
        { 178, 1 + 1 + 30 },
        { 179, 1 + 30 },
        { 180, 1 + 30 },
        { 500, 1 + 30 },
    };

    for (const auto& c : cases)
    {
        Script script;
        script.startWait();

        int count = c.startCount;
        EXPECT_FALSE (waits::waitForWrite (count, script.slice(), script.isSet())) << c.startCount;
        EXPECT_EQ (script.slices, c.slices) << "count at " << c.startCount;
    }
}

// In the allowance the flag is tested before each slice but not after the last: an answer in
// the 29th of the 30 slices counts, one in the 30th does not.
TEST (UpgradeWaits, AllowanceTestsBeforeEachSliceOnly)
{
    for (const auto& [slice, found] : { std::pair { 2, true }, { 29, true }, { 30, false } })
    {
        Script script;
        script.startWait();
        script.ackDuringSlice = { 1 + slice };   // the first slice is the one at 179

        int count = 179;
        EXPECT_EQ (waits::waitForWrite (count, script.slice(), script.isSet()), found) << "slice " << slice;

        if (found)
        {
            EXPECT_EQ (count, slice) << "the allowance's count goes on to the next packet";
        }
    }
}

// The count is not set back between packets: a device that answers every packet in its first
// slice never fails, and the count runs up to 179 and starts afresh from there.
TEST (UpgradeWaits, CountCarriesFromPacketToPacket)
{
    Script script;
    int count = 0;

    for (int packet = 0; packet < 400; ++packet)
    {
        script.startWait();
        script.ackDuringSlice = { 1 };

        ASSERT_TRUE (waits::waitForWrite (count, script.slice(), script.isSet())) << "packet " << packet;
        EXPECT_EQ (script.slices, 1) << "packet " << packet;
        EXPECT_EQ (count, packet < 179 ? packet + 1 : (packet - 179) % 180) << "packet " << packet;
    }
}

// A packet answered late in the allowance leaves that count, so the next silent packet has
// only what remains below 179 before its own allowance.
TEST (UpgradeWaits, LateAnswerShortensTheNextWait)
{
    Script script;
    script.startWait();
    script.ackDuringSlice = { 1 + 20 };

    int count = 179;
    ASSERT_TRUE (waits::waitForWrite (count, script.slice(), script.isSet()));
    ASSERT_EQ (count, 20);

    script.startWait();
    script.ackDuringSlice = {};
    EXPECT_FALSE (waits::waitForWrite (count, script.slice(), script.isSet()));
    EXPECT_EQ (script.slices, 159 + 1 + 30);
}
