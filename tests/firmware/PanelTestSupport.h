#pragma once

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>
#include "fenz_FirmwareUpgradeComponent.h"
#include "PanelTestSeam.h"
#include "FakeMidiPorts.h"
#include "GuiTestSupport.h"

#include <string>
#include <vector>

namespace testsupport
{
    // The step buttons in step order.
    inline std::vector<juce::TextButton*> stepButtons (fenz::FirmwareUpgradeComponent& panel)
    {
        std::vector<juce::TextButton*> buttons;
        for (int k = 0; k < fenz::FirmwareUpgradeComponent::numSteps; ++k)
            buttons.push_back (&inside (panel).stepButton (k));
        return buttons;
    }

    // Which step buttons are enabled, as a string of five: "x" enabled, "-" not.
    inline std::string enabledSteps (fenz::FirmwareUpgradeComponent& panel)
    {
        std::string s;
        for (auto* b : stepButtons (panel))
            s += b->isEnabled() ? 'x' : '-';
        return s;
    }
}
