#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_MidiInputHandler.h"
#include "fenz_FirmwareServer.h"
#include "fenz_HttpFetch.h"
#include "fenz_PlainXml.h"
#include "fenz_Text.h"
#include "fenz_UpgradeProtocol.h"
#include "fenz_UpgraderChoosers.h"

namespace fenz
{

// Step 4: the firmware image for the Upgrade step, from the server's list or from a local file.
namespace
{
    // Real lists are a few kilobytes.
    constexpr juce::int64 maxListBytes = 1024 * 1024;

    // The list is two levels deep; deeper elements are let through and ignored, but the parser
    // never sees text nested more deeply than this.
    constexpr int maxListDepth = 16;

    // A download is read to its end up to this size, so that an image too large for the
    // Upgrade step is told as such; a body larger than any image could be is a failed
    // download. What the step could never write is not kept (see ImageSink).
    constexpr juce::int64 maxDownloadBytes = 1024 * 1024;

    const char* const boxTitle = "Firmware Upgrade";
    const char* const listThreadName = "Firmware list thread";
    const char* const downloadThreadName = "DownloadTask thread";

    // Where a download's bytes go: the file takes those up to the largest image the Upgrade
    // step writes, the rest are only counted. Written from the download's thread, read once it
    // has ended.
    class ImageSink : public juce::OutputStream
    {
    public:
        explicit ImageSink (juce::OutputStream& f) : file (f) {}

        bool write (const void* bytes, size_t numBytes) override
        {
            constexpr auto keep = (juce::int64) UpgradeProtocol::maxImageSize - 1;
            const auto kept = juce::jlimit ((juce::int64) 0, (juce::int64) numBytes, keep - received);
            received += (juce::int64) numBytes;
            return kept == 0 || file.write (bytes, (size_t) kept);
        }

        juce::int64 getPosition() override      { return received; }
        bool setPosition (juce::int64) override { return false; }
        void flush() override                   { file.flush(); }

        // Every byte of the body, kept or not.
        juce::int64 received = 0;

    private:
        juce::OutputStream& file;
    };
}

// Step 4's parts, with the panel's own access.
struct FirmwareUpgradeComponent::Step4
{
    using Handler = MidiInputHandler;

    // Every network wait of the step: off the message thread, which keeps its loop running,
    // and over as soon as the dialog is asked to close.
    static HttpFetch::End fetch (FirmwareUpgradeComponent& panel, const juce::String& address, const HttpFetch::Limits& limits,
                                 juce::OutputStream* body, const char* threadName)
    {
        return HttpFetch::get (address, limits, body, [&panel] { return panel.isCloseRequested(); }, threadName);
    }

    // Fills the panel's list with the server's entries for the connected product, in the
    // document's order. Answers what went wrong, or nothing when entries were found or the
    // dialog was asked to close during a wait.
    static juce::String fetchFirmwareList (FirmwareUpgradeComponent& panel)
    {
        panel.firmwares = juce::ValueTree ("firmwares");

        const auto product = panel.currentPid;

        if (product < 0 || product == Product::noModel)
            return "Cannot fetch firmware details for Unknown product";

        const auto address = FirmwareServer::listAddress (product);

        // The list's answers are small and the step waits on them before it can show anything:
        // they are looked at more often than the download's.
        constexpr int listSliceMs = 8;

        // The probe: is the server there at all, and does it serve the list? Its answer's
        // status is all that counts.
        const HttpFetch::Limits probeLimits { panel.timing.listAnswerLimitMs, panel.timing.listTimeLimitMs, 0, listSliceMs };
        const auto probe = fetch (panel, address, probeLimits, nullptr, listThreadName);

        if (probe == HttpFetch::End::abandoned)
            return {};

        if (probe != HttpFetch::End::complete)
            return "The firmware server is currently unavailable.";

        // The list itself, fetched afresh, with the probe's time-out as well: a server that
        // answers the probe and then stalls must not hold the step for ever. A list over the
        // cap, bytes that are not text, or a text the parser could not take safely reads as no
        // list at all.
        juce::MemoryOutputStream body;
        const HttpFetch::Limits readLimits { panel.timing.listAnswerLimitMs, panel.timing.listTimeLimitMs, maxListBytes, listSliceMs };
        const auto read = fetch (panel, address, readLimits, &body, listThreadName);

        if (read == HttpFetch::End::abandoned)
            return {};

        const auto text = read == HttpFetch::End::complete ? decodeXmlText (body.getData(), body.getDataSize())
                                                           : std::nullopt;

        if (! text.has_value() || ! isPlainAndShallowXml (*text, maxListDepth))
            return "Error connecting to server";

        juce::XmlDocument document (*text);
        const auto root = document.getDocumentElement();

        if (root == nullptr)
            return "Error connecting to server";

        panel.firmwares = treeFromPlainXml (*root);

        // An entry without a product id is for no product.
        for (int i = panel.firmwares.getNumChildren(); --i >= 0;)
        {
            const auto entry = panel.firmwares.getChild (i);

            if (! entry.hasProperty ("pid") || entry["pid"].toString().getIntValue() != product)
                panel.firmwares.removeChild (i, nullptr);
        }

        if (panel.firmwares.getNumChildren() == 0)
            return "No firmware matches in the server, please try again manually!";

        return {};
    }

    static void imageTaken (FirmwareUpgradeComponent& panel)
    {
        panel.updateProgress (3);
        panel.connectStepButton.setEnabled (false);
        panel.eraseStepButton.setEnabled (false);
    }

    // An image of a size the Upgrade step refuses is refused as it is taken, before Erase has
    // put the device into its upgrade mode for it: the panel stays at this step, where another
    // image can be chosen, and the handler holds none.
    static void refuseImage (FirmwareUpgradeComponent& panel, Handler& handler, const juce::String& title)
    {
        handler.releaseImage();
        panel.tell (juce::MessageBoxIconType::WarningIcon, title, UpgradeProtocol::wrongImageText);
    }

    // The version chooser over the fetched list, then the chosen file's download into a
    // temporary file, whose bytes the handler takes before the file goes.
    static void chooseAndDownload (FirmwareUpgradeComponent& panel, Handler& handler)
    {
        const auto chooser = std::make_unique<FirmwareSelectComponent> (panel.firmwares);

        if (panel.ask (*chooser, "Firmware Version") != 1)
            return;

        const auto entry = chooser->firmwares.getChild (chooser->comboBox.getSelectedItemIndex());

        juce::TemporaryFile temporary;
        panel.firmwareFile = temporary.getFile();

        auto end = HttpFetch::End::failed;
        juce::int64 bodySize = 0;

        if (entry.isValid())
        {
            // The stream is written from the download's thread and closed once that has ended.
            // An error page is not a firmware image: only a success status is taken.
            if (auto out = std::make_unique<juce::FileOutputStream> (panel.firmwareFile); out->openedOk())
            {
                ImageSink sink (*out);
                end = fetch (panel, FirmwareServer::root() + entry["fw"].toString(),
                             { panel.timing.downloadStallLimitMs, panel.timing.downloadTimeLimitMs, maxDownloadBytes },
                             &sink, downloadThreadName);
                bodySize = sink.received;

                // A file that could not be written whole is no download either.
                out->flush();

                if (end == HttpFetch::End::complete && out->getStatus().failed())
                    end = HttpFetch::End::failed;
            }
        }

        if (end != HttpFetch::End::complete)
            panel.firmwareFile.deleteFile();

        switch (end)
        {
            case HttpFetch::End::complete:
                if (! UpgradeProtocol::isWritableImageSize ((juce::uint64) bodySize))
                {
                    refuseImage (panel, handler, "Firmware Donwload");
                    break;
                }

                handler.openProgram (panel.firmwareFile);
                imageTaken (panel);
                break;

            case HttpFetch::End::failed:
                panel.tell (juce::MessageBoxIconType::WarningIcon, "Firmware Donwload", "Could not download firmware file");
                break;

            case HttpFetch::End::abandoned:
                // The dialog is closing: nothing is loaded and nothing more is asked.
                break;
        }
    }

    // The local firmware file, accepted when its name fits the rule of the handler's model.
    static void chooseLocalFile (FirmwareUpgradeComponent& panel, Handler& handler)
    {
        const auto chosen = panel.askForFirmwareFile (panel.firmwareFile);

        if (chosen == juce::File())
            return;

        panel.firmwareFile = chosen;

        if (! FirmwareServer::fileNameFits (handler.pid, chosen.getFileNameWithoutExtension()))
        {
            panel.tell (juce::MessageBoxIconType::WarningIcon, "Load File", "Not the matching firmware!");
            return;
        }

        handler.openProgram (panel.firmwareFile);

        // An unreadable file reads as an image of no bytes, a longer one stops at the first
        // size refused: either is refused here.
        if (! UpgradeProtocol::isWritableImageSize (handler.size))
        {
            refuseImage (panel, handler, "Load File");
            return;
        }

        imageTaken (panel);
    }
};

void FirmwareUpgradeComponent::doStep4()
{
    // Only the message thread comes here; a press of the step-4 button during the download
    // wait finds the step still running.
    static bool recursionCheck = false;

    if (recursionCheck)
        return;

    // The waits below run the message loop, where the dialog may be asked to close; this keeps
    // the panel until the step has returned, however the step was entered.
    const StepScope scope (*this);

    updateProgress (2);
    connectStepButton.setEnabled (false);
    eraseStepButton.setEnabled (false);

    auto& h = getHandler();

    const juce::ScopedValueSetter<bool> running (recursionCheck, true);

    if (onlineMode)
    {
        const auto failure = Step4::fetchFirmwareList (*this);

        // The dialog is closing: nothing more is shown or asked.
        if (isCloseRequested())
            return;

        if (firmwares.getNumChildren() > 0)
        {
            Step4::chooseAndDownload (*this, h);
            return;
        }

        // The user learns why before choosing a file instead. The chooser opens once the box
        // has been answered: a box left open behind it would hold the keyboard and the panel's
        // clicks, unseen, once the chooser has gone.
        tell (juce::MessageBoxIconType::NoIcon, boxTitle, failure);
    }

    Step4::chooseLocalFile (*this, h);
}

} // namespace fenz
