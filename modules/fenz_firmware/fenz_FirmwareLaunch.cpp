#include "fenz_FirmwareLaunch.h"
#include "fenz_FirmwareGlobals.h"
#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_MacVersion.h"

namespace fenz
{

FirmwareUpgradeDialog::FirmwareUpgradeDialog (std::unique_ptr<FirmwareUpgradeComponent> panel,
                                              juce::Component* centreAround)
    : juce::DialogWindow ("Firmware Upgrade", juce::DialogWindow::LaunchOptions().dialogBackgroundColour, true, true,
                          centreAround != nullptr ? juce::Component::getApproximateScaleFactorForComponent (centreAround)
                                                  : 1.0f)
{
    // The title bar first: set afterwards, it would change the window's borders and stretch
    // the panel out of its size.
    setUsingNativeTitleBar (true);
    setResizable (false, false);
    setContentOwned (panel.release(), true);
    centreAroundComponent (centreAround, getWidth(), getHeight());
}

FirmwareUpgradeDialog::~FirmwareUpgradeDialog() = default;

void FirmwareUpgradeDialog::closeButtonPressed()
{
    if (getPanel().requestClose())
        setVisible (false);
}

bool FirmwareUpgradeDialog::escapeKeyPressed()
{
    // The framework's own Escape handling hides the dialog without asking anyone.
    closeButtonPressed();
    return true;
}

void FirmwareUpgradeDialog::focusGained (FocusChangeType)
{
    getPanel().regainKeyboardFocus();
}

FirmwareUpgradeComponent& FirmwareUpgradeDialog::getPanel() const
{
    auto* panel = dynamic_cast<FirmwareUpgradeComponent*> (getContentComponent());
    jassert (panel != nullptr);
    return *panel;
}

//==============================================================================
void launchFirmwareUpgrade (int productId, juce::Component* centreAround)
{
    bTest = false;

    _mac_major = MacVersion::ofThisSystem();

    const bool confirmed = juce::AlertWindow::showOkCancelBox (
        juce::MessageBoxIconType::InfoIcon,
        "Firmware Upgrader about to start",
        "\n"
        "* IMPORTANT WARNING! *\n"
        "\n"
        "FAILURE TO FOLLOW THESE INSTRUCTIONS COULD DAMAGE YOUR DEVICE!!\n"
        "\n"
        "- Connect ONLY the device you want to update\n"
        "- Make sure the power supply is connected (if any)\n"
        "- Connect device directly to computer (no hub)\n"
        "- Do not touch device during firmware update",
        {}, {}, nullptr, nullptr);

    if (! confirmed)
        return;

    auto dialog = std::make_unique<FirmwareUpgradeDialog> (std::make_unique<FirmwareUpgradeComponent> (productId),
                                                           centreAround);
    dialog->runModalLoop();

    // Deleted here, with the modal run over and no step of the panel on the stack.
}

} // namespace fenz
