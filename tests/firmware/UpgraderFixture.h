#pragma once

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "RecordedTiming.h"
#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_MidiInputHandler.h"
#include "fenz_UpgraderChoosers.h"
#include "PanelTestSeam.h"

#include <array>
#include <deque>
#include <optional>
#include <vector>

namespace testsupport
{

// What the panel showed at one moment: its step state, which step buttons took clicks, the
// status line and the two device names.
struct PanelState
{
    int step = 0;
    double progress = 0;
    std::array<bool, 5> enabled {};
    juce::String status, normalName, upgradeName;
};

inline PanelState stateOf (const fenz::FirmwareUpgradeComponent& p)
{
    const auto shown = p.getState();
    return { shown.step, shown.progress, shown.enabled, shown.status, shown.normalDeviceName, shown.upgradeDeviceName };
}

// The enabled step buttons of each step state, Connect first: at the start Connect only, then
// one more with each step, Select Version at step 2 and all five from step 3 on.
inline std::array<bool, 5> enabledAt (int step)
{
    switch (step)
    {
        case -1:  return { true, false, false, false, false };
        case 0:   return { true, true,  false, false, false };
        case 1:   return { true, true,  true,  false, false };
        case 2:   return { true, true,  true,  true,  false };
        case 3:
        case 4:   return { true, true,  true,  true,  true  };
        default:  ADD_FAILURE() << "no step state " << step;  return {};
    }
}

// A panel in a dialog window of its own (so that its titles have somewhere to go) whose boxes
// and choosers are answered by the test: each chooser takes the next queued answer, a name to
// confirm or nothing to cancel; every box is recorded with the panel's state at that moment.
// Its pauses and runs of the message loop are recorded in time, and not sat through.
struct UpgraderFixture : public ::testing::Test,
                         private juce::ComponentListener
{
    struct Box
    {
        juce::MessageBoxIconType icon;
        juce::String title, text;
        PanelState state;
        size_t timeAt = 0;          // how many of time's events came before the box
        bool portsOpen = false;
    };

    struct Chooser
    {
        juce::String title;
        bool isPortChooser = false;
        PanelState state;
    };

    void SetUp() override
    {
        fenz::bTest = false;
        fenz::_mac_major = 0;
    }

    void TearDown() override
    {
        time.onEvent = nullptr;   // it may reach into the case, which is over

        if (window != nullptr)
            window->removeComponentListener (this);

        window.reset();
        panel.reset();
        fenz::bTest = false;
    }

    void makePanel (int productId = 176)
    {
        fenz::FirmwareUpgradeComponent::Dialogs dialogs;

        dialogs.runChooser = [this] (juce::Component& chooser, const juce::String& title)
        {
            auto* ports = dynamic_cast<fenz::DeviceSelectComponent*> (&chooser);
            choosers.push_back ({ title, ports != nullptr, stateOf (*panel) });

            if (answers.empty() || ! answers.front().has_value() || ports == nullptr)
            {
                if (! answers.empty())
                    answers.pop_front();

                return 0;
            }

            ports->selectedName = *answers.front();
            answers.pop_front();
            return 1;
        };

        dialogs.showMessageBox = [this] (juce::MessageBoxIconType icon, const juce::String& title, const juce::String& text)
        {
            const auto& handler = inside (*panel).handler;
            const bool open = handler != nullptr && (handler->midiInput != nullptr || handler->midiOutput != nullptr);
            boxes.push_back ({ icon, title, text, stateOf (*panel), time.events.size(), open });
        };

        dialogs.runShellCommand = [this] (const char* command) { commands.add (command); };
        dialogs.chooseFirmwareFile = [] (const juce::File&) { return juce::File(); };

        time.events.clear();
        panel = std::make_unique<fenz::FirmwareUpgradeComponent> (productId, std::move (dialogs), time.timing());

        window = std::make_unique<Window>();
        window->setContentNonOwned (panel.get(), true);
        window->addComponentListener (this);

        titles.clear();
        boxes.clear();
        choosers.clear();
        answers.clear();
        commands.clear();
    }

    void press (juce::Button& button)   { panel->buttonClicked (&button); }
    void press (int step)               { panel->pressStep (step); }

    juce::String title() const          { return window->getName(); }

    // Queues the answers of the next choosers: a name is confirmed, nothing cancels.
    void willChoose (std::optional<juce::String> answer)  { answers.push_back (std::move (answer)); }

    // The panel as it is built and as every Upgrade run leaves it, whatever its end: back at
    // Connect, the progress and both device names cleared, the title's status line.
    void expectBackAtTheStart() const
    {
        const auto now = stateOf (*panel);
        EXPECT_EQ (now.step, -1);
        EXPECT_EQ (now.progress, 0.0);
        EXPECT_EQ (now.enabled, enabledAt (-1));
        EXPECT_EQ (now.normalName, "");
        EXPECT_EQ (now.upgradeName, "");
        EXPECT_EQ (now.status, "Firmware Upgrade");
    }

    // A close that the panel carries out once its step is over hides the window.
    struct Window : public juce::DialogWindow
    {
        Window() : juce::DialogWindow ("Firmware Upgrade", juce::Colours::lightgrey, true, false) {}
        void closeButtonPressed() override  { setVisible (false); }
    };

    RecordedTiming time;   // before the panel, whose close-time reset still pauses through it
    fenz::FirmwareUpgradeComponent::Timing ownTiming = fenz::FirmwareUpgradeComponent::realTiming();
    std::unique_ptr<fenz::FirmwareUpgradeComponent> panel;
    std::unique_ptr<juce::DialogWindow> window;
    std::deque<std::optional<juce::String>> answers;
    std::vector<Chooser> choosers;
    std::vector<Box> boxes;
    juce::StringArray commands, titles;

private:
    void componentNameChanged (juce::Component& c) override  { titles.add (c.getName()); }
};

} // namespace testsupport
