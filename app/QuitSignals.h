#pragma once

#include <juce_events/juce_events.h>
#include <functional>
#include <memory>

// SIGINT and SIGTERM become a polite request to quit, handed to the callback on the message
// thread, so that they wait for a firmware upgrade step as the window's close button does. (On
// Linux the framework's own SIGINT handler quits at once, whatever is running.) While an object
// lives the two signals are its; deleting it gives them back to the handlers it replaced. Of
// several objects the latest made has them; deleting it gives them back to the one before, and
// deleting an earlier one first leaves the later one to give back, when it goes, what that one
// replaced.
class QuitSignals : private juce::Timer
{
public:
    explicit QuitSignals (std::function<void()> onQuitRequested);
    ~QuitSignals() override;

private:
    void timerCallback() override;

    std::function<void()> onQuitRequested;

    struct Replaced;
    std::unique_ptr<Replaced> replaced;

    JUCE_DECLARE_NON_COPYABLE (QuitSignals)
};
