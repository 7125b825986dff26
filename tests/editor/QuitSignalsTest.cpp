#include <gtest/gtest.h>
#include "GuiTestSupport.h"
#include "QuitSignals.h"

#include <csignal>
#include <optional>

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

// Of two objects the later one has the signals while both live, the earlier one again once the
// later has gone, and the handlers from before both are back once both have gone, whichever
// goes first.
TEST (QuitSignals, TwoObjectsGiveTheSignalsBackInEitherOrder)
{
    const auto intBefore = handlerOf (SIGINT);
    const auto termBefore = handlerOf (SIGTERM);

    for (const bool laterGoesFirst : { true, false })
    {
        SCOPED_TRACE (laterGoesFirst ? "the later one goes first" : "the earlier one goes first");
        int earlierRequests = 0, laterRequests = 0;
        std::optional<QuitSignals> earlier, later;
        earlier.emplace ([&] { ++earlierRequests; });
        later.emplace ([&] { ++laterRequests; });

        std::raise (SIGTERM);
        EXPECT_TRUE (testsupport::pumpUntil ([&] { return laterRequests == 1; })) << "the later one has the signals";
        juce::MessageManager::getInstance()->runDispatchLoopUntil (150);
        EXPECT_EQ (earlierRequests, 0) << "one signal, one request";

        auto& stays = laterGoesFirst ? earlier : later;
        auto& staysRequests = laterGoesFirst ? earlierRequests : laterRequests;
        (laterGoesFirst ? later : earlier).reset();

        EXPECT_NE (handlerOf (SIGINT), intBefore) << "the one still there lost the signals";
        std::raise (SIGINT);
        EXPECT_TRUE (testsupport::pumpUntil ([&] { return staysRequests == (laterGoesFirst ? 1 : 2); }))
            << "the one still there hears the signal";

        stays.reset();
        EXPECT_EQ (handlerOf (SIGINT), intBefore);
        EXPECT_EQ (handlerOf (SIGTERM), termBefore);
    }
}
