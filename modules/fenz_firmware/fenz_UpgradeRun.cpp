#include "fenz_UpgradeRun.h"

namespace fenz
{

namespace UpgradeRun
{
    juce::String run (FirmwareUpgradeComponent::MidiInputHandler& handler, Display& display,
                      const UpgradeProtocol::PauseFunction& pause, const UpgradeWaits::Slice& slice)
    {
        auto& output = *handler.midiOutput;

        display.setProgress (0);
        display.setStatusText ("Connecting...");
        UpgradeProtocol::sendConnect (output, pause);

        if (! UpgradeWaits::waitForCommand (slice, [&handler] { return handler.connectAck.load(); }))
        {
            handler.clearFlags();
            return "Could not connect to hardware";
        }

        display.setProgress (1);
        display.setStatusText ("Erasing...");
        UpgradeProtocol::sendErase (output, handler.pid, pause);

        int waitCount = 0;

        if (! UpgradeWaits::waitForErase (waitCount, slice, [&handler] { return handler.eraseAck.load(); }))
        {
            handler.clearFlags();
            return "Could not erase existing firmware";
        }

        display.setProgress (2);
        display.setStatusText ("Installing...");

        UpgradeProtocol::DataPacketSender sender (output, pause);
        const int numPackets = UpgradeProtocol::numDataPackets (handler.size);

        for (int block = 0; block < numPackets; ++block)
        {
            const auto packet = UpgradeProtocol::makeDataPacket (handler.data, handler.size, block);

            // Cleared before the packet goes out: a device (or a fast round trip) may answer
            // before the send returns, and that answer must count for this packet.
            handler.writeAck = false;
            sender.send (packet);

            // A device that went away answers no more; its packet fails as any silent one does.
            if (! UpgradeWaits::waitForWrite (waitCount, slice, [&handler] { return handler.writeAck.load(); }))
            {
                handler.clearFlags();
                return "Could not write new firmware";
            }

            display.setProgress ((double) (block + 1) * UpgradeProtocol::blockSize);
        }

        display.setStatusText ("Resetting...");
        handler.resetAck = false;
        UpgradeProtocol::sendReset (output, false, pause);

        const bool reset = UpgradeWaits::waitForCommand (slice, [&handler] { return handler.resetAck.load(); });
        handler.clearFlags();

        if (! reset)
            return "Your firmware has been upgraded! Power off your unit and wait for 5 seconds, "
                   "then turn back on for changes to take effect";

        return {};
    }
}

} // namespace fenz
