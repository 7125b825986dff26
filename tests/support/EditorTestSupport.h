#pragma once

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>
#include "ContentComponent.h"
#include "DeviceSelectComponent.h"
#include "KestalFixture.h"
#include "fenz_VirtualSurface.h"

// Helpers for tests of the editor content.
namespace editortest
{
    // Lets queued messages (asynchronous alerts, dialogs, repaints) happen.
    inline void pump (int milliseconds = 30)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
    }

    // Records the title and text of every message box the editor shows.
    struct RecordingLookAndFeel : public juce::LookAndFeel_V4
    {
        struct Alert { juce::String title, message; };

        juce::AlertWindow* createAlertWindow (const juce::String& title, const juce::String& message,
                                              const juce::String& button1, const juce::String& button2,
                                              const juce::String& button3, juce::MessageBoxIconType iconType,
                                              int numButtons, juce::Component* associatedComponent) override
        {
            alerts.push_back ({ title, message });
            return juce::LookAndFeel_V4::createAlertWindow (title, message, button1, button2, button3,
                                                            iconType, numButtons, associatedComponent);
        }

        std::vector<Alert> alerts;
    };

    // Ends every modal run and asynchronous box that is still open.
    inline void closeEverything()
    {
        juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
        pump();

        for (int i = juce::TopLevelWindow::getNumTopLevelWindows(); --i >= 0;)
            if (auto* dialog = dynamic_cast<juce::DialogWindow*> (juce::TopLevelWindow::getTopLevelWindow (i)))
                delete dialog;
    }

    // A mouse event at a position in the component's own coordinates.
    inline juce::MouseEvent mouseAt (juce::Component& c, juce::Point<float> position)
    {
        const auto now = juce::Time::getCurrentTime();
        return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), position, {},
                                 juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                                 juce::MouseInputSource::defaultRotation, juce::MouseInputSource::defaultTiltX,
                                 juce::MouseInputSource::defaultTiltY, &c, &c, now, position, now, 1, false);
    }

    // A replacement for the machine's MIDI devices, listing whatever names a test gives it.
    struct NamedPorts : public fenz::MidiPortProvider
    {
        explicit NamedPorts (juce::StringArray names) : outputs (std::move (names))
        {
            fenz::MidiPorts::setSystemProvider (this);
        }

        ~NamedPorts() override { fenz::MidiPorts::setSystemProvider (nullptr); }

        juce::StringArray getOutputNames() override { return outputs; }
        juce::StringArray getInputNames() override  { return {}; }
        std::unique_ptr<fenz::MidiOutputPort> openOutput (int) override { return nullptr; }
        std::unique_ptr<fenz::MidiInputPort> openInput (int, juce::MidiInputCallback&) override { return nullptr; }

        juce::StringArray outputs;
    };

    // The mapping object, an empty set of system ports, and the editor content, in that order,
    // as the application builds them. A test that wants a surface or other ports at start-up
    // installs them before calling makeContent().
    struct EditorFixture : public KestalFixture
    {
        EditorFixture()  { juce::LookAndFeel::setDefaultLookAndFeel (&lookAndFeel); g_lastSelectedDevice = {}; }

        ~EditorFixture() override
        {
            closeEverything();
            content = nullptr;
            juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
        }

        ContentComponent& makeContent()
        {
            content = std::make_unique<ContentComponent>();
            return *content;
        }

        MappableButton* control (int id) const
        {
            for (auto* section : { static_cast<juce::Component*> (&content->mixerSection),
                                   static_cast<juce::Component*> (&content->controlSection) })
                for (auto* child : section->getChildren())
                    if (auto* button = dynamic_cast<MappableButton*> (child))
                        if (button->controlId == id)
                            return button;

            return nullptr;
        }

        // Clicks a control as the user does, through the button's own click handling.
        void click (juce::Button& button) const
        {
            button.triggerClick();
            pump();
        }

        NamedPorts systemPorts { {} };
        RecordingLookAndFeel lookAndFeel;
        std::unique_ptr<ContentComponent> content;
    };
}
