#pragma once

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>
#include "GuiTestSupport.h"

#include <functional>
#include <vector>

// Answers, one after the other, the modal windows that open while a test runs code that waits
// for them (a blocking box, a modal dialog). Each action is called with the next modal window
// that opens, from inside its modal loop. A window that never comes fails the test and ends
// every modal run, so that nothing waits for ever; so does one more modal window opening after
// the last action.
class ModalScript : private juce::Timer
{
public:
    using Action = std::function<void (juce::Component& modal)>;

    explicit ModalScript (std::vector<Action> steps) : actions (std::move (steps))  { startTimer (10); }
    ~ModalScript() override  { stopTimer(); }

    size_t numAnswered() const noexcept  { return next; }

private:
    void timerCallback() override
    {
        auto* modal = juce::ModalComponentManager::getInstance()->getModalComponent (0);

        if (next >= actions.size())
        {
            if (modal != nullptr && ! wasAnswered (modal))
            {
                ADD_FAILURE() << "an unexpected modal window opened: \"" << modal->getName() << "\"";
                answered.emplace_back (modal);
                modal->exitModalState (0);
            }

            return;
        }

        if (modal != nullptr && ! wasAnswered (modal))
        {
            answered.emplace_back (modal);
            ticks = 0;
            auto action = actions[next++];
            action (*modal);
            return;
        }

        if (++ticks > 500)
        {
            ADD_FAILURE() << "modal window " << next + 1 << " never opened";
            stopTimer();
            testsupport::endEveryModalRun();
        }
    }

    std::vector<Action> actions;
    size_t next = 0;
    int ticks = 0;
    std::vector<juce::Component::SafePointer<juce::Component>> answered;

    bool wasAnswered (juce::Component* modal) const
    {
        for (auto& c : answered)
            if (c.getComponent() == modal)
                return true;

        return false;
    }
};
