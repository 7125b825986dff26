#pragma once

#include "fenz_MidiInputHandler.h"
#include "fenz_UpgradeProtocol.h"
#include "fenz_UpgradeWaits.h"

namespace fenz
{

// The Upgrade step's run over the handler's open upgrade ports: connect, erase, write every
// block of the image and reset, each stage's packet sent and its acknowledgement waited for in
// slices as UpgradeWaits counts them.
namespace UpgradeRun
{
    // Where a run shows how far it has come; the panel's bar and status line.
    struct Display
    {
        virtual ~Display() = default;

        // How far the run has come: 0 at connect, 1 at erase, 2 when the write starts, then
        // after each block the image's bytes up to that block's end (the last block's end may
        // lie past the end of the image).
        virtual void setProgress (double k) = 0;

        // The stage that starts: "Connecting...", "Erasing...", "Installing...", "Resetting...".
        virtual void setStatusText (const juce::String& text) = 0;
    };

    // Runs the stages in turn: the packet senders pace with the given pause, and every wait is
    // made of the given slices. Answers the empty text when the device took the new firmware
    // and acknowledged its reset; otherwise what went wrong. The handler's ports must be open
    // and its image of a size the Upgrade step takes; its flags are clear when the run
    // returns. Message thread.
    juce::String run (FirmwareUpgradeComponent::MidiInputHandler& handler, Display& display,
                      const UpgradeProtocol::PauseFunction& pause, const UpgradeWaits::Slice& slice);
}

} // namespace fenz
