#pragma once

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>
#include "ContentComponent.h"
#include "DeviceSelectComponent.h"
#include "FakeMidiPorts.h"
#include "GuiTestSupport.h"
#include "KestalFixture.h"
#include "fenz_VirtualSurface.h"

// Helpers for tests of the editor content.
namespace testsupport
{
    // Ends every modal run and asynchronous box that is still open.
    inline void closeEverything()
    {
        testsupport::endEveryModalRun();
        testsupport::pump();

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

    // The mapping object, an empty set of system ports, and the editor content, in that order,
    // as the application builds them. A test that wants a surface or other ports at start-up
    // installs them before calling makeContent().
    struct EditorFixture : public KestalFixture
    {
        EditorFixture()  { g_lastSelectedDevice = {}; }

        ~EditorFixture() override
        {
            closeEverything();
            content = nullptr;
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
            testsupport::pump();
        }

        testsupport::FakeMidiPorts systemPorts;
        testsupport::RecordingLookAndFeel lookAndFeel;   // the default look while the fixture lives
        std::unique_ptr<ContentComponent> content;
    };
}
