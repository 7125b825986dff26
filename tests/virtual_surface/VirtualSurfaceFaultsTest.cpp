#include <gtest/gtest.h>

#include "StringLists.h"
#include "fenz_VirtualSurfaceFaults.h"

#include <functional>
#include <optional>
#include <vector>

namespace fenz
{
    static void PrintTo (const UpgradeFaults& f, std::ostream* os)
    {
        *os << "{silent at connect " << f.silentAtConnect << ", erase " << f.silentAtErase << ", block "
            << f.silentAtBlock << ", reset " << f.silentAtReset << "; wrong code " << (int) f.wrongCode << " at stage "
            << (int) f.wrongCodeAt << "; refuses upgrade mode " << f.refusesUpgradeMode << "; vanishes after block "
            << f.vanishesAfterBlock << "}";
    }
}

using namespace fenz;
using testsupport::toVector;
using Stage = UpgradeFaults::Stage;

namespace
{

// One text read on top of some upgrade faults, and everything the reading should give.
struct FaultTextCase
{
    const char* text;
    std::function<void (UpgradeFaults&)> before;   // the upgrade faults read from
    std::function<void (UpgradeFaults&)> change;   // what the text changes in them
    bool refusesOutput, refusesInput;
    std::optional<int> answerDelay;
    std::vector<juce::String> notUnderstood;
};

void nothing (UpgradeFaults&) {}

} // namespace

TEST (VirtualSurfaceFaultText, ReadsEachSwitchWithinItsBoundsAndKeepsWhatItDoesNotName)
{
    const std::vector<FaultTextCase> cases {
        { "", nothing, nothing, false, false, std::nullopt, {} },
        { " , ,\t", nothing, nothing, false, false, std::nullopt, {} },

        // The switches without a value, in any case and between any separators.
        { "refuse-output", nothing, nothing, true, false, std::nullopt, {} },
        { "Refuse-Input", nothing, nothing, false, true, std::nullopt, {} },
        { "SILENT-CONNECT,silent-erase\tsilent-reset\nrefuse-upgrade-mode", nothing,
          [] (UpgradeFaults& f) { f.silentAtConnect = f.silentAtErase = f.silentAtReset = f.refusesUpgradeMode = true; },
          false, false, std::nullopt, {} },
        { "refuse-output=1 silent-connect=yes silent-erase=", nothing, nothing, false, false, std::nullopt,
          { "refuse-output=1", "silent-connect=yes", "silent-erase=" } },

        // Block indices: 0 to 255 in at most three digits.
        { "silent-data=0", nothing, [] (UpgradeFaults& f) { f.silentAtBlock = 0; }, false, false, std::nullopt, {} },
        { "silent-data=255", nothing, [] (UpgradeFaults& f) { f.silentAtBlock = 255; }, false, false, std::nullopt, {} },
        { "vanish-after-data=007", nothing, [] (UpgradeFaults& f) { f.vanishesAfterBlock = 7; }, false, false, std::nullopt, {} },
        { "silent-data=0255 silent-data= silent-data vanish-after-data=+3", nothing, nothing, false, false, std::nullopt,
          { "silent-data=0255", "silent-data=", "silent-data", "vanish-after-data=+3" } },
        { "silent-data=4,silent-data=x", nothing, [] (UpgradeFaults& f) { f.silentAtBlock = 4; }, false, false, std::nullopt,
          { "silent-data=x" } },

        // The answer delay: one to five digits, the last one given.
        { "ack-delay=0", nothing, nothing, false, false, 0, {} },
        { "ACK-DELAY=99999", nothing, nothing, false, false, 99999, {} },
        { "ack-delay=5 ack-delay=40", nothing, nothing, false, false, 40, {} },
        { "ack-delay=100000 ack-delay= ack-delay=-5 ack-delay=1.5", nothing, nothing, false, false, std::nullopt,
          { "ack-delay=100000", "ack-delay=", "ack-delay=-5", "ack-delay=1.5" } },

        // A wrong code: a stage, and a code of at most two hex digits up to 7F.
        { "wrong-code=CONNECT", nothing, [] (UpgradeFaults& f) { f.wrongCodeAt = Stage::connect; }, false, false, std::nullopt, {} },
        { "wrong-code=erase:0", nothing, [] (UpgradeFaults& f) { f.wrongCodeAt = Stage::erase; f.wrongCode = 0x00; },
          false, false, std::nullopt, {} },
        { "wrong-code=Reset:7F", nothing, [] (UpgradeFaults& f) { f.wrongCodeAt = Stage::reset; f.wrongCode = 0x7f; },
          false, false, std::nullopt, {} },
        { "wrong-code=data:80 wrong-code=data: wrong-code=data:07f wrong-code=data:g wrong-code=:01 wrong-code", nothing,
          nothing, false, false, std::nullopt,
          { "wrong-code=data:80", "wrong-code=data:", "wrong-code=data:07f", "wrong-code=data:g", "wrong-code=:01", "wrong-code" } },

        // What the text does not name stays as it was; what it names replaces it.
        { "wrong-code=data", [] (UpgradeFaults& f) { f.silentAtBlock = 5; f.wrongCode = 0x01; },
          [] (UpgradeFaults& f) { f.wrongCodeAt = Stage::data; }, false, false, std::nullopt, {} },
        { "silent-data=9 nonsense", [] (UpgradeFaults& f) { f.silentAtBlock = 5; f.silentAtReset = true; },
          [] (UpgradeFaults& f) { f.silentAtBlock = 9; }, false, false, std::nullopt, { "nonsense" } },
    };

    for (const auto& c : cases)
    {
        UpgradeFaults before;
        c.before (before);
        auto expected = before;
        c.change (expected);

        const auto read = readVirtualSurfaceFaults (c.text, before);

        EXPECT_EQ (read.upgrade, expected) << c.text;
        EXPECT_EQ (read.refusesToOpenOutput, c.refusesOutput) << c.text;
        EXPECT_EQ (read.refusesToOpenInput, c.refusesInput) << c.text;
        EXPECT_EQ (read.answerDelay, c.answerDelay) << c.text;
        EXPECT_EQ (toVector (read.notUnderstood), c.notUnderstood) << c.text;
    }
}
