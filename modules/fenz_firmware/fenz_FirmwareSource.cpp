#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_MidiInputHandler.h"
#include "fenz_FirmwareServer.h"
#include "fenz_Pause.h"
#include "fenz_UpgraderChoosers.h"

namespace fenz
{

// Step 4: the firmware image for the Upgrade step, from the server's list or from a local file.
namespace
{
    constexpr int probeTimeOutMs = 4000;
    constexpr int redirectsToFollow = 5;
    constexpr int pollSliceMs = 32;

    const char* const boxTitle = "Firmware Upgrade";

    bool isSuccessStatus (int status) noexcept     { return status >= 200 && status <= 299; }

    // A GET of the address with the list's time-out and redirects: the stream, or nothing when
    // the server cannot be reached or answers with a status outside 200 to 299.
    std::unique_ptr<juce::InputStream> openListStream (const juce::URL& address)
    {
        int status = 0;
        auto stream = address.createInputStream (juce::URL::InputStreamOptions (juce::URL::ParameterHandling::inAddress)
                                                     .withConnectionTimeoutMs (probeTimeOutMs)
                                                     .withNumRedirectsToFollow (redirectsToFollow)
                                                     .withStatusCode (&status));

        if (stream == nullptr || ! isSuccessStatus (status))
            return nullptr;

        return stream;
    }

    // Fills the panel's list with the server's entries for the connected product, in the
    // document's order. Answers what went wrong, or nothing when entries were found.
    juce::String fetchFirmwareList (FirmwareUpgradeComponent& panel)
    {
        panel.firmwares = juce::ValueTree ("firmwares");

        const auto product = panel.currentPid;

        if (product < 0 || product == Product::noModel)
            return "Cannot fetch firmware details for Unknown product";

        const juce::URL address (FirmwareServer::listAddress (product));

        // The probe: is the server there at all, and does it serve the list?
        if (openListStream (address) == nullptr)
            return "The firmware server is currently unavailable.";

        // The list itself, fetched afresh. It has the probe's time-out as well: a server that
        // answers the probe and then stalls must not hold the step for ever.
        juce::String text;

        if (auto stream = openListStream (address))
            text = stream->readEntireStreamAsString();

        juce::XmlDocument document (text);
        const auto root = document.getDocumentElement();

        if (root == nullptr)
            return "Error connecting to server";

        panel.firmwares = juce::ValueTree::fromXml (*root);

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

    // What the download thread has done so far, for the message thread to poll.
    struct DownloadWatch : public juce::URL::DownloadTaskListener
    {
        void progress (juce::URL::DownloadTask*, juce::int64 bytesDownloaded, juce::int64) override
        {
            bytes = bytesDownloaded;
        }

        void finished (juce::URL::DownloadTask*, bool) override { done = true; }

        std::atomic<juce::int64> bytes { 0 };
        std::atomic<bool> done { false };
    };

    enum class DownloadEnd { complete, failed, abandoned };

    // Runs the message loop in slices until the download has finished, has gone without new
    // data for the panel's stall limit, or the dialog has been asked to close.
    DownloadEnd awaitDownload (FirmwareUpgradeComponent& panel, juce::URL::DownloadTask& task, const DownloadWatch& watch)
    {
        auto lastBytes = watch.bytes.load();
        auto lastProgress = juce::Time::getMillisecondCounter();

        while (! watch.done)
        {
            runMessageLoopFor (pollSliceMs);

            if (panel.isCloseRequested())
                return DownloadEnd::abandoned;

            const auto now = juce::Time::getMillisecondCounter();
            const auto bytes = watch.bytes.load();

            if (bytes != lastBytes)
            {
                lastBytes = bytes;
                lastProgress = now;
            }
            else if (! watch.done && (int) (now - lastProgress) >= panel.downloadStallLimitMs)
            {
                return DownloadEnd::failed;
            }
        }

        return task.hadError() ? DownloadEnd::failed : DownloadEnd::complete;
    }

    void imageTaken (FirmwareUpgradeComponent& panel)
    {
        panel.updateProgress (3);
        panel.connectStepButton.setEnabled (false);
        panel.eraseStepButton.setEnabled (false);
    }

    // The version chooser over the fetched list, then the chosen file's download into a
    // temporary file, whose bytes the handler takes before the file goes.
    void chooseAndDownload (FirmwareUpgradeComponent& panel)
    {
        const auto chooser = std::make_unique<FirmwareSelectComponent> (panel.firmwares);

        if (panel.dialogs.runChooser (*chooser, "Firmware Version") != 1)
            return;

        const auto entry = chooser->firmwares.getChild (chooser->comboBox.getSelectedItemIndex());

        juce::TemporaryFile temporary;
        panel.firmwareFile = temporary.getFile();

        auto end = DownloadEnd::failed;

        if (entry.isValid())
        {
            juce::URL address (FirmwareServer::root() + entry["fw"].toString());
            DownloadWatch watch;

            auto task = address.downloadToFile (panel.firmwareFile, juce::URL::DownloadTaskOptions().withListener (&watch));

            // An error page is not a firmware image: only a success status is waited for.
            if (task != nullptr && isSuccessStatus (task->statusCode()))
                end = awaitDownload (panel, *task, watch);

            // Stops the download thread if it is still at work.
            task = nullptr;
        }

        switch (end)
        {
            case DownloadEnd::complete:
                panel.handler->openProgram (panel.firmwareFile);
                imageTaken (panel);
                break;

            case DownloadEnd::failed:
                panel.dialogs.showMessageBox (juce::MessageBoxIconType::WarningIcon, "Firmware Donwload",
                                              "Could not download firmware file");
                break;

            case DownloadEnd::abandoned:
                // The dialog is closing: nothing is loaded and nothing more is asked.
                break;
        }
    }

    // The local firmware file, accepted when its name fits the rule of the handler's model.
    void chooseLocalFile (FirmwareUpgradeComponent& panel)
    {
        const auto chosen = panel.dialogs.chooseFirmwareFile (panel.firmwareFile);

        if (chosen == juce::File())
            return;

        panel.firmwareFile = chosen;

        if (! FirmwareServer::fileNameFits (panel.handler->pid, chosen.getFileNameWithoutExtension()))
        {
            panel.dialogs.showMessageBox (juce::MessageBoxIconType::WarningIcon, "Load File", "Not the matching firmware!");
            return;
        }

        panel.handler->openProgram (panel.firmwareFile);
        imageTaken (panel);
    }
}

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

    if (handler == nullptr)
    {
        handler.reset (new MidiInputHandler());
        handler->owner = this;
        handler->pid = pid;
    }

    const juce::ScopedValueSetter<bool> running (recursionCheck, true);

    if (onlineMode)
    {
        const auto failure = fetchFirmwareList (*this);

        if (firmwares.getNumChildren() > 0)
        {
            chooseAndDownload (*this);
            return;
        }

        // The user learns why before choosing a file instead.
        dialogs.showMessageBoxAsync (juce::MessageBoxIconType::NoIcon, boxTitle, failure);
    }

    chooseLocalFile (*this);
}

} // namespace fenz
