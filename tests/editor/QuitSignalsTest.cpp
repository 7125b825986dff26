#include <gtest/gtest.h>
#include "GuiTestSupport.h"
#include "QuitSignals.h"

#include <csignal>

namespace
{
    void (*handlerOf (int signal)) (int)
    {
        struct sigaction action {};
        sigaction (signal, nullptr, &action);
        return action.sa_handler;
    }
}

// Each signal becomes a request on the message thread instead of an immediate end; signals that
// come before the request has been made come to one request.
TEST (QuitSignals, EachSignalBecomesARequestOnTheMessageThread)
{
    for (const int signal : { SIGINT, SIGTERM })
    {
        SCOPED_TRACE (signal);
        int requests = 0;
        bool onMessageThread = false;

        QuitSignals signals ([&]
        {
            ++requests;
            onMessageThread = juce::MessageManager::getInstance()->isThisTheMessageThread();
        });

        std::raise (signal);
        std::raise (signal);

        ASSERT_TRUE (testsupport::pumpUntil ([&] { return requests > 0; }));
        juce::MessageManager::getInstance()->runDispatchLoopUntil (150);
        EXPECT_EQ (requests, 1);
        EXPECT_TRUE (onMessageThread);

        std::raise (signal);
        EXPECT_TRUE (testsupport::pumpUntil ([&] { return requests == 2; })) << "a later signal asks again";
    }
}

// The signals are the object's only while it lives.
TEST (QuitSignals, GivesTheSignalsBack)
{
    const auto intBefore = handlerOf (SIGINT);
    const auto termBefore = handlerOf (SIGTERM);

    {
        QuitSignals signals ({});
        EXPECT_NE (handlerOf (SIGINT), intBefore);
        EXPECT_NE (handlerOf (SIGTERM), termBefore);
    }

    EXPECT_EQ (handlerOf (SIGINT), intBefore);
    EXPECT_EQ (handlerOf (SIGTERM), termBefore);
}
