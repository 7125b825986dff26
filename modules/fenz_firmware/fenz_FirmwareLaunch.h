#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace fenz
{

class FirmwareUpgradeComponent;

// The editor's "Firmware Upgrade" button: sets the upgrader's globals, asks for confirmation
// in the warning box and, on OK, runs the upgrade panel for the product id in its modal dialog
// titled "Firmware Upgrade", centred around the given component. Returns when the dialog has
// closed (or at once on Cancel).
void launchFirmwareUpgrade (int productId, juce::Component* centreAround);

// The dialog that holds the panel: Escape and the close button ask the panel first, which
// keeps the dialog open while a step runs. It owns the panel. Whoever shows it runs it with
// runModalLoop() and deletes it after the run has returned, so that the panel never goes
// while a step that waits in a nested message loop is still on the stack.
class FirmwareUpgradeDialog : public juce::DialogWindow
{
public:
    FirmwareUpgradeDialog (std::unique_ptr<FirmwareUpgradeComponent> panel, juce::Component* centreAround);
    ~FirmwareUpgradeDialog() override;

    // Hides the dialog, which ends its modal run, unless the panel has a step running; the
    // panel then closes it once the step is over.
    void closeButtonPressed() override;
    bool escapeKeyPressed() override;

    // The dialog's own focus goes on to the panel, whose keys would otherwise not reach it.
    void focusGained (FocusChangeType) override;

    FirmwareUpgradeComponent& getPanel() const;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FirmwareUpgradeDialog)
};

} // namespace fenz
