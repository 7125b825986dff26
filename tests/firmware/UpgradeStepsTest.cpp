#include "FakeMidiPorts.h"
#include "UpgraderFixture.h"

// Connect, Erase, Activate and the checks an Upgrade run makes before anything reaches the
// device, against ports that a test names itself.
namespace
{
    using namespace testsupport;

    const juce::String upgradePort = "Fenz firmware upgrade";

    struct UpgradeSteps : public UpgraderFixture
    {
        testsupport::FakeMidiPorts ports;

        // A recognised device chosen at Connect, as every later step expects.
        void connectTo (const juce::String& name)
        {
            if (! ports.inputs.contains (name))
                ports.inputs.add (name);

            willChoose (name);
            press (testsupport::connectStep);
            ASSERT_EQ (panel->getState().step, 0) << "Connect did not take " << name;
        }

        // Activate with the upgrade port chosen; both its ports must open.
        void activate (const juce::String& name = upgradePort)
        {
            willChoose (name);
            press (testsupport::activateStep);
        }

        static juce::MidiMessage sysEx (std::initializer_list<int> bytes)
        {
            juce::MemoryBlock block;

            for (auto b : bytes)
                block.append (&b, 1);

            return juce::MidiMessage (block.getData(), (int) block.getSize());
        }
    };
}

//==============================================================================
// With no MIDI input at all, Connect waits five times 1 s (in pauses of 10 ms), numbering the
// waits in the title, and then shows the (empty) chooser; cancelling it gives the plain title
// back.
TEST_F (UpgradeSteps, ConnectWaitsFiveTimesForAnInput)
{
    makePanel();
    willChoose (std::nullopt);

    std::vector<int> titlesBeforePause;
    time.onEvent = [this, &titlesBeforePause] (const RecordedTiming::Event&) { titlesBeforePause.push_back (titles.size()); };

    press (testsupport::connectStep);

    EXPECT_EQ (time.pauses(), std::vector<int> (500, 10));
    EXPECT_EQ (time.numLoopRuns(), 0);

    // The title counts the seconds waited so far: (1) once the first 100 pauses are over.
    const std::pair<size_t, int> titlesAt[] = { { 0, 0 }, { 99, 0 }, { 100, 1 }, { 199, 1 }, { 200, 2 },
                                                { 399, 3 }, { 400, 4 }, { 499, 4 } };
    ASSERT_EQ (titlesBeforePause.size(), 500u);

    for (const auto& [pause, numTitles] : titlesAt)
        EXPECT_EQ (titlesBeforePause[pause], numTitles) << "before pause " << pause;

    EXPECT_EQ (titles, juce::StringArray ({ "Firmware Upgrade: (1)", "Firmware Upgrade: (2)", "Firmware Upgrade: (3)",
                                            "Firmware Upgrade: (4)", "Firmware Upgrade: (5)", "Firmware Upgrade" }));
    ASSERT_EQ (choosers.size(), 1u);
    EXPECT_EQ (choosers[0].title, "Choose Your Fenz Device");
    EXPECT_TRUE (choosers[0].isPortChooser);
    EXPECT_EQ (panel->getState().step, -1);
    EXPECT_TRUE (boxes.empty());
}

// A close asked for while Connect waits for an input ends the waits: no more numbered titles,
// no chooser, and the step returns so that the dialog can go.
TEST_F (UpgradeSteps, ConnectGivesUpWaitingWhenAskedToClose)
{
    makePanel();
    bool mayClose = true;
    ports.onListInputs = [&]
    {
        if (panel->isStepRunning() && mayClose)
            mayClose = panel->requestClose();
    };

    press (testsupport::connectStep);

    EXPECT_FALSE (mayClose) << "the panel may not go while Connect runs";
    EXPECT_TRUE (time.events.empty()) << "a wait after the request";
    EXPECT_TRUE (titles.isEmpty());
    EXPECT_TRUE (choosers.empty());
    EXPECT_FALSE (panel->isStepRunning());
}

// What Connect makes of the chosen name, with test mode off and on.
TEST_F (UpgradeSteps, ConnectRecognisesTheChosenDevice)
{
    const juce::String notUpgradable = "This device is not able to be upgraded by this software.";
    const juce::String alreadyInUpgradeMode = "It looks like your device is already in firmware upgrade mode. \n"
                                              "Please turn off and turn on the device and try again.";

    struct Case
    {
        const char* name;
        int builtFor;
        bool testMode;
        int step, pid;
        const char* title;
        juce::String box;
    };

    const Case cases[] = {
        { "Varn Tamrel Virtual",        176, false, 0,  176,  "Firmware Upgrade: Tamrel", {} },
        { "Ostrel USB Port 1",          176, false, 0,  177,  "Firmware Upgrade: Ostrel", {} },
        { "Some Synth",                 176, false, -1, 2000, "Firmware Upgrade",         notUpgradable },
        { "Some Synth",                 176, true,  0,  176,  "Firmware Upgrade: Tamrel", {} },
        { "Some Synth",                 177, true,  0,  177,  "Firmware Upgrade: Ostrel", {} },
        { "Fenz firmware upgrade",      176, false, -1, 2000, "Firmware Upgrade",         alreadyInUpgradeMode },
        { "FENZ FIRMWARE UPGRADE 2",    176, false, -1, 2000, "Firmware Upgrade",         alreadyInUpgradeMode },
        { "fenz Firmware Upgrade",      176, false, -1, 2000, "Firmware Upgrade",         alreadyInUpgradeMode },
        // Only as a whole word: glued to a letter or digit it is another name.
        { "XFenz firmware upgrade",     176, false, -1, 2000, "Firmware Upgrade",         notUpgradable },
        { "Fenz firmware upgrade2",     176, false, -1, 2000, "Firmware Upgrade",         notUpgradable },
        { "Fenz firmware upgrade",      176, true,  0,  176,  "Firmware Upgrade: Tamrel", {} },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.name) + (c.testMode ? " in test mode" : "") + ", built for " + juce::String (c.builtFor));
        makePanel (c.builtFor);
        boxes.clear();
        ports.inputs = { c.name };
        fenz::bTest = c.testMode;
        inside (*panel).onlineMode = false;

        willChoose (juce::String (c.name));
        press (testsupport::connectStep);

        EXPECT_EQ (panel->getState().step, c.step);
        EXPECT_EQ (stateOf (*panel).enabled, enabledAt (c.step));
        EXPECT_EQ (inside (*panel).pid, c.pid);
        EXPECT_EQ (inside (*panel).currentPid, c.pid);
        EXPECT_EQ (panel->getState().normalDeviceName, c.name);
        EXPECT_EQ (title(), c.title);
        EXPECT_TRUE (inside (*panel).onlineMode) << "Connect goes back to the server's list";

        if (c.box.isEmpty())
        {
            EXPECT_TRUE (boxes.empty());
        }
        else
        {
            ASSERT_EQ (boxes.size(), 1u);
            EXPECT_EQ (boxes[0].title, "Firmware Upgrade");
            EXPECT_EQ (boxes[0].text, c.box);
            EXPECT_EQ (boxes[0].icon, juce::MessageBoxIconType::InfoIcon);
        }

        fenz::bTest = false;
        TearDown();
    }
}

// Cancelling the chooser: no device, the plain title, and only Connect to press.
TEST_F (UpgradeSteps, ConnectCancelledStartsOver)
{
    makePanel();
    ports.inputs = { "Varn Tamrel Virtual" };
    connectTo ("Varn Tamrel Virtual");

    willChoose (std::nullopt);
    press (testsupport::connectStep);

    EXPECT_EQ (title(), "Firmware Upgrade");
    EXPECT_EQ (panel->getState().step, -1);
    EXPECT_EQ (stateOf (*panel).enabled, enabledAt (-1));
    EXPECT_EQ (panel->getState().normalDeviceName, "");
    EXPECT_TRUE (titles.isEmpty() || ! titles.contains ("Firmware Upgrade: (1)")) << "an input was there: no waits";
}

//==============================================================================
// The upgrade-mode request goes to the output of exactly the chosen name, twice, and then the
// step pauses 1.3 s before closing it.
TEST_F (UpgradeSteps, EraseSendsTheRequestToTheChosenOutput)
{
    makePanel();
    ports.outputs = { "varn tamrel virtual", "Varn Tamrel Virtual 2", "Varn Tamrel Virtual", "Varn Tamrel Virtual" };
    connectTo ("Varn Tamrel Virtual");

    int openDuringThePause = -1;
    size_t sentBeforeThePause = 0;
    time.events.clear();
    time.onEvent = [&] (const RecordedTiming::Event&)
    {
        openDuringThePause = ports.liveOutputs;
        sentBeforeThePause = ports.sent().size();
    };

    press (testsupport::eraseStep);

    EXPECT_EQ (time.pattern(), "p1300");
    EXPECT_EQ (openDuringThePause, 1) << "the output is closed only after the pause";
    EXPECT_EQ (sentBeforeThePause, 2u) << "the pause comes after the request";
    EXPECT_EQ (ports.openedOutputs, juce::StringArray ({ "Varn Tamrel Virtual" }));
    EXPECT_EQ (ports.liveOutputs, 0) << "the output is closed again";

    const std::vector<juce::uint8> request { 0xf0, 0x1d, 0x03, 0x01, 0x30, 0x00, 0x7f, 0x7f, 0xf7 };
    ASSERT_EQ (ports.sent().size(), 2u);

    for (const auto& s : ports.sent())
    {
        EXPECT_EQ (s.port, "Varn Tamrel Virtual");
        EXPECT_EQ (s.bytes, request);
    }

    EXPECT_EQ (panel->getState().step, 1);
    EXPECT_EQ (stateOf (*panel).enabled, enabledAt (1));
    EXPECT_TRUE (boxes.empty());
}

// No output of exactly the chosen name (only one in other letter case, or one that will not
// open): nothing is sent, nothing is said, and the step state stays at Erase's 0.
TEST_F (UpgradeSteps, EraseWithoutTheOutputDoesNothing)
{
    for (const bool refuses : { false, true })
    {
        SCOPED_TRACE (refuses ? "listed but refuses to open" : "only in other letter case");
        makePanel();
        ports.calls.clear();
        ports.outputs = refuses ? juce::StringArray { "Varn Tamrel Virtual" } : juce::StringArray { "VARN TAMREL VIRTUAL" };
        ports.refusedOutputs = refuses ? juce::StringArray { "Varn Tamrel Virtual" } : juce::StringArray {};
        connectTo ("Varn Tamrel Virtual");

        press (testsupport::eraseStep);

        EXPECT_TRUE (ports.sent().empty());
        EXPECT_TRUE (boxes.empty());
        EXPECT_EQ (panel->getState().step, 0);
        EXPECT_EQ (stateOf (*panel).enabled, enabledAt (0));
        TearDown();
    }
}

// A port that arrives or leaves in front of the chosen device between the look-up of its name
// and the open moves the upgrade-mode request onto no other device; when the device itself
// has gone, nothing is sent.
TEST_F (UpgradeSteps, EraseReachesTheDeviceItLookedUpWhateverComesOrGoesBeforeIt)
{
    struct Case { const char* what; int removeAt; bool arrives; bool reachesIt; };
    const Case cases[] = {
        { "a port arrives before it",  -1, true,  true },
        { "a port before it leaves",    0, false, true },
        { "it leaves itself",           1, false, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        makePanel();
        ports.calls.clear();
        ports.openedOutputs.clear();
        ports.outputs = { "Some Synth", "Varn Tamrel Virtual", "Another Synth" };
        ports.numberOutputs();
        connectTo ("Varn Tamrel Virtual");

        int listings = 0;
        ports.onListOutputs = [&]
        {
            if (++listings != 2)
                return;

            if (c.arrives)
            {
                ports.outputs.insert (0, "Newcomer");
                ports.identifiers.insert (0, "newcomer");
            }
            else
            {
                ports.outputs.remove (c.removeAt);
                ports.identifiers.remove (c.removeAt);
            }
        };

        press (testsupport::eraseStep);
        ports.onListOutputs = nullptr;

        EXPECT_GE (listings, 2) << "the list was not looked at again before the open";
        EXPECT_EQ (ports.openedOutputs.joinIntoString (","), c.reachesIt ? "Varn Tamrel Virtual" : "");
        EXPECT_EQ (ports.sentTo ("Varn Tamrel Virtual").size(), c.reachesIt ? 2u : 0u);
        EXPECT_EQ (ports.sent().size(), c.reachesIt ? 2u : 0u) << "the request reached another port";
        EXPECT_EQ (panel->getState().step, c.reachesIt ? 1 : 0);
        TearDown();
        ports.identifiers.clear();
    }
}

//==============================================================================
// Activate opens both ports of the upgrade name, starts the input and leaves Connect off.
TEST_F (UpgradeSteps, ActivateOpensTheUpgradePair)
{
    makePanel();
    ports.inputs = { "Varn Tamrel Virtual", "Fenz firmware upgrade" };
    ports.outputs = { "Fenz firmware upgrade" };
    connectTo ("Varn Tamrel Virtual");
    inside (*panel).pid = 177;   // the handler takes the panel's id as it is when it is made

    activate();

    ASSERT_EQ (choosers.size(), 2u);
    EXPECT_EQ (choosers[1].title, "Choose Your Fenz Device");
    EXPECT_FALSE (choosers[1].state.enabled[0]) << "Connect is off while the chooser is open";
    EXPECT_FALSE (choosers[1].state.enabled[1]) << "Erase is off while the chooser is open";
    EXPECT_EQ (choosers[1].state.step, 1);

    ASSERT_NE (inside (*panel).handler, nullptr);
    EXPECT_EQ (inside (*panel).handler->owner, panel.get());
    EXPECT_EQ (inside (*panel).handler->pid, 177);
    EXPECT_NE (inside (*panel).handler->midiInput, nullptr);
    EXPECT_NE (inside (*panel).handler->midiOutput, nullptr);
    EXPECT_EQ (ports.openedInputs, juce::StringArray ({ "Fenz firmware upgrade" }));
    EXPECT_EQ (ports.openedOutputs, juce::StringArray ({ "Fenz firmware upgrade" }));

    // The input is started: what the device answers reaches the handler.
    ports.answer (upgradePort, juce::MidiMessage (0x9f, 0x7f, 0x00));
    EXPECT_TRUE (inside (*panel).handler->connectAck);

    EXPECT_EQ (panel->getState().step, 2);
    EXPECT_EQ (stateOf (*panel).enabled, (std::array<bool, 5> { false, true, true, true, false }));
    EXPECT_EQ (panel->getState().upgradeDeviceName, upgradePort);
    EXPECT_TRUE (boxes.empty());

    // A second Activate closes the pair before opening it again; the handler stays the same.
    auto* handler = inside (*panel).handler.get();
    activate();
    EXPECT_EQ (inside (*panel).handler.get(), handler);
    EXPECT_EQ (ports.liveInputs, 1);
    EXPECT_EQ (ports.liveOutputs, 1);
}

// Without test mode the chosen port must be an upgrade port; cancelling is no failure but
// ends the same way: step 1, with Connect, Erase and Activate to press, and no port opened.
TEST_F (UpgradeSteps, ActivateRefusesAnotherPortAndCancel)
{
    makePanel();
    ports.inputs = { "Varn Tamrel Virtual", "Fenz firmware upgraded" };
    ports.outputs = ports.inputs;
    connectTo ("Varn Tamrel Virtual");

    activate ("Varn Tamrel Virtual");
    activate ("Fenz firmware upgraded");
    willChoose (std::nullopt);
    press (testsupport::activateStep);

    ASSERT_EQ (boxes.size(), 2u);

    for (const auto& box : boxes)
    {
        EXPECT_EQ (box.icon, juce::MessageBoxIconType::WarningIcon);
        EXPECT_EQ (box.title, "Step 3");
        EXPECT_EQ (box.text, "Please select the unit \"Fenz firmware upgrade\"");
    }

    EXPECT_EQ (panel->getState().step, 1);
    EXPECT_EQ (stateOf (*panel).enabled, enabledAt (1));
    EXPECT_TRUE (ports.openedInputs.isEmpty());
    EXPECT_TRUE (ports.openedOutputs.isEmpty());
}

// In test mode any port will do, and a name in other letter case is an upgrade port too.
TEST_F (UpgradeSteps, ActivateTakesAnyNameInTestModeAndAnyLetterCase)
{
    for (const juce::String name : { "FENZ Firmware Upgrade", "Some Synth" })
    {
        SCOPED_TRACE (name);
        makePanel();
        ports.inputs = { "Varn Tamrel Virtual", name };
        ports.outputs = { name };
        connectTo ("Varn Tamrel Virtual");
        fenz::bTest = name == "Some Synth";

        activate (name);

        EXPECT_TRUE (boxes.empty());
        EXPECT_EQ (panel->getState().step, 2);
        EXPECT_EQ (panel->getState().upgradeDeviceName, name);
        fenz::bTest = false;
        TearDown();
    }
}

// A pair that does not open, whichever half fails: the "Midi Device" box with the port's name,
// step 1 with Connect back on, and the half that did open stays open in the handler.
TEST_F (UpgradeSteps, ActivateWithAPairThatDoesNotOpen)
{
    struct Case { const char* what; bool inputListed, outputListed, inputRefuses, outputRefuses; };

    const Case cases[] = {
        { "input refuses",      true,  true,  true,  false },
        { "output refuses",     true,  true,  false, true  },
        { "no output listed",   true,  false, false, false },
        { "no input listed",    false, true,  false, false },
        { "neither opens",      true,  true,  true,  true  },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        makePanel();
        ports.inputs = { "Varn Tamrel Virtual" };
        ports.outputs = {};
        connectTo ("Varn Tamrel Virtual");

        if (c.inputListed)   ports.inputs.add (upgradePort);
        if (c.outputListed)  ports.outputs.add (upgradePort);
        ports.refusedInputs = c.inputRefuses ? juce::StringArray { upgradePort } : juce::StringArray {};
        ports.refusedOutputs = c.outputRefuses ? juce::StringArray { upgradePort } : juce::StringArray {};

        activate();

        ASSERT_EQ (boxes.size(), 1u);
        EXPECT_EQ (boxes[0].icon, juce::MessageBoxIconType::InfoIcon);
        EXPECT_EQ (boxes[0].title, "Midi Device");
        EXPECT_EQ (boxes[0].text, "Could not open the selected MIDI input device: Fenz firmware upgrade");
        EXPECT_EQ (panel->getState().step, 1);
        EXPECT_EQ (stateOf (*panel).enabled, enabledAt (1));

        const bool inputOpens = c.inputListed && ! c.inputRefuses;
        const bool outputOpens = c.outputListed && ! c.outputRefuses;
        EXPECT_EQ (inside (*panel).handler->midiInput != nullptr, inputOpens);
        EXPECT_EQ (inside (*panel).handler->midiOutput != nullptr, outputOpens);

        // Upgrade then refuses to start, names the missing half and closes the other.
        boxes.clear();
        press (testsupport::upgradeStep);

        ASSERT_EQ (boxes.size(), 1u);
        EXPECT_EQ (boxes[0].title, "Firmware Upgrade Error");
        EXPECT_EQ (boxes[0].text, inputOpens ? "No MIDI output device is open" : "No MIDI input device is open");
        EXPECT_FALSE (boxes[0].portsOpen);
        EXPECT_TRUE (ports.sent().empty() || ports.sentTo (upgradePort).empty());
        EXPECT_EQ (ports.liveInputs + ports.liveOutputs, 0);
        TearDown();
        ports.calls.clear();
    }
}

// Activate opens each half of the upgrade pair by what it was listed as: a port arriving or
// leaving in front of it between the look-up and the open leaves the pair on the upgrade
// ports, and a half that has gone opens nothing else in its place.
TEST_F (UpgradeSteps, ActivateOpensThePairItLookedUpWhateverComesOrGoesBeforeIt)
{
    struct Case { const char* what; bool arrives; int removeAt; bool opens; };
    const Case cases[] = {
        { "a port arrives before it",  true,  -1, true },
        { "a port before it leaves",   false,  0, true },
        { "it leaves itself",          false,  1, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        makePanel();
        ports.openedInputs.clear();
        ports.openedOutputs.clear();
        ports.inputs = { "Varn Tamrel Virtual" };
        connectTo ("Varn Tamrel Virtual");
        ports.inputs = { "Some Synth", upgradePort, "Varn Tamrel Virtual" };
        ports.outputs = { "Some Synth", upgradePort };
        ports.numberInputs();
        ports.numberOutputs();

        // Once the port is chosen, each list changes the second time it is looked at.
        const auto changeAtSecondListing = [&] (int& listings, juce::StringArray& names, juce::StringArray& identifiers)
        {
            if (panel->getState().upgradeDeviceName != upgradePort || ++listings != 2)
                return;

            if (c.arrives)
            {
                names.insert (0, "Newcomer");
                identifiers.insert (0, "newcomer");
            }
            else
            {
                names.remove (c.removeAt);
                identifiers.remove (c.removeAt);
            }
        };

        int inputListings = 0, outputListings = 0;
        ports.onListInputs = [&] { changeAtSecondListing (inputListings, ports.inputs, ports.inputIdentifiers); };
        ports.onListOutputs = [&] { changeAtSecondListing (outputListings, ports.outputs, ports.identifiers); };

        activate();
        ports.onListInputs = nullptr;
        ports.onListOutputs = nullptr;

        EXPECT_GE (inputListings, 2) << "the inputs were not looked at again before the open";
        EXPECT_GE (outputListings, 2) << "the outputs were not looked at again before the open";
        const auto expected = c.opens ? upgradePort : juce::String();
        EXPECT_EQ (ports.openedInputs.joinIntoString (","), expected);
        EXPECT_EQ (ports.openedOutputs.joinIntoString (","), expected);
        EXPECT_EQ (panel->getState().step, c.opens ? 2 : 1);
        TearDown();
        ports.identifiers.clear();
        ports.inputIdentifiers.clear();
    }
}

//==============================================================================
// The checks before the first packet: no input, no output, an image too small or too large.
// Nothing reaches the device; the box comes after the ports are closed and 800 ms have passed;
// the panel is back at Connect with both names cleared.
TEST_F (UpgradeSteps, UpgradeRefusesBeforeSendingAnything)
{
    juce::TemporaryFile small (".bin"), large (".bin"), empty (".bin");
    small.getFile().replaceWithData (juce::MemoryBlock (511, true).getData(), 511);
    large.getFile().replaceWithData (juce::MemoryBlock (63488, true).getData(), 63488);
    empty.getFile().create();

    struct Case { const char* what; bool withPorts; const juce::File* image; juce::String error; };

    const juce::File missing = small.getFile().getSiblingFile ("missing-image.bin");

    const Case cases[] = {
        { "no ports (nothing activated)", false, &small.getFile(),  "No MIDI input device is open" },
        { "511 bytes",                    true,  &small.getFile(),  "Wrong file or cannot find this file!" },
        { "63488 bytes",                  true,  &large.getFile(),  "Wrong file or cannot find this file!" },
        { "an empty file",                true,  &empty.getFile(),  "Wrong file or cannot find this file!" },
        { "a file that is not there",     true,  &missing,          "Wrong file or cannot find this file!" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        makePanel();
        ports.inputs = { "Varn Tamrel Virtual", upgradePort };
        ports.outputs = { "Varn Tamrel Virtual", upgradePort };
        ports.calls.clear();
        connectTo ("Varn Tamrel Virtual");

        if (c.withPorts)
        {
            activate();
            ASSERT_EQ (panel->getState().step, 2);
        }

        inside (*panel).getHandler().openProgram (*c.image);
        panel->updateProgress (3);

        const auto timeBefore = time.events.size();
        press (testsupport::upgradeStep);

        EXPECT_TRUE (ports.sentTo (upgradePort).empty()) << "a packet reached the device";
        ASSERT_EQ (boxes.size(), 1u);
        EXPECT_EQ (boxes[0].icon, juce::MessageBoxIconType::WarningIcon);
        EXPECT_EQ (boxes[0].title, "Firmware Upgrade Error");
        EXPECT_EQ (boxes[0].text, c.error);
        EXPECT_EQ (time.pattern (timeBefore, boxes[0].timeAt), "p800") << "the 800 ms pause, and nothing else, before the box";
        EXPECT_EQ (time.pattern (timeBefore), "p800 p300 p600");
        EXPECT_FALSE (boxes[0].portsOpen);
        EXPECT_EQ (boxes[0].state.status, "Firmware Upgrade");
        EXPECT_EQ (boxes[0].state.enabled, (std::array<bool, 5> {})) << "every step button is off during the run";

        expectBackAtTheStart();
        EXPECT_EQ (ports.liveInputs + ports.liveOutputs, 0);
        ASSERT_NE (inside (*panel).handler, nullptr) << "the handler outlives the run";
        TearDown();
    }
}

//==============================================================================
// The instructions for refreshing the device's name. Outside macOS no command is started.
TEST_F (UpgradeSteps, UpdateDeviceNameShowsTheInstructions)
{
    makePanel();
    press (inside (*panel).updateDeviceNameButton);

    ASSERT_EQ (boxes.size(), 1u);
    EXPECT_EQ (boxes[0].icon, juce::MessageBoxIconType::NoIcon);
    EXPECT_EQ (boxes[0].title, "");
    EXPECT_EQ (boxes[0].text,
               "After \"Audio MIDI Setup\" opened.\n"
               "\n"
               "1. Check \"Show MIDI Window\" \n"
               "on \"Window\" pull-down menu, \n"
               "at the top task-bar.\n"
               "\n"
               "2. Turn off your device, drag \n"
               "the sroll-bar to find out your device, \n"
               "and select it.\n"
               "\n"
               "3. Click \"Remove Device\".\n"
               "\n"
               "Then turn on your device. \n"
               "The displaying name of your device \n"
               "will be refreshed!");

   #if JUCE_MAC
    ASSERT_EQ (commands.size(), 1);
    EXPECT_TRUE (commands[0].startsWith ("open /")) << commands[0];
    EXPECT_TRUE (commands[0].endsWith ("/Utilities/Audio\\ MIDI\\ Setup.app")) << commands[0];
   #else
    EXPECT_TRUE (commands.isEmpty());
   #endif

    EXPECT_EQ (panel->getState().step, -1) << "the step state is not touched";
}

// Any other button does nothing.
TEST_F (UpgradeSteps, OtherButtonsDoNothing)
{
    makePanel();
    ports.inputs = { "Varn Tamrel Virtual" };
    juce::TextButton stranger ("Connect");
    press (stranger);

    EXPECT_TRUE (choosers.empty());
    EXPECT_TRUE (boxes.empty());
    EXPECT_EQ (panel->getState().step, -1);
}
