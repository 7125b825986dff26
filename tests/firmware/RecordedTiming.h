#pragma once

#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_Pause.h"
#include "fenz_UpgradeProtocol.h"
#include "fenz_UpgradeWaits.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace testsupport
{

// The unit repeated, separated by blanks: repeated ("s33", 3) is "s33 s33 s33".
inline std::string repeated (const std::string& unit, int times)
{
    std::string s;

    for (int i = 0; i < times; ++i)
        s += (i > 0 ? " " : "") + unit;

    return s;
}

// Takes the place of the panel's timing, or gives the Upgrade run its pause and slice: keeps
// every pause and every run of the message loop that is asked for, in order, and sits through
// none of them. A pause returns at once; a run of the message loop lets the loop run only
// briefly, long enough for queued messages, timers and a simulated surface's answers, which
// come from its own thread a millisecond after a packet.
struct RecordedTiming
{
    struct Event
    {
        enum Kind { pause, loopRun } kind;
        int milliseconds;
    };

    // Never shorter, so that a surface's answer has come after a slice or two.
    static constexpr int briefLoopRunMilliseconds = 2;

    std::vector<Event> events;

    // Called with each event as it is recorded, before it is carried out.
    std::function<void (const Event&)> onEvent;

    void pause (int milliseconds)
    {
        record ({ Event::pause, milliseconds });
    }

    void runMessageLoop (int milliseconds)
    {
        record ({ Event::loopRun, milliseconds });
        fenz::runMessageLoopFor (briefLoopRunMilliseconds);
    }

    // The panel's seam, leading here; the recorder must outlive the panel.
    fenz::FirmwareUpgradeComponent::Timing timing()
    {
        return { [this] (int ms) { pause (ms); }, [this] (int ms) { runMessageLoop (ms); } };
    }

    // What the panel gives the Upgrade run: the pause, and slices of 33 ms of the message loop.
    fenz::UpgradeProtocol::PauseFunction pauseFunction()  { return [this] (int ms) { pause (ms); }; }
    fenz::UpgradeWaits::Slice slice()  { return [this] { runMessageLoop (fenz::UpgradeWaits::sliceMilliseconds); }; }

    // The events from index `from` up to (not including) `to`: "pN" for a pause of N ms and
    // "sN" for a run of the message loop of N ms, separated by blanks.
    std::string pattern (size_t from = 0, size_t to = (size_t) -1) const
    {
        std::string s;

        for (size_t i = from; i < std::min (to, events.size()); ++i)
        {
            if (! s.empty())
                s += ' ';

            s += (events[i].kind == Event::pause ? "p" : "s") + std::to_string (events[i].milliseconds);
        }

        return s;
    }

    // The lengths of the pauses, in order.
    std::vector<int> pauses() const
    {
        std::vector<int> lengths;

        for (const auto& e : events)
            if (e.kind == Event::pause)
                lengths.push_back (e.milliseconds);

        return lengths;
    }

    int numLoopRuns() const
    {
        int n = 0;

        for (const auto& e : events)
            n += e.kind == Event::loopRun ? 1 : 0;

        return n;
    }

private:
    void record (const Event& e)
    {
        events.push_back (e);

        if (onEvent != nullptr)
            onEvent (e);
    }
};

} // namespace testsupport
