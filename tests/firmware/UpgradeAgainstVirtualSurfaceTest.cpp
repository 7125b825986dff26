#include <gtest/gtest.h>

#include "FakeMidiPorts.h"
#include "RandomImage.h"
#include "RecordedTiming.h"
#include "fenz_FirmwareGlobals.h"
#include "fenz_MacVersion.h"
#include "fenz_MidiInputHandler.h"
#include "fenz_Pause.h"
#include "fenz_UpgradeProtocol.h"
#include "fenz_UpgradeRun.h"
#include "fenz_VirtualSurface.h"

#include <chrono>
#include <thread>

// The upgrader's side of the dialogue, as the Upgrade step drives it, against the simulated
// surface: the handler's own ports, opened by name through the port layer, the protocol's
// packet senders, and the handler's flags set by the surface's answers on its own thread.
using Handler = fenz::FirmwareUpgradeComponent::MidiInputHandler;
using Bytes = std::vector<juce::uint8>;
namespace Protocol = fenz::UpgradeProtocol;

using testsupport::randomImage;

namespace
{

// Waits for the flag a little longer than any answer can take; false if it never came.
bool waitFor (const std::atomic<bool>& flag)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds (10);

    while (! flag.load())
    {
        if (std::chrono::steady_clock::now() > end)
            return false;

        std::this_thread::sleep_for (std::chrono::microseconds (200));
    }

    return true;
}

class UpgradeAgainstVirtualSurface : public ::testing::Test
{
protected:
    testsupport::FakeMidiPorts system;   // no machine ports: only the surface's
    fenz::VirtualSurface surface { fenz::VirtualSurface::Model::tamrel };
    Handler handler;
    juce::TemporaryFile imageFile { ".bin" };

    // The packet senders pace as they do for the device.
    const Protocol::PauseFunction pause = [] (int milliseconds) { fenz::pauseMilliseconds (milliseconds); };

    void SetUp() override
    {
        surface.install();
        handler.pid = fenz::Product::tamrel;
    }

    void TearDown() override
    {
        handler.closePorts();
    }

    // Connect, Erase and Activate, as far as the ports go: the request on the normal output,
    // then the handler's pair on the upgrade port.
    void activate()
    {
        {
            const auto names = fenz::MidiPorts::getOutputNames();
            auto normal = fenz::MidiPorts::openOutput (names.indexOf (surface.getPortName()));
            ASSERT_NE (normal, nullptr);
            Protocol::sendUpgradeModeRequest (*normal, handler.pid);
        }

        ASSERT_EQ (surface.getMode(), fenz::VirtualSurface::Mode::upgrade);

        const juce::String upgradePort ("Fenz firmware upgrade");
        handler.midiInput = fenz::MidiPorts::openInput (fenz::MidiPorts::getInputNames().indexOf (upgradePort), handler);
        handler.midiOutput = fenz::MidiPorts::openOutput (fenz::MidiPorts::getOutputNames().indexOf (upgradePort));
        ASSERT_NE (handler.midiInput, nullptr);
        ASSERT_NE (handler.midiOutput, nullptr);
        handler.midiInput->start();
        handler.clearFlags();
    }

    void load (const Bytes& image)
    {
        ASSERT_TRUE (imageFile.getFile().replaceWithData (image.data(), image.size()));
        handler.openProgram (imageFile.getFile());
        ASSERT_EQ (handler.size, image.size());
    }

    // The device connected and erased, each acknowledged, as the Upgrade run begins.
    void connectAndErase()
    {
        Protocol::sendConnect (*handler.midiOutput, pause);
        ASSERT_TRUE (waitFor (handler.connectAck));
        Protocol::sendErase (*handler.midiOutput, handler.pid, pause);
        ASSERT_TRUE (waitFor (handler.eraseAck));
    }

    auto dataPacket (int block) const
    {
        return Protocol::makeDataPacket (handler.data, handler.size, block);
    }

    // After a packet the surface must refuse, a connect: answers come in order, so once its
    // answer is in, none is still coming for the packet before it.
    void expectNoAnswerBeforeTheNextConnect (const std::atomic<bool>& flag)
    {
        handler.connectAck = false;
        Protocol::sendConnect (*handler.midiOutput, pause);
        ASSERT_TRUE (waitFor (handler.connectAck));
        EXPECT_FALSE (flag.load()) << surface.getNotes().joinIntoString ("\n");
    }
};

} // namespace

//==============================================================================
namespace
{
    struct ImageSize
    {
        size_t bytes;
        int blocks;    // the blocks it takes on the device, the last one filled up with zeros
    };

    void PrintTo (const ImageSize& s, std::ostream* out)  { *out << s.bytes << " bytes"; }

    class WholeImage : public UpgradeAgainstVirtualSurface, public ::testing::WithParamInterface<ImageSize> {};
}

TEST_P (WholeImage, ArrivesByteForByteWithEveryPacketAcknowledged)
{
    const auto image = randomImage (GetParam().bytes, (unsigned) GetParam().bytes);
    ASSERT_NO_FATAL_FAILURE (load (image));
    ASSERT_NO_FATAL_FAILURE (activate());

    ASSERT_NO_FATAL_FAILURE (connectAndErase());

    Protocol::DataPacketSender sender (*handler.midiOutput, pause);
    const auto numPackets = Protocol::numDataPackets (handler.size);

    for (int block = 0; block < numPackets; ++block)
    {
        handler.writeAck = false;
        sender.send (dataPacket (block));
        ASSERT_TRUE (waitFor (handler.writeAck)) << "block " << block << "\n" << surface.getNotes().joinIntoString ("\n");
    }

    handler.resetAck = false;
    Protocol::sendReset (*handler.midiOutput, false, pause);
    ASSERT_TRUE (waitFor (handler.resetAck));

    // The whole blocks as sent: the image, then zeros up to the end of its last block.
    ASSERT_EQ (numPackets, GetParam().blocks);
    auto expected = image;
    expected.resize ((size_t) GetParam().blocks * 512, 0x00);
    EXPECT_EQ (surface.getWrittenImage(), expected);

    EXPECT_EQ (surface.getMode(), fenz::VirtualSurface::Mode::normal);
    EXPECT_EQ (fenz::MidiPorts::getOutputNames(), juce::StringArray (surface.getPortName()));
    // The note gives the image as the file has it, then as written.
    ASSERT_NE (image.back(), 0) << "an image ending in a zero would read as padded";
    const auto notes = surface.getNotes().joinIntoString ("\n");
    EXPECT_TRUE (notes.contains ("# reset: image of " + juce::String (image.size()) + " bytes")) << notes;
    EXPECT_TRUE (notes.contains ("as written, padded to " + juce::String (expected.size()) + " bytes")) << notes;
    EXPECT_FALSE (surface.getNotes().joinIntoString ("\n").contains ("refused"));
}

INSTANTIATE_TEST_SUITE_P (Sizes, WholeImage, ::testing::Values (ImageSize { 512, 1 }, ImageSize { 513, 2 },
                                                                ImageSize { 1300, 3 }, ImageSize { 63487, 124 }));

//==============================================================================
TEST_F (UpgradeAgainstVirtualSurface, AnEraseBeforeTheConnectIsNotAcknowledged)
{
    ASSERT_NO_FATAL_FAILURE (load (randomImage (1024, 1)));
    ASSERT_NO_FATAL_FAILURE (activate());

    Protocol::sendErase (*handler.midiOutput, handler.pid, pause);
    expectNoAnswerBeforeTheNextConnect (handler.eraseAck);

    // After the connect, the same erase is taken.
    Protocol::sendErase (*handler.midiOutput, handler.pid, pause);
    EXPECT_TRUE (waitFor (handler.eraseAck));
}

TEST_F (UpgradeAgainstVirtualSurface, AnEraseWithAnotherModelsEraseByteIsNotAcknowledged)
{
    ASSERT_NO_FATAL_FAILURE (load (randomImage (1024, 2)));
    ASSERT_NO_FATAL_FAILURE (activate());
    Protocol::sendConnect (*handler.midiOutput, pause);
    ASSERT_TRUE (waitFor (handler.connectAck));

    ASSERT_EQ (Protocol::eraseByteFor (94), 0x71);
    Protocol::sendErase (*handler.midiOutput, 94, pause);
    expectNoAnswerBeforeTheNextConnect (handler.eraseAck);
}

TEST_F (UpgradeAgainstVirtualSurface, ADataPacketWithABadChecksumIsNotAcknowledged)
{
    ASSERT_NO_FATAL_FAILURE (load (randomImage (1024, 3)));
    ASSERT_NO_FATAL_FAILURE (activate());
    ASSERT_NO_FATAL_FAILURE (connectAndErase());

    auto spoilt = dataPacket (0);
    spoilt[200] ^= 0x01;

    Protocol::DataPacketSender sender (*handler.midiOutput, pause);
    handler.writeAck = false;
    sender.send (spoilt);
    expectNoAnswerBeforeTheNextConnect (handler.writeAck);
}

TEST_F (UpgradeAgainstVirtualSurface, ADataPacketOutOfTurnIsNotAcknowledged)
{
    ASSERT_NO_FATAL_FAILURE (load (randomImage (1536, 4)));
    ASSERT_NO_FATAL_FAILURE (activate());
    ASSERT_NO_FATAL_FAILURE (connectAndErase());

    Protocol::DataPacketSender sender (*handler.midiOutput, pause);
    handler.writeAck = false;
    sender.send (dataPacket (1));
    expectNoAnswerBeforeTheNextConnect (handler.writeAck);
}

//==============================================================================
// The Upgrade run on its own, without a panel: the stages it shows, the pauses and slices it
// takes through what it is given, and how each unanswered stage ends it.
namespace
{

// Keeps what the run shows, in order: "progress k" and "status text".
struct RecordingDisplay : public fenz::UpgradeRun::Display
{
    void setProgress (double k) override                   { shown.add ("progress " + juce::String (k)); }
    void setStatusText (const juce::String& text) override  { shown.add ("status " + text); }

    juce::StringArray shown;
};

class WholeRun : public UpgradeAgainstVirtualSurface
{
protected:
    ~WholeRun() override  { fenz::_mac_major = 0; }

    juce::String run()
    {
        return fenz::UpgradeRun::run (handler, display, time.pauseFunction(), time.slice());
    }

    bool flagsClear() const
    {
        return ! (handler.connectAck || handler.eraseAck || handler.writeAck || handler.resetAck);
    }

    RecordingDisplay display;
    testsupport::RecordedTiming time;
};

} // namespace

TEST_F (WholeRun, ShowsEachStageAndEveryBlock)
{
    const auto image = randomImage (3 * 512 + 7, 5);
    ASSERT_NO_FATAL_FAILURE (load (image));
    ASSERT_NO_FATAL_FAILURE (activate());

    EXPECT_EQ (run(), "");

    EXPECT_EQ (display.shown, juce::StringArray ({ "progress 0", "status Connecting...",
                                                   "progress 1", "status Erasing...",
                                                   "progress 2", "status Installing...",
                                                   "progress 512", "progress 1024", "progress 1536", "progress 2048",
                                                   "status Resetting..." }));
    auto expected = image;
    expected.resize (4 * 512, 0x00);
    EXPECT_EQ (surface.getWrittenImage(), expected);
    EXPECT_EQ (surface.getMode(), fenz::VirtualSurface::Mode::normal);
    EXPECT_TRUE (flagsClear());
}

// A device that answers before the send returns, so that no wait but the data packets' needs a
// slice: every pause of the protocol comes through the pause the run was given (here with the
// macOS pacing), and every wait through its slices, one per data packet.
TEST_F (WholeRun, PacesAndWaitsThroughWhatItIsGiven)
{
    ASSERT_NO_FATAL_FAILURE (load (randomImage (2 * 512, 6)));
    ASSERT_NO_FATAL_FAILURE (activate());
    surface.setAnswerDelay (0);
    fenz::_mac_major = fenz::MacVersion::catalina + 1;

    EXPECT_EQ (run(), "");

    using testsupport::repeated;
    const auto connect = repeated ("p1", 17);
    const auto erase = repeated ("p1", 17) + " p100";
    const auto dataPacket = repeated ("p1", 265) + " s33";    // 1 ms before every second of 530 messages
    const auto reset = repeated ("p2", 17);

    EXPECT_EQ (time.pattern(), connect + " " + erase + " " + dataPacket + " " + dataPacket + " " + reset);
}

// Each stage that is not answered ends the run with its text after what the run had shown
// so far, and leaves the flags clear.
namespace
{
    struct UnansweredCase
    {
        const char* name;
        void (*fault) (fenz::UpgradeFaults&);
        const char* text;
        const char* lastShown;
    };

    const UnansweredCase unansweredCases[] = {
        { "Connect", [] (fenz::UpgradeFaults& f) { f.silentAtConnect = true; }, "Could not connect to hardware", "status Connecting..." },
        { "Erase", [] (fenz::UpgradeFaults& f) { f.silentAtErase = true; }, "Could not erase existing firmware", "status Erasing..." },
        { "Block1", [] (fenz::UpgradeFaults& f) { f.silentAtBlock = 1; }, "Could not write new firmware", "progress 512" },
        { "Reset", [] (fenz::UpgradeFaults& f) { f.silentAtReset = true; },
          "Your firmware has been upgraded! Power off your unit and wait for 5 seconds, "
          "then turn back on for changes to take effect", "status Resetting..." },
    };

    class UnansweredStage : public WholeRun, public ::testing::WithParamInterface<UnansweredCase> {};
}

TEST_P (UnansweredStage, EndsTheRunWithItsText)
{
    const auto& c = GetParam();
    fenz::UpgradeFaults faults;
    c.fault (faults);
    ASSERT_NO_FATAL_FAILURE (load (randomImage (3 * 512, 7)));
    ASSERT_NO_FATAL_FAILURE (activate());
    surface.setUpgradeFaults (faults);

    EXPECT_EQ (run(), c.text);

    ASSERT_FALSE (display.shown.isEmpty());
    EXPECT_EQ (display.shown[display.shown.size() - 1], c.lastShown);
    EXPECT_TRUE (flagsClear());
}

INSTANTIATE_TEST_SUITE_P (Stages, UnansweredStage, ::testing::ValuesIn (unansweredCases),
                          [] (const auto& i) { return std::string (i.param.name); });
