#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_Pause.h"

#include <cstdlib>
#include <optional>

namespace fenz
{

// The real windows of the framework, and the real waits, that a panel starts with.

FirmwareUpgradeComponent::Dialogs FirmwareUpgradeComponent::realDialogs (juce::Component& centreAround)
{
    Dialogs dialogs;

    dialogs.runChooser = [&centreAround] (juce::Component& chooser, const juce::String& title)
    {
        juce::DialogWindow::LaunchOptions options;
        options.content.setNonOwned (&chooser);
        options.dialogTitle = title;
        options.componentToCentreAround = &centreAround;
        options.escapeKeyTriggersCloseButton = true;
        options.useNativeTitleBar = true;
        options.resizable = false;
        return options.runModal();
    };

    dialogs.showMessageBox = [] (juce::MessageBoxIconType icon, const juce::String& title, const juce::String& text)
    {
        juce::AlertWindow::showMessageBox (icon, title, text);
    };

    dialogs.chooseFirmwareFile = [] (const juce::File& startingPlace)
    {
        // Opened on a file, the framework's own chooser highlights it, and puts the highlighted
        // row back into its file box whenever the box loses the focus, as it does when Open is
        // pressed: a path the user typed there would give way to the last file. It opens in
        // that file's folder instead, with nothing highlighted.
        const auto folder = startingPlace == juce::File() || startingPlace.isDirectory()
                                ? startingPlace
                                : startingPlace.getParentDirectory();

        juce::FileChooser chooser ("Choose The Firmware File", folder, "*.bin");
        std::optional<juce::File> chosen;

        // Waited for here rather than in the chooser's own modal run: the system's dialog (where
        // there is one) is no modal component of the framework's, which a held quit could end,
        // but letting the chooser go ends it.
        chooser.launchAsync (juce::FileBrowserComponent::openMode | juce::FileBrowserComponent::canSelectFiles,
                             [&chosen] (const juce::FileChooser& c) { chosen = c.getResult(); });

        while (! chosen.has_value() && ! isQuitHeld())
            if (! juce::MessageManager::getInstance()->runDispatchLoopUntil (20))
                break;

        return chosen.value_or (juce::File());
    };

    dialogs.runShellCommand = [] (const char* command)
    {
        // What the command answers is not looked at: the instructions follow either way.
        const auto result = std::system (command);
        juce::ignoreUnused (result);
    };

    return dialogs;
}

FirmwareUpgradeComponent::Timing FirmwareUpgradeComponent::realTiming()
{
    Timing timing;
    timing.pause = [] (int milliseconds) { pauseMilliseconds (milliseconds); };
    timing.runMessageLoop = [] (int milliseconds) { runMessageLoopFor (milliseconds); };
    return timing;
}

} // namespace fenz
