#include "EarlierCases.h"
#include "FakeMidiPorts.h"
#include "UpgraderFixture.h"
#include "fenz_FirmwareGlobals.h"
#include "PanelTestSeam.h"

#include <functional>

// The upgrader's globals belong to the launch, which sets both (see LaunchTest), and to key T,
// which toggles test mode. Whatever they hold, nothing else the panel does changes them: not
// its keys, not its steps, not its building or its close.
namespace
{
    using namespace testsupport;

    const juce::String normalPort = "Varn Tamrel Virtual";
    const juce::String upgradePort = "Fenz firmware upgrade";

    struct FirmwareGlobals : public UpgraderFixture
    {
        testsupport::FakeMidiPorts ports;

        void TearDown() override
        {
            UpgraderFixture::TearDown();
            fenz::_mac_major = 0;
        }

        void key (int code)  { panel->keyPressed (juce::KeyPress (code)); }

        // As Connect, Erase and Activate leave the panel: the device's upgrade ports open.
        void takeTheFirstThreeSteps()
        {
            willChoose (normalPort);
            press (testsupport::connectStep);
            press (testsupport::eraseStep);
            willChoose (upgradePort);
            press (testsupport::activateStep);
        }
    };

    struct Values
    {
        bool testMode;
        int macMajor;
    };
}

TEST_F (FirmwareGlobals, OnlyTheLaunchAndKeyTChangeThem)
{
    struct Action
    {
        const char* what;
        std::function<void (FirmwareGlobals&)> run;
    };

    const Action actions[] = {
        { "building the panel",  [] (FirmwareGlobals&) {} },
        { "keys M, F1 and others", [] (FirmwareGlobals& f)
          {
              for (const int code : { (int) 'M', (int) 'm', juce::KeyPress::F1Key, (int) 'X', juce::KeyPress::F2Key, (int) '1' })
                  f.key (code);
          } },
        { "Connect without a port", [] (FirmwareGlobals& f)
          {
              f.ports.inputs.clear();
              f.willChoose (std::nullopt);
              f.press (testsupport::connectStep);
          } },
        { "Connect, Erase and Activate", [] (FirmwareGlobals& f) { f.takeTheFirstThreeSteps(); } },
        { "an Upgrade refused for its image", [] (FirmwareGlobals& f)
          {
              f.takeTheFirstThreeSteps();
              f.press (testsupport::upgradeStep);
          } },
        { "step 4 from a local file, cancelled", [] (FirmwareGlobals& f)
          {
              inside (*f.panel).onlineMode = false;
              f.press (testsupport::versionStep);
          } },
        { "Update Device Name", [] (FirmwareGlobals& f) { f.press (inside (*f.panel).updateDeviceNameButton); } },
        { "closing the panel over upgrade ports", [] (FirmwareGlobals& f) { f.panel.reset(); } },
    };

    const Values startingValues[] = { { false, 0 }, { true, 0 }, { false, 15 }, { true, 16 } };

    for (const auto& start : startingValues)
    {
        for (const auto& action : actions)
        {
            SCOPED_TRACE (juce::String (action.what) + (start.testMode ? ", in test mode" : "")
                          + ", macOS number " + juce::String (start.macMajor));
            ports.inputs = { normalPort, upgradePort };
            ports.outputs = { normalPort, upgradePort };
            fenz::bTest = start.testMode;
            fenz::_mac_major = start.macMajor;
            makePanel();

            action.run (*this);

            EXPECT_EQ (fenz::bTest, start.testMode);
            EXPECT_EQ (fenz::_mac_major, start.macMajor);
            TearDown();
        }
    }
}

// Key T turns test mode over, on and off again, and leaves the macOS number alone.
TEST_F (FirmwareGlobals, KeyTTogglesTestModeOnly)
{
    for (const auto& start : { Values { false, 0 }, Values { true, 16 } })
    {
        fenz::bTest = start.testMode;
        fenz::_mac_major = start.macMajor;
        makePanel();

        key ('T');
        EXPECT_EQ (fenz::bTest, ! start.testMode);
        key ('t');
        EXPECT_EQ (fenz::bTest, start.testMode);
        EXPECT_EQ (fenz::_mac_major, start.macMajor);
        TearDown();
    }
}

// The upgrader starts outside test mode and without the macOS pacing. Another case of the
// process may have changed the globals before this one: then there is nothing to look at.
TEST (FirmwareGlobalsAtStart, StartOffAndZero)
{
    if (testsupport::earlierCasesRan())
        GTEST_SKIP() << "an earlier case of this process may have set the globals";

    EXPECT_FALSE (fenz::bTest);
    EXPECT_EQ (fenz::_mac_major, 0);
}
