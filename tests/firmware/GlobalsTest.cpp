#include <gtest/gtest.h>
#include "fenz_FirmwareUpgradeComponent.h"

// The upgrader starts outside test mode and without the macOS pacing.
TEST (FirmwareGlobals, StartOffAndZero)
{
    EXPECT_FALSE (fenz::bTest);
    EXPECT_EQ (fenz::_mac_major, 0);
}
