#pragma once

#include <functional>

namespace fenz
{

// The Upgrade run's waits for the device's acknowledgements. A wait is made of slices, each a
// 33 ms run of the message loop (the panel's Timing::runMessageLoop), and tests its flag
// between them; how many slices a wait may take, and how the write stage counts them across
// packets, is kept here apart from the run, so that the rules can be followed slice by slice
// without waiting for real ones.
namespace UpgradeWaits
{
    constexpr int sliceMilliseconds = 33;
    constexpr int commandSlices = 180;        // connect, erase and reset
    constexpr int writeCountLimit = 179;      // a write wait's count goes on up to here
    constexpr int writeAllowance = 30;        // then it starts afresh with this many slices

    using Slice = std::function<void()>;
    using IsSet = std::function<bool()>;

    // Connect and reset: the flag is tested before each of up to 180 slices and once after the
    // last. True when it was found set.
    bool waitForCommand (const Slice& slice, const IsSet& isSet);

    // Erase: as a command wait, counting in waitCount (from 0) the slices it took. When the flag
    // is only found by the test after the 180th slice, the count is 0. The write stage goes on
    // from the count that remains.
    bool waitForErase (int& waitCount, const Slice& slice, const IsSet& isSet);

    // One data packet: at least one slice. While waitCount is below 179 each slice adds one to
    // it and is followed by a test of the flag; once it has reached 179, one more slice is run,
    // the count starts again at 0 and the packet has 30 further slices, with the flag tested
    // before each of them but not after the last. The count carries on to the next packet.
    bool waitForWrite (int& waitCount, const Slice& slice, const IsSet& isSet);
}

} // namespace fenz
