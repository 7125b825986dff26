#include "FakeMidiPorts.h"
#include "RandomImage.h"
#include "LoopbackHttpServer.h"
#include "ScopedEnvironment.h"
#include "UpgraderFixture.h"
#include "fenz_VirtualSurface.h"
#include "PanelTestSeam.h"

#include <cstdlib>
#include <memory>

// Whole upgrades through the steps, against the simulated surface in its upgrade mode: every
// ending of a run from its cause, as the user meets it.
namespace
{
    using namespace testsupport;
    using Model = fenz::VirtualSurface::Model;

    // Records the step state each time the Upgrade button is switched on or off: it is off for
    // the whole run, so a success shows as a 4 among these, just before the run ends.
    struct StepWatch : public juce::ComponentListener
    {
        explicit StepWatch (fenz::FirmwareUpgradeComponent& p) : panel (p)  { inside (panel).stepButton (testsupport::upgradeStep).addComponentListener (this); }
        ~StepWatch() override  { inside (panel).stepButton (testsupport::upgradeStep).removeComponentListener (this); }

        void componentEnablementChanged (juce::Component&) override  { steps.push_back (panel.getState().step); }

        bool sawStep (int step) const  { return std::find (steps.begin(), steps.end(), step) != steps.end(); }

        fenz::FirmwareUpgradeComponent& panel;
        std::vector<int> steps;
    };

    struct UpgradeRun : public UpgraderFixture
    {
        testsupport::FakeMidiPorts machine;   // the machine's own ports: none
        std::unique_ptr<fenz::VirtualSurface> surface;
        juce::MemoryBlock image;
        std::unique_ptr<juce::TemporaryFile> imageFile;

        void TearDown() override
        {
            UpgraderFixture::TearDown();

            if (surface != nullptr)
                surface->uninstall();

            surface.reset();
        }

        // Connect to the surface, switch it to upgrade mode, open its upgrade ports and load
        // an image, as steps 1 to 4 leave the panel.
        void prepare (Model model, size_t imageSize, const fenz::UpgradeFaults& faults = {})
        {
            reachVersionStep (model, faults);

            if (HasFatalFailure())
                return;

            const auto bytes = testsupport::randomImage (imageSize, (unsigned) imageSize);
            image = juce::MemoryBlock (bytes.data(), bytes.size());
            imageFile = std::make_unique<juce::TemporaryFile> (".bin");
            ASSERT_TRUE (imageFile->getFile().replaceWithData (image.getData(), image.getSize()));
            inside (*panel).handler->openProgram (imageFile->getFile());
            ASSERT_EQ (inside (*panel).handler->size, imageSize);
            panel->updateProgress (3);   // where step 4 leaves the panel
            boxes.clear();
        }

        // Connect to the surface, switch it to upgrade mode and open its upgrade ports, as
        // steps 1 to 3 leave the panel.
        void reachVersionStep (Model model, const fenz::UpgradeFaults& faults = {})
        {
            surface = std::make_unique<fenz::VirtualSurface> (model);
            surface->install();
            surface->setUpgradeFaults (faults);
            makePanel (surface->getProductId());

            willChoose (surface->getPortName());
            press (testsupport::connectStep);
            ASSERT_EQ (panel->getState().step, 0);

            press (testsupport::eraseStep);
            ASSERT_EQ (panel->getState().step, 1);
            ASSERT_EQ (surface->getMode(), fenz::VirtualSurface::Mode::upgrade);

            willChoose (juce::String (fenz::VirtualSurface::upgradePortName));
            press (testsupport::activateStep);
            ASSERT_EQ (panel->getState().step, 2);
            boxes.clear();
        }

        // Presses Upgrade and answers the one box the run ends with.
        Box upgrade()
        {
            press (testsupport::upgradeStep);
            EXPECT_EQ (boxes.size(), 1u);
            return boxes.empty() ? Box {} : boxes.back();
        }

        // After any run: back at Connect, both names cleared, the ports closed, the handler and
        // its image kept.
        void expectStartedOver()
        {
            expectBackAtTheStart();
            ASSERT_NE (inside (*panel).handler, nullptr);
            EXPECT_EQ (inside (*panel).handler->midiInput, nullptr);
            EXPECT_EQ (inside (*panel).handler->midiOutput, nullptr);
            EXPECT_EQ (inside (*panel).handler->size, image.getSize());
            EXPECT_FALSE (inside (*panel).handler->connectAck || inside (*panel).handler->eraseAck
                          || inside (*panel).handler->writeAck || inside (*panel).handler->resetAck);
        }

        std::vector<juce::uint8> writtenPart() const
        {
            auto written = surface->getWrittenImage();
            written.resize (std::min (written.size(), image.getSize()));
            return written;
        }

        std::vector<juce::uint8> imageBytes() const
        {
            auto* bytes = static_cast<const juce::uint8*> (image.getData());
            return { bytes, bytes + image.getSize() };
        }
    };
}

//==============================================================================
// The largest image the device takes, written whole: the success box, step 4 reached for a
// moment, and the image on the device byte for byte, zeros after it in the last block.
TEST_F (UpgradeRun, LargestImageArrivesWhole)
{
    prepare (Model::tamrel, 63487);
    StepWatch watch (*panel);

    // On the recorded timing, as every case here whose subject is not the pacing: whole
    // upgrades on the real one are the window tests' (and the benchmark's).
    const auto box = upgrade();

    EXPECT_EQ (box.icon, juce::MessageBoxIconType::InfoIcon);
    EXPECT_EQ (box.title, "Firmware Upgrade Success");
    EXPECT_EQ (box.text, "Your firmware has been upgraded!");
    EXPECT_FALSE (box.portsOpen);
    EXPECT_EQ (box.state.status, "Firmware Upgrade");
    EXPECT_GT (box.state.progress, 0.99) << "the bar stood at the end of the image";
    EXPECT_TRUE (watch.sawStep (4));
    expectStartedOver();

    const auto written = surface->getWrittenImage();
    ASSERT_EQ (written.size(), 124u * 512u);
    EXPECT_TRUE (writtenPart() == imageBytes()) << "the image on the device differs from the file";
    EXPECT_TRUE (std::all_of (written.begin() + 63487, written.end(), [] (auto b) { return b == 0; }));
    EXPECT_EQ (surface->getMode(), fenz::VirtualSurface::Mode::normal) << "the reset brought the device back";
}

// An image that step 4 downloads reaches the device only when the download is known whole. A
// server that announces no length and closes after 20000 bytes of an image of 63487, or one
// whose chunks stop before the last, has given a part: the download's box, no Upgrade step to
// press, and nothing written. The same image with its length announced, or in chunks up to the
// last, is written whole.
TEST_F (UpgradeRun, DownloadedImageIsWrittenOnlyWhenWhole)
{
    const testsupport::ScopedNoProxies noProxies;
    const auto bytes = testsupport::randomImage (63487, 1);
    const juce::MemoryBlock full (bytes.data(), bytes.size());

    struct Case
    {
        const char* name;
        juce::String head;
        juce::MemoryBlock wire;   // the body as the connection carries it
        bool whole;
    };

    const Case cases[] = {
        { "no length, closed after 20000 bytes", headWithoutLength(), juce::MemoryBlock (full.getData(), 20000), false },
        { "in chunks, cut before the last", chunkedHead(), chunked (full, 8192, false), false },
        { "its length announced", headWithLength (juce::String (full.getSize())), full, true },
        { "in chunks up to the last", chunkedHead(), chunked (full, 8192), true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        LoopbackHttpServer server;
        const testsupport::ScopedEnvironment serverVariable ("KESTAL_FIRMWARE_SERVER", server.root().toRawUTF8());
        server.answer ("/firmware.xml", 200,
                       "<firmwares><firmware pid=\"176\" name=\"Tamrel\" version=\"1.0\" fw=\"tamrel_ostrel_1.0.bin\"/></firmwares>");
        server.answer ("/tamrel_ostrel_1.0.bin", { 200, c.wire, LoopbackHttpServer::Way::whole, 0, c.head });

        reachVersionStep (Model::tamrel);
        ASSERT_FALSE (HasFatalFailure());
        image = full;

        // The version chooser's only entry is taken; the port choosers are answered as before.
        inside (*panel).dialogs.runChooser = [ports = inside (*panel).dialogs.runChooser] (juce::Component& chooser, const juce::String& title)
        {
            return dynamic_cast<fenz::FirmwareSelectComponent*> (&chooser) != nullptr ? 1 : ports (chooser, title);
        };

        press (testsupport::versionStep);

        // As the user can: Upgrade only once it is offered.
        if (panel->getState().enabled[4])
            press (testsupport::upgradeStep);

        juce::StringArray titlesShown;

        for (const auto& box : boxes)
            titlesShown.add (box.title);

        const auto boxTitles = titlesShown.joinIntoString (" | ");

        EXPECT_EQ (server.requestsFor ("/tamrel_ostrel_1.0.bin"), 1);

        if (c.whole)
        {
            EXPECT_EQ (boxTitles, "Firmware Upgrade Success");
            EXPECT_TRUE (writtenPart() == imageBytes()) << "the image on the device differs from the download";
        }
        else
        {
            EXPECT_EQ (boxTitles, "Firmware Donwload");
            EXPECT_EQ (boxes.empty() ? juce::String() : boxes[0].text, "Could not download firmware file");
            EXPECT_TRUE (surface->getWrittenImage().empty()) << "a part of the image was written to the device";
            EXPECT_EQ (panel->getState().step, 2);
            EXPECT_FALSE (panel->getState().enabled[4]);
        }

        TearDown();
    }
}

// The extender, with the smallest image and one a byte longer than a block.
TEST_F (UpgradeRun, ExtenderTakesSmallImages)
{
    for (const size_t size : { size_t (512), size_t (513) })
    {
        SCOPED_TRACE (size);
        prepare (Model::ostrel, size);
        EXPECT_EQ (inside (*panel).pid, 177);

        const auto box = upgrade();

        EXPECT_EQ (box.title, "Firmware Upgrade Success");
        EXPECT_TRUE (writtenPart() == imageBytes()) << "the image on the device differs from the file";
        EXPECT_EQ (surface->getWrittenImage().size(), size == 512 ? 512u : 1024u);
        expectStartedOver();
        TearDown();
    }
}

// A device that answers before the send has returned (a delay of 0 answers on the sending
// thread): every answer must count for the packet it answers.
TEST_F (UpgradeRun, AnswerBeforeTheSendReturnsIsNotLost)
{
    prepare (Model::tamrel, 5000);
    surface->setAnswerDelay (0);

    const auto box = upgrade();

    EXPECT_EQ (box.title, "Firmware Upgrade Success");
    EXPECT_TRUE (writtenPart() == imageBytes()) << "the image on the device differs from the file";
    expectStartedOver();
}

//==============================================================================
// Every silent stage of the device ends the run with its own text. The stages before the
// failure did their work; nothing after it was sent. The run gives up after the stage's
// slices of 33 ms: 180 for a command packet. The erase and the data packets share one count
// of 179 slices, after which the packet that is waiting has one more and 30 further slices:
// 210 from the erase packet on, however soon the packets before it were answered. The slices follow
// the last pause of the stage's packet (the data packets take none without the macOS pacing,
// so the last pause before their slices is the erase's 100 ms), and the box follows them
// after 800 ms.
namespace
{
    struct SilentStage
    {
        const char* name;
        fenz::UpgradeFaults faults;
        const char* error;
        size_t blocksWritten;
        const char* lastPauseBefore;
        int slices;
    };

    fenz::UpgradeFaults withFaults (void (*change) (fenz::UpgradeFaults&))
    {
        fenz::UpgradeFaults f;
        change (f);
        return f;
    }

    const SilentStage silentStages[] = {
        { "NoConnectAnswer", withFaults ([] (fenz::UpgradeFaults& f) { f.silentAtConnect = true; }), "Could not connect to hardware", 0,
          "p1", 180 },
        { "ConnectAnsweredWithAnotherCode", withFaults ([] (fenz::UpgradeFaults& f) { f.wrongCodeAt = fenz::UpgradeFaults::Stage::connect; }),
          "Could not connect to hardware", 0, "p1", 180 },
        { "NoEraseAnswer", withFaults ([] (fenz::UpgradeFaults& f) { f.silentAtErase = true; }), "Could not erase existing firmware", 0,
          "p100", 180 },
        { "Block2NotAnswered", withFaults ([] (fenz::UpgradeFaults& f) { f.silentAtBlock = 2; }), "Could not write new firmware", 3,
          "p100", 210 },
    };

    struct SilentDevice : public UpgradeRun,
                          public ::testing::WithParamInterface<SilentStage> {};
}

TEST_P (SilentDevice, EndsTheRunWithTheStagesText)
{
    const auto& c = GetParam();
    prepare (Model::tamrel, 4 * 512);
    surface->setUpgradeFaults (c.faults);
    StepWatch watch (*panel);

    const auto box = upgrade();

    EXPECT_EQ (box.icon, juce::MessageBoxIconType::WarningIcon);
    EXPECT_EQ (box.title, "Firmware Upgrade Error");
    EXPECT_EQ (box.text, c.error);
    EXPECT_FALSE (box.portsOpen);
    ASSERT_GE (box.timeAt, (size_t) c.slices + 2);
    EXPECT_EQ (time.pattern (box.timeAt - (size_t) c.slices - 2, box.timeAt),
               c.lastPauseBefore + (" " + repeated ("s33", c.slices)) + " p800");
    EXPECT_FALSE (watch.sawStep (4));
    EXPECT_EQ (surface->getWrittenImage().size(), c.blocksWritten * 512);
    expectStartedOver();
}

INSTANTIATE_TEST_SUITE_P (Stages, SilentDevice, ::testing::ValuesIn (silentStages),
                          [] (const auto& param) { return std::string (param.param.name); });

// A reset that is not answered: the image is on the device, and the user is told to power it
// off and on; the panel never shows step 4.
TEST_F (UpgradeRun, UnansweredResetAsksForAPowerCycle)
{
    fenz::UpgradeFaults faults;
    faults.silentAtReset = true;
    prepare (Model::tamrel, 3 * 512 + 7, faults);
    StepWatch watch (*panel);

    const auto box = upgrade();

    EXPECT_EQ (box.icon, juce::MessageBoxIconType::WarningIcon);
    EXPECT_EQ (box.title, "Firmware Upgrade Error");
    EXPECT_EQ (box.text, "Your firmware has been upgraded! Power off your unit and wait for 5 seconds, "
                         "then turn back on for changes to take effect");
    EXPECT_TRUE (writtenPart() == imageBytes()) << "the image on the device differs from the file";
    EXPECT_FALSE (watch.sawStep (4));
    EXPECT_FALSE (watch.steps.empty()) << "the run did end";
    expectStartedOver();
}

// A device that disappears in the middle of the write: its later packets go nowhere and the
// run ends as for any silent packet, with the ports closed and nothing else the worse.
TEST_F (UpgradeRun, DeviceVanishingDuringTheWrite)
{
    fenz::UpgradeFaults faults;
    faults.vanishesAfterBlock = 1;
    prepare (Model::tamrel, 6 * 512, faults);

    const auto box = upgrade();

    EXPECT_EQ (box.title, "Firmware Upgrade Error");
    EXPECT_EQ (box.text, "Could not write new firmware");
    EXPECT_FALSE (box.portsOpen);
    EXPECT_EQ (surface->getWrittenImage().size(), 2u * 512u);
    EXPECT_FALSE (fenz::MidiPorts::getInputNames().contains (fenz::VirtualSurface::upgradePortName));
    expectStartedOver();

    // The panel can start over: Connect finds nothing of the device now.
    willChoose (std::nullopt);
    press (testsupport::connectStep);
    EXPECT_EQ (panel->getState().step, -1);
}

//==============================================================================
// After the run the step takes pauses of its own (the packet senders' are of 100 ms and less):
// 800 ms with the ports closed before the box; after a success 600 ms before step 4 is shown;
// 300 ms before the panel goes back to Connect, and 600 ms before the names are cleared.
TEST_F (UpgradeRun, EndsWithItsPausesAroundTheBox)
{
    struct Case { const char* what; bool resetAnswered; juce::StringArray moments; };

    const Case cases[] = {
        { "success", true, { "800 ms: step 3, 0 boxes, ports closed, names kept, Resetting...",
                             "600 ms: step 3, 1 boxes, ports closed, names kept, Firmware Upgrade",
                             "300 ms: step 4, 1 boxes, ports closed, names kept, Firmware Upgrade",
                             "600 ms: step -1, 1 boxes, ports closed, names kept, Firmware Upgrade" } },
        { "unanswered reset", false, { "800 ms: step 3, 0 boxes, ports closed, names kept, Resetting...",
                                       "300 ms: step 3, 1 boxes, ports closed, names kept, Firmware Upgrade",
                                       "600 ms: step -1, 1 boxes, ports closed, names kept, Firmware Upgrade" } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        fenz::UpgradeFaults faults;
        faults.silentAtReset = ! c.resetAnswered;
        prepare (Model::tamrel, 2 * 512, faults);

        juce::StringArray moments;
        time.onEvent = [this, &moments] (const RecordedTiming::Event& e)
        {
            if (e.kind != RecordedTiming::Event::pause || e.milliseconds <= 100)
                return;

            const auto state = stateOf (*panel);
            const bool open = inside (*panel).handler->midiInput != nullptr || inside (*panel).handler->midiOutput != nullptr;
            const bool named = state.normalName.isNotEmpty() && state.upgradeName.isNotEmpty();
            moments.add (juce::String (e.milliseconds) + " ms: step " + juce::String (state.step) + ", "
                         + juce::String ((int) boxes.size()) + " boxes, ports " + (open ? "open" : "closed")
                         + ", names " + (named ? "kept" : "cleared") + ", " + state.status);
        };

        upgrade();

        EXPECT_EQ (moments, c.moments);
        EXPECT_EQ (time.pattern (time.events.size() - (size_t) c.moments.size()),
                   c.resetAnswered ? "p800 p600 p300 p600" : "p800 p300 p600") << "nothing after the last of them";
        expectStartedOver();
        TearDown();
    }
}

//==============================================================================
// A close asked for during the run does not cut it short: the device is written whole, and
// the panel is still there for the run's last box.
TEST_F (UpgradeRun, CloseRequestWaitsForTheRun)
{
    prepare (Model::tamrel, 8 * 512);

    // Delivered by the run's first slice of the message loop.
    bool answered = true;
    juce::MessageManager::callAsync ([this, &answered] { answered = panel->requestClose(); });

    const auto box = upgrade();

    EXPECT_FALSE (answered) << "the panel may not go while the run goes on";
    EXPECT_EQ (box.title, "Firmware Upgrade Success");
    EXPECT_TRUE (writtenPart() == imageBytes()) << "the image on the device differs from the file";
}

// The last block's offset passes the end of an image that does not fill it, but the bar ends
// the run at 100 %: above that the framework would draw an endless stripe.
TEST_F (UpgradeRun, BarEndsAtTheFullMark)
{
    prepare (Model::tamrel, 40000);

    const auto box = upgrade();

    EXPECT_EQ (box.title, "Firmware Upgrade Success");
    EXPECT_EQ (box.state.progress, 1.0);
}

//==============================================================================
// Quitting in the middle of the write: the window's close and the quit signals ask through the
// held quit, which lets the run write every block and reset the device before it is carried out.
namespace
{
    // The timing given, which calls the function once, in the first run of the message loop
    // that finds the surface holding the given number of blocks. The write runs the loop after
    // every packet, so the call comes right after that block, however busy the machine is.
    fenz::FirmwareUpgradeComponent::Timing atBlock (fenz::FirmwareUpgradeComponent::Timing timing,
                                                    const fenz::VirtualSurface& surface, size_t blocks,
                                                    std::function<void()> function)
    {
        auto called = std::make_shared<bool> (false);

        timing.runMessageLoop = [&surface, blocks, function, called, run = timing.runMessageLoop] (int milliseconds)
        {
            if (! *called && surface.getWrittenImage().size() >= blocks * 512)
            {
                *called = true;
                function();
            }

            run (milliseconds);
        };

        return timing;
    }
}

TEST_F (UpgradeRun, QuitAtBlock30WaitsForTheWholeRun)
{
    prepare (Model::tamrel, 63487);

    size_t blocksAtRequest = 0, blocksAtQuit = 0;
    auto modeAtQuit = fenz::VirtualSurface::Mode::upgrade;
    bool quit = false;

    inside (*panel).timing = atBlock (inside (*panel).timing, *surface, 30, [&]
    {
        blocksAtRequest = surface->getWrittenImage().size() / 512;
        fenz::FirmwareUpgradeComponent::quitWhenNoStepRuns ([&]
        {
            quit = true;
            blocksAtQuit = surface->getWrittenImage().size() / 512;
            modeAtQuit = surface->getMode();
        });
    });

    press (testsupport::upgradeStep);

    EXPECT_GE (blocksAtRequest, 30u);
    EXPECT_LT (blocksAtRequest, 124u) << "the quit was asked for during the write";
    EXPECT_FALSE (quit) << "the quit waits until the step has returned";
    EXPECT_TRUE (writtenPart() == imageBytes()) << "the image on the device differs from the file";
    EXPECT_TRUE (boxes.empty()) << "a quit waits for no one's answer";
    expectStartedOver();

    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_TRUE (quit);
    EXPECT_EQ (blocksAtQuit, 124u);
    EXPECT_EQ (modeAtQuit, fenz::VirtualSurface::Mode::normal) << "the device was reset before the quit";
    EXPECT_FALSE (fenz::FirmwareUpgradeComponent::isQuitHeld());
}

// With no step running the quit happens at once.
TEST_F (UpgradeRun, QuitWithNoStepRunningIsNotHeld)
{
    makePanel();
    bool quit = false;

    fenz::FirmwareUpgradeComponent::quitWhenNoStepRuns ([&quit] { quit = true; });

    EXPECT_TRUE (quit);
    EXPECT_FALSE (panel->isCloseRequested());
}

// Even a quit that did reach the framework in the middle of the write does not cut the run
// short: once its message has arrived the message loop returns at once, but every slice still
// takes its time, so the device is written whole and reset. The slices are the panel's real ones here;
// the pauses are not what the case is about. The quit ends the message loop for good, so the
// case runs in a process of its own.
TEST_F (UpgradeRun, QuitThatReachedTheFrameworkDoesNotCutTheRunShort)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");

    EXPECT_EXIT (
        {
            prepare (Model::tamrel, 12 * 512 + 100);
            inside (*panel).timing.runMessageLoop = ownTiming.runMessageLoop;
            inside (*panel).timing = atBlock (inside (*panel).timing, *surface, 3, [] { juce::MessageManager::getInstance()->stopDispatchLoop(); });

            const auto box = upgrade();

            const bool whole = box.title == "Firmware Upgrade Success" && writtenPart() == imageBytes()
                                && surface->getMode() == fenz::VirtualSurface::Mode::normal
                                && juce::MessageManager::getInstance()->hasStopMessageBeenSent();
            std::_Exit (whole ? 0 : 1);
        },
        ::testing::ExitedWithCode (0), "");
}
