#pragma once

#include <chrono>

namespace fenz
{

// Blocks the calling thread for at least the given time and wakes it as soon after that as the
// system allows. The device's pacing is a floor: a pause may never be shorter, and every
// microsecond it oversleeps is paid once per message.
void pauseFor (std::chrono::microseconds duration);

inline void pauseMilliseconds (int milliseconds)  { pauseFor (std::chrono::milliseconds (milliseconds)); }

} // namespace fenz
