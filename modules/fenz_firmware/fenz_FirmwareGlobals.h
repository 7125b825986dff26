#pragma once

namespace fenz
{

// The upgrader's two process-wide settings. The launch sets both before the panel is shown;
// after that only the panel's key T changes test mode.

// Test mode: Connect accepts a device it does not recognise as the model the panel was built
// for, Activate accepts any port, and the title carries a "." after "Firmware Upgrade".
extern bool bTest;

// The macOS version as MacVersion numbers it (15 on 10.15, 16 on 11), set by the launch; 15
// or more paces the data packets. 0 on every other system.
extern int _mac_major;

} // namespace fenz
