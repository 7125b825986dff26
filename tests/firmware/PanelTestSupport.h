#pragma once

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>
#include "fenz_FirmwareUpgradeComponent.h"
#include "fenz_MidiPorts.h"

#include <map>
#include <vector>

namespace paneltest
{
    // Lets queued messages happen.
    inline void pump (int milliseconds = 30)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
    }

    // The system's MIDI ports replaced by outputs of the given names. Every output records what
    // it is sent, one event per line, in one log of all ports: "open <name>", the bytes of
    // each message in hex, "close <name>". Each output has an identifier of its own ("port-"
    // and its place in the first list), and those named in leaveWhenClosed leave the list once
    // they are closed after something was sent to them, as a device does that restarts.
    struct RecordingPorts : public fenz::MidiPortProvider
    {
        explicit RecordingPorts (juce::StringArray names) : outputs (std::move (names))
        {
            for (int i = 0; i < outputs.size(); ++i)
                identifiers.add ("port-" + juce::String (i));

            fenz::MidiPorts::setSystemProvider (this);
        }

        ~RecordingPorts() override  { fenz::MidiPorts::setSystemProvider (nullptr); }

        struct Output : public fenz::MidiOutputPort
        {
            Output (RecordingPorts& o, juce::String n, juce::String i)
                : owner (o), name (std::move (n)), identifier (std::move (i))  { owner.log.add ("open " + name); }

            ~Output() override
            {
                owner.log.add ("close " + name);

                if (sentSomething && owner.leaveWhenClosed.contains (name))
                {
                    const auto index = owner.identifiers.indexOf (identifier);
                    owner.outputs.remove (index);
                    owner.identifiers.remove (index);
                }
            }

            void sendMessageNow (const juce::MidiMessage& m) override
            {
                owner.log.add (juce::String::toHexString (m.getRawData(), m.getRawDataSize()));
                owner.received[name].push_back (m);
                sentSomething = true;
            }

            void sendBlockOfMessagesNow (const juce::MidiBuffer& buffer) override
            {
                for (const auto metadata : buffer)
                    sendMessageNow (metadata.getMessage());
            }

            RecordingPorts& owner;
            juce::String name, identifier;
            bool sentSomething = false;
        };

        juce::StringArray getOutputNames() override        { return outputs; }
        juce::StringArray getOutputIdentifiers() override  { return identifiers; }
        juce::StringArray getInputNames() override         { return {}; }

        std::unique_ptr<fenz::MidiOutputPort> openOutput (int index) override
        {
            if (! juce::isPositiveAndBelow (index, outputs.size()) || refused.contains (outputs[index]))
                return nullptr;

            return std::make_unique<Output> (*this, outputs[index], identifiers[index]);
        }

        std::unique_ptr<fenz::MidiInputPort> openInput (int, juce::MidiInputCallback&) override  { return nullptr; }

        // How many lines of the log are exactly this one.
        int countOf (const juce::String& line) const
        {
            int n = 0;
            for (auto& l : log)
                n += (l == line) ? 1 : 0;
            return n;
        }

        juce::StringArray outputs, identifiers;
        juce::StringArray refused;           // names whose ports do not open
        juce::StringArray leaveWhenClosed;   // names whose ports leave the list once used
        juce::StringArray log;
        std::map<juce::String, std::vector<juce::MidiMessage>> received;
    };

    // Records the icon, title and text of every box the framework's alert windows show.
    struct RecordingLookAndFeel : public juce::LookAndFeel_V4
    {
        struct Alert { juce::MessageBoxIconType icon; juce::String title, message; int numButtons; };

        RecordingLookAndFeel()   { juce::LookAndFeel::setDefaultLookAndFeel (this); }
        ~RecordingLookAndFeel() override  { juce::LookAndFeel::setDefaultLookAndFeel (nullptr); }

        juce::AlertWindow* createAlertWindow (const juce::String& title, const juce::String& message,
                                              const juce::String& button1, const juce::String& button2,
                                              const juce::String& button3, juce::MessageBoxIconType iconType,
                                              int numButtons, juce::Component* associatedComponent) override
        {
            alerts.push_back ({ iconType, title, message, numButtons });
            return juce::LookAndFeel_V4::createAlertWindow (title, message, button1, button2, button3,
                                                            iconType, numButtons, associatedComponent);
        }

        std::vector<Alert> alerts;
    };

    // The step buttons in step order.
    inline std::vector<juce::TextButton*> stepButtons (fenz::FirmwareUpgradeComponent& panel)
    {
        return { &panel.connectStepButton, &panel.eraseStepButton, &panel.activateStepButton,
                 &panel.versionStepButton, &panel.upgradeStepButton };
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
