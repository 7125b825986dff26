#pragma once

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <vector>

// What the tests of windows, boxes and dialogs share: the message loop, the alert windows'
// record, and a guard against a modal run that never ends.
namespace testsupport
{
    // Lets queued messages (asynchronous alerts, dialogs, repaints) happen.
    inline void pump (int milliseconds = 30)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (milliseconds);
    }

    // Lets the message loop run until the condition holds, for at most the given time; whether
    // it came to hold.
    template <typename Condition>
    bool pumpUntil (Condition&& condition, int maxMilliseconds = 5000)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) maxMilliseconds;

        while (! condition() && juce::Time::getMillisecondCounter() < end)
            pump (10);

        return condition();
    }

    // Records the icon, title, text and number of buttons of every box the framework's alert
    // windows show; it is the default look while it lives.
    struct RecordingLookAndFeel : public juce::LookAndFeel_V4
    {
        struct Alert { juce::MessageBoxIconType icon; juce::String title, message; int numButtons; };

        RecordingLookAndFeel()            { juce::LookAndFeel::setDefaultLookAndFeel (this); }
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

    // Ends every modal run still going, as its Cancel would: the one way the tests end a run
    // that nobody answered, whether a case gave up on it or cleans up after itself.
    inline void endEveryModalRun()
    {
        juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
    }

    // A modal run that never ends would hang the test: once its patience is over, this fails
    // the test and ends every modal run still going.
    class StuckDialogGuard : private juce::Timer
    {
    public:
        explicit StuckDialogGuard (int patienceMs = 30000)  { startTimer (patienceMs); }
        ~StuckDialogGuard() override                        { stopTimer(); }

        // True once it had to end the modal runs.
        bool fired() const noexcept  { return hasFired; }

    private:
        void timerCallback() override
        {
            stopTimer();
            hasFired = true;
            ADD_FAILURE() << "the dialog was still open";

            endEveryModalRun();
        }

        bool hasFired = false;
    };
}
