#pragma once

#include "fenz_MidiPorts.h"
#include "fenz_Product.h"
#include "fenz_VirtualSurfaceMapping.h"
#include "fenz_VirtualSurfaceUpgrade.h"

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace fenz
{

// A simulated control surface, main unit or extender, for tests and for running the editor
// without hardware. It shows one MIDI output and one MIDI input of the same name through
// MidiPorts, records every message it receives, and takes a mapping transfer into the mode it
// addresses exactly as the device does, refusing anything that does not fit.
//
// On the upgrade-mode request addressed to its family it leaves normal mode as the device does:
// its ports give way to one output and one input named "Fenz firmware upgrade", on which it
// takes a firmware image packet by packet and answers each packet it accepts; the reset packet
// restarts it. Like the device, it restarts in normal mode only with its firmware whole: once
// erased and not written whole (VirtualSurfaceUpgrade::isFirmwareWhole), a reset or a power
// cycle brings back only its upgrade ports. A port opened in one mode is dead in every later one.
//
// Constructing one does not make its ports visible; install() does, and the destructor takes
// them away again. All operations may be called from any thread. Messages for the host reach
// its callbacks with none of the surface's locks held, so a callback may list and open ports.
class VirtualSurface : public MidiPortProvider
{
public:
    enum class Model { tamrel, ostrel };

    static constexpr int numModes = VirtualSurfaceMapping::numModes;
    static constexpr int numControls = VirtualSurfaceMapping::numControls;

    // What the surface holds for one control, and for a whole mode.
    using ControlAssignment = VirtualSurfaceMapping::ControlAssignment;
    using Assignment = VirtualSurfaceMapping::Assignment;

    // One line of the record: a message the surface received, or a note of its own.
    struct Entry
    {
        juce::int64 microseconds = 0;    // arrival time, counted from the surface's creation
        std::vector<juce::uint8> bytes;  // the message as received; empty for a note
        juce::String note;               // "# ..." for a note; empty for a message

        bool isNote() const noexcept  { return note.isNotEmpty(); }

        // The line as the log file has it, without the line end: the time, a tab and the bytes
        // in upper-case hex separated by blanks; a note as it is.
        juce::String toLogLine() const;
    };

    enum class Mode { normal, upgrade, gone };

    static constexpr const char* upgradePortName = VirtualSurfaceUpgrade::portName;

    explicit VirtualSurface (Model model);
    ~VirtualSurface() override;

    // When KESTAL_VIRTUAL_SURFACE is "tamrel" or "ostrel", creates a surface of that model,
    // installs it and returns it; when KESTAL_VIRTUAL_SURFACE_LOG names a file as well, the
    // surface appends its record to that file, KESTAL_VIRTUAL_SURFACE_STATE names the file it
    // keeps its firmware's state in (setStateFile), and KESTAL_VIRTUAL_SURFACE_FAULTS sets its
    // misbehaviour as setFaultsFromText reads it. Null when no surface is asked for.
    static std::unique_ptr<VirtualSurface> installFromEnvironment();

    Model getModel() const noexcept                 { return model; }
    Product::PID getProductId() const noexcept;
    // The name of the normal ports.
    juce::String getPortName() const;
    Mode getMode() const;

    // Adds the surface to MidiPorts, or takes it away; doing either twice changes nothing.
    void install();
    void uninstall();
    bool isInstalled() const noexcept               { return installed; }

    // From now on every record line is appended to this file as well; an empty File stops it.
    void setLogFile (const juce::File& file);

    // Keeps whether the firmware is whole in this file, as the device keeps its firmware while
    // it is off, so that a surface made later (the editor started again) comes up as this one
    // left off. Reads the file first: when it says the firmware is not whole, the surface
    // restarts at once and shows only its upgrade ports. A missing or unreadable file counts as
    // whole firmware. An empty File stops the keeping.
    void setStateFile (const juce::File& file);

    // Off and on again, as after the power or the cable was cut: every port of the mode it was
    // in dies, even when it had vanished, and it comes back in normal mode when its firmware is
    // whole, else in upgrade mode.
    void restart();
    bool isFirmwareWhole() const;

    //==============================================================================
    // Misbehaviour, for tests of the host's error paths.

    // openOutput gives null, as for a port that is listed but cannot be opened.
    void setRefusesToOpenOutput (bool shouldRefuse) noexcept  { refuseOutput = shouldRefuse; }
    void setRefusesToOpenInput (bool shouldRefuse) noexcept   { refuseInput = shouldRefuse; }
    // The surface lists no ports at all, as if unplugged; ports already open stay open.
    void setHidesPorts (bool shouldHide) noexcept             { hidePorts = shouldHide; }

    // What goes wrong in upgrade mode; takes effect at once, even in the middle of an upgrade.
    void setUpgradeFaults (const UpgradeFaults& faults);
    UpgradeFaults getUpgradeFaults() const;

    // Sets the switches named in the text as readVirtualSurfaceFaults (fenz_VirtualSurfaceFaults.h)
    // reads them, e.g. "silent-erase, wrong-code=data:7F, ack-delay=25"; those not named stay as
    // they are. Returns the items it did not understand, which it also notes in the record;
    // those change nothing.
    juce::StringArray setFaultsFromText (const juce::String& text);

    //==============================================================================
    // In upgrade mode the surface answers a packet this long after taking it, on a thread of
    // its own, as a device answers over USB; with 0 it answers on the sending thread before
    // the send returns. One millisecond at first.
    void setAnswerDelay (int milliseconds);
    int getAnswerDelay() const noexcept;

    // The firmware image written since the last erase, block by block as received.
    std::vector<juce::uint8> getWrittenImage() const;

    //==============================================================================
    // Delivers a message to the callback of every started input port of the mode the surface
    // is in, on the calling thread.
    void sendToHost (const juce::MidiMessage& message);

    //==============================================================================
    std::vector<Entry> getRecord() const;
    // The received messages only, in order, without times and notes.
    std::vector<std::vector<juce::uint8>> getReceivedMessages() const;
    // The notes only, in order.
    juce::StringArray getNotes() const;
    // Forgets the record; what the surface holds and its counts stay.
    void clearRecord();

    // The assignment last taken for mode 0 to 3; none until a transfer for it was taken.
    std::optional<Assignment> getAssignment (int mode) const;
    int getNumTransfersTaken() const;
    int getNumTransfersRefused() const;

    //==============================================================================
    juce::StringArray getOutputNames() override;
    juce::StringArray getInputNames() override;
    juce::Array<MidiOutputInfo> getOutputs() override;
    std::unique_ptr<MidiOutputPort> openOutputWithIdentifier (const juce::String& identifier) override;
    juce::Array<MidiInputInfo> getInputs() override;
    std::unique_ptr<MidiInputPort> openInputWithIdentifier (const juce::String& identifier, juce::MidiInputCallback& callback) override;
    std::unique_ptr<MidiOutputPort> openOutput (int index) override;
    std::unique_ptr<MidiInputPort> openInput (int index, juce::MidiInputCallback& callback) override;

private:
    struct Link;
    struct InputState;
    struct Answer;
    struct PortTag;
    class AnswerThread;
    class OutputPort;
    class InputPort;

    // Everything the MIDI threads and the accessors share; open ports keep it alive, so that a
    // port outliving the surface is merely disconnected.
    std::shared_ptr<Link> link;

    const Model model;
    const juce::int64 startTicks;
    std::atomic<bool> installed { false }, refuseOutput { false }, refuseInput { false }, hidePorts { false };

    // The decoder's switch: what the message means depends on the mode and on the port it came
    // through. Answers for the host are added to the list, to be sent once the lock is let go.
    void receive (const juce::MidiMessage& message, PortTag& port, std::vector<Answer>& answers);   // link's lock held
    void receiveRequest (const VirtualSurfaceUpgrade::Request& request);                           // link's lock held
    void enterMode (Mode newMode);                      // link's lock held
    void restartAsFirmwareAllows (const juce::String& why);   // link's lock held
    void keepState();                                   // link's lock held
    void addEntry (Entry entry);                        // link's lock held
    void addNote (const juce::String& text);            // link's lock held
    juce::int64 microsecondsNow() const;

    JUCE_DECLARE_NON_COPYABLE (VirtualSurface)
};

} // namespace fenz
