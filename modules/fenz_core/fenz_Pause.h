#pragma once

#include <chrono>

namespace fenz
{

// Blocks the calling thread for at least the given time and wakes it as soon after that as the
// system allows. The device's pacing is a floor: a pause may never be shorter, and every
// microsecond it oversleeps is paid once per message.
void pauseFor (std::chrono::microseconds duration);

inline void pauseMilliseconds (int milliseconds)  { pauseFor (std::chrono::milliseconds (milliseconds)); }

// Lets the message loop run for at least the given time; message thread only. Once the
// framework's quit message has arrived the loop returns at once however long it was asked to
// run: the rest of the time is then a blocking pause, so that a wait made of such runs lasts
// its time whatever the loop does.
void runMessageLoopFor (int milliseconds);

} // namespace fenz
