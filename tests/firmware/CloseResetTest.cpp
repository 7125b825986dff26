#include <gtest/gtest.h>
#include "PanelTestSupport.h"
#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_MidiInputHandler.h"

using fenz::FirmwareUpgradeComponent;
using namespace paneltest;

namespace
{
    // The ports that were opened, in order, each time it was opened.
    juce::StringArray openedPorts (const RecordingPorts& ports)
    {
        juce::StringArray opened;

        for (auto& line : ports.log)
            if (line.startsWith ("open "))
                opened.add (line.fromFirstOccurrenceOf ("open ", false, false));

        return opened;
    }

    void buildAndCloseAPanel()
    {
        FirmwareUpgradeComponent panel (176);
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
        RecordingPorts ports (r.outputs);
        buildAndCloseAPanel();

        EXPECT_EQ (openedPorts (ports), r.served) << r.outputs.joinIntoString (" | ").toStdString();

        // Every port that was opened was closed again.
        int opens = 0, closes = 0;

        for (auto& line : ports.log)
        {
            opens += line.startsWith ("open ") ? 1 : 0;
            closes += line.startsWith ("close ") ? 1 : 0;
        }

        EXPECT_EQ (opens, closes);
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

    RecordingPorts ports (names);
    buildAndCloseAPanel();

    juce::StringArray expected;

    for (int i = 1; i <= 15; ++i)
        expected.add ("Fenz firmware upgrade " + juce::String (i));

    EXPECT_EQ (openedPorts (ports), expected);
}

TEST (CloseTimeReset, APortThatDoesNotOpenIsSkipped)
{
    RecordingPorts ports ({ "Fenz firmware upgrade 1", "Fenz firmware upgrade 2", "Fenz firmware upgrade 3" });
    ports.refused.add ("Fenz firmware upgrade 2");
    buildAndCloseAPanel();

    EXPECT_EQ (openedPorts (ports), juce::StringArray ({ "Fenz firmware upgrade 1", "Fenz firmware upgrade 3" }));
}

// Each served port gets the packet while it is open, and is closed before the next is opened;
// the handler's own upgrade ports close only after all of that.
TEST (CloseTimeReset, ResetsBeforeTheHandlerClosesItsPorts)
{
    RecordingPorts ports ({ "Fenz firmware upgrade", "Fenz firmware upgrade 2" });

    {
        FirmwareUpgradeComponent panel (176);
        panel.handler.reset (new FirmwareUpgradeComponent::MidiInputHandler());
        panel.handler->owner = &panel;
        panel.handler->midiOutput = fenz::MidiPorts::openOutput (1);
        ASSERT_NE (panel.handler->midiOutput, nullptr);
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
