#include <gtest/gtest.h>
#include "PanelTestSupport.h"
#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_MidiInputHandler.h"
#include "PanelTestSeam.h"

#include <algorithm>

using fenz::FirmwareUpgradeComponent;
using namespace testsupport;
using namespace testsupport;

namespace
{
    // A panel built and closed at once; its close-time reset takes its pauses through the
    // given function, which need not wait.
    void buildAndCloseAPanel (std::function<void (int milliseconds)> pause = [] (int) {})
    {
        FirmwareUpgradeComponent panel (176);
        inside (panel).timing.pause = std::move (pause);
    }
}

// Which ports a closing panel resets: those whose name holds the upgrade fragment exactly as
// it is written, each once, in list order.
TEST (CloseTimeReset, ServesEveryPortWhoseNameHoldsTheFragment)
{
    struct Row { juce::StringArray outputs; juce::StringArray served; };
    const Row rows[] =
    {
        { { "Fenz firmware upgrade", "Fenz firmware upgrade 2", "Fenz Tamrel MIDI" },
          { "Fenz firmware upgrade", "Fenz firmware upgrade 2" } },
        { { "Fenz Tamrel MIDI", "USB Audio Device" }, {} },
        { {}, {} },
        { { "FENZ FIRMWARE UPGRADE", "fenz firmware upgrade", "Fenz Firmware Upgrade" }, {} },   // other letter case
        { { "2- Fenz firmware upgrade", "Fenz firmware upgrad", "Fenz  firmware upgrade" }, { "2- Fenz firmware upgrade" } },
        { { "Fenz firmware upgrade", "Fenz firmware upgrade" }, { "Fenz firmware upgrade", "Fenz firmware upgrade" } },
    };

    for (const auto& r : rows)
    {
        FakeMidiPorts ports (r.outputs);
        ports.numberOutputs();
        buildAndCloseAPanel();

        EXPECT_EQ (ports.openedOutputs, r.served) << r.outputs.joinIntoString (" | ").toStdString();

        // Every port that was opened was closed again.
        EXPECT_EQ (ports.openedOutputs.size(), ports.numOutputCloses);
    }
}

TEST (CloseTimeReset, ServesMoreThanTwelvePorts)
{
    juce::StringArray names;

    for (int i = 1; i <= 15; ++i)
    {
        names.add ("Fenz firmware upgrade " + juce::String (i));
        names.add ("Fenz Tamrel MIDI " + juce::String (i));
    }

    FakeMidiPorts ports (names);
    ports.numberOutputs();
    buildAndCloseAPanel();

    juce::StringArray expected;

    for (int i = 1; i <= 15; ++i)
        expected.add ("Fenz firmware upgrade " + juce::String (i));

    EXPECT_EQ (ports.openedOutputs, expected);
}

TEST (CloseTimeReset, APortThatDoesNotOpenIsSkipped)
{
    FakeMidiPorts ports ({ "Fenz firmware upgrade 1", "Fenz firmware upgrade 2", "Fenz firmware upgrade 3" });
    ports.numberOutputs();
    ports.refusedOutputs.add ("Fenz firmware upgrade 2");
    buildAndCloseAPanel();

    EXPECT_EQ (ports.openedOutputs, juce::StringArray ({ "Fenz firmware upgrade 1", "Fenz firmware upgrade 3" }));
}

// A device that restarts once it has its reset leaves the list at once, and the ports after it
// move up. Each port still gets the reset meant for it, and no other port gets one.
TEST (CloseTimeReset, ADeviceLeavingAfterItsResetMovesNoResetOntoAnotherPort)
{
    struct Row { juce::StringArray outputs, leaving; };
    const Row rows[] =
    {
        { { "Fenz firmware upgrade", "Fenz firmware upgrade 2", "Synthesizer" },
          { "Fenz firmware upgrade", "Fenz firmware upgrade 2" } },
        { { "Fenz firmware upgrade", "Fenz firmware upgrade", "Synthesizer" }, { "Fenz firmware upgrade" } },
        { { "Fenz firmware upgrade", "Synthesizer", "Fenz firmware upgrade 2" }, { "Fenz firmware upgrade" } },
    };

    for (const auto& r : rows)
    {
        SCOPED_TRACE (r.outputs.joinIntoString (" | "));
        FakeMidiPorts ports (r.outputs);
        ports.numberOutputs();
        ports.leaveWhenClosed = r.leaving;
        buildAndCloseAPanel();

        EXPECT_EQ (ports.sentTo ("Synthesizer").size(), 0u);

        // The reset is 17 messages; ports of one name share their record.
        for (const auto& name : r.outputs)
        {
            if (! name.contains ("Fenz firmware upgrade"))
                continue;

            const auto sameName = (size_t) std::count (r.outputs.begin(), r.outputs.end(), name);
            EXPECT_EQ (ports.sentTo (name).size(), 17u * sameName) << name;
        }
    }
}

// Each served port gets the packet while it is open, and is closed before the next is opened;
// the handler's own upgrade ports close only after all of that.
TEST (CloseTimeReset, ResetsBeforeTheHandlerClosesItsPorts)
{
    FakeMidiPorts ports ({ "Fenz firmware upgrade", "Fenz firmware upgrade 2" });
    ports.numberOutputs();

    {
        FirmwareUpgradeComponent panel (176);
        inside (panel).timing.pause = [] (int) {};
        inside (panel).getHandler().midiOutput = fenz::MidiPorts::openOutput (1);
        ASSERT_NE (inside (panel).handler->midiOutput, nullptr);
        ports.log.clear();
    }

    juce::StringArray events;

    for (auto& line : ports.log)
        if (line.startsWith ("open ") || line.startsWith ("close "))
            events.add (line);

    EXPECT_EQ (events, juce::StringArray ({ "open Fenz firmware upgrade", "close Fenz firmware upgrade",
                                            "open Fenz firmware upgrade 2", "close Fenz firmware upgrade 2",
                                            "close Fenz firmware upgrade 2" }));
}

namespace
{
    // The bytes a port received, each taken from one message as the device reads it: note on,
    // channel 16, the high nibble, then the low nibble.
    std::vector<int> decodedBytes (const std::vector<FakeMidiPorts::Bytes>& messages)
    {
        std::vector<int> bytes;

        for (const auto& raw : messages)
        {
            EXPECT_EQ (raw.size(), 3u);
            EXPECT_EQ (raw[0], 0x9f);
            EXPECT_LT (raw[1], 0x10);
            EXPECT_LT (raw[2], 0x10);
            bytes.push_back (raw[1] * 16 + raw[2]);
        }

        return bytes;
    }
}

// Each served port receives the reset packet once, with 2 ms before each of its 17 messages
// and 10 ms after the last, before the port is closed.
TEST (CloseTimeReset, SendsTheResetPacketPacedForTheClose)
{
    FakeMidiPorts ports ({ "Fenz firmware upgrade", "Fenz Tamrel MIDI", "Fenz firmware upgrade 2" });
    ports.numberOutputs();
    std::vector<int> pauses;

    buildAndCloseAPanel ([&] (int ms)
    {
        pauses.push_back (ms);
        ports.log.add ("pause " + juce::String (ms));
    });

    const std::vector<int> resetPacket { 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55,
                                         0x1d, 0x03, 0x00, 0x49, 0x02, 0x00, 0xbd };

    for (const auto* name : { "Fenz firmware upgrade", "Fenz firmware upgrade 2" })
        EXPECT_EQ (decodedBytes (ports.sentTo (name)), resetPacket) << name;

    EXPECT_EQ (ports.sentTo ("Fenz Tamrel MIDI").size(), 0u);

    std::vector<int> expectedPauses;

    for (int port = 0; port < 2; ++port)
    {
        expectedPauses.insert (expectedPauses.end(), 17, 2);
        expectedPauses.push_back (10);
    }

    EXPECT_EQ (pauses, expectedPauses);

    // Per port: opened, then pause and message in turn, the closing pause, closed.
    const auto first = ports.log.indexOf ("open Fenz firmware upgrade");
    const auto closed = ports.log.indexOf ("close Fenz firmware upgrade");
    ASSERT_GE (first, 0);
    ASSERT_EQ (closed - first, 1 + 17 * 2 + 1);
    EXPECT_EQ (ports.log[first + 1], "pause 2");
    EXPECT_EQ (ports.log[closed - 1], "pause 10");
}
