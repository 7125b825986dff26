#include <gtest/gtest.h>
#include "fenz_HttpFetch.h"
#include "LoopbackHttpServer.h"
#include "ScopedEnvironment.h"

#include <juce_events/juce_events.h>

using End = fenz::HttpFetch::End;
using Limits = fenz::HttpFetch::Limits;
using Server = testsupport::LoopbackHttpServer;
using Way = Server::Way;

namespace
{
    // Counts its callbacks: the message loop ran while it ticked.
    struct Ticker : public juce::Timer
    {
        Ticker()                        { startTimer (20); }
        ~Ticker() override              { stopTimer(); }
        void timerCallback() override   { ++ticks; }
        int ticks = 0;
    };

    struct Fetch : public ::testing::Test
    {
        End get (const juce::String& address, Limits limits, bool withBody = true, std::function<bool()> abandon = {})
        {
            body.reset();
            const auto started = juce::Time::getMillisecondCounter();
            const auto end = fenz::HttpFetch::get (address, limits, withBody ? &body : nullptr, abandon, "fetch test");
            elapsedMs = (int) (juce::Time::getMillisecondCounter() - started);
            return end;
        }

        static constexpr Limits roomy { 5000, 20000, 1 << 20 };

        testsupport::ScopedNoProxies noProxies;
        Server server;
        juce::MemoryOutputStream body;
        int elapsedMs = 0;
    };
}

//==============================================================================
// Relative and absolute Locations, as a browser resolves them against the answering address.
TEST (HttpFetchRedirect, TargetResolvesAgainstTheAnsweringAddress)
{
    const juce::String from ("http://127.0.0.1:8000/fw/list.xml?v=2#top");

    struct Case { const char* location; const char* target; };

    const Case cases[] = {
        { "https://mirror.example.org/a.bin",   "https://mirror.example.org/a.bin" },
        { "  http://localhost:9/b.bin \t",      "http://localhost:9/b.bin" },
        { "file:///etc/passwd",                 "file:///etc/passwd" },
        { "//mirror.example.org/c.bin",         "http://mirror.example.org/c.bin" },
        { "/d.bin",                             "http://127.0.0.1:8000/d.bin" },
        { "e.bin",                              "http://127.0.0.1:8000/fw/e.bin" },
        { "sub/f.bin?x=1",                      "http://127.0.0.1:8000/fw/sub/f.bin?x=1" },
        { "../g.bin",                           "http://127.0.0.1:8000/fw/../g.bin" },
        { "?v=3",                               "http://127.0.0.1:8000/fw/list.xml?v=3" },
        { "#end",                               "http://127.0.0.1:8000/fw/list.xml?v=2#end" },
        { "a:b/c",                              "a:b/c" },                                  // a scheme of its own
        { "./h:i",                              "http://127.0.0.1:8000/fw/./h:i" },
        { "",                                   "" },
        { "   ",                                "" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (fenz::HttpFetch::redirectTarget (from, c.location), juce::String (c.target)) << c.location;

    EXPECT_EQ (fenz::HttpFetch::redirectTarget ("http://127.0.0.1:8000", "x.bin"), "http://127.0.0.1:8000/x.bin");
    EXPECT_EQ (fenz::HttpFetch::redirectTarget ("http://127.0.0.1:8000?q", "x.bin"), "http://127.0.0.1:8000/x.bin");
}

//==============================================================================
// The body of a success answer arrives whole; without a body stream only the status counts.
TEST_F (Fetch, SuccessBringsTheWholeBody)
{
    const auto image = testsupport::patternedBytes (70000);
    server.answer ("/a.bin", 200, image);
    server.answer ("/empty", 204, juce::String());

    EXPECT_EQ (get (server.root() + "a.bin", roomy), End::complete);
    EXPECT_EQ (body.getMemoryBlock(), image);

    EXPECT_EQ (get (server.root() + "a.bin", roomy, false), End::complete);
    EXPECT_EQ (get (server.root() + "empty", roomy), End::complete);
    EXPECT_EQ (body.getDataSize(), 0u);
}

// The cap holds for what arrives and for what is announced, and the stream never receives
// more than the cap, however long the body goes on.
namespace
{
    struct CapCase
    {
        const char* name;
        std::function<void (Server&)> setUp;
        End end;
        size_t bodyBytes;       // what the stream holds afterwards (at most, for a failure)
    };

    std::ostream& operator<< (std::ostream& out, const CapCase& c) { return out << c.name; }

    constexpr size_t cap = 10000;

    const CapCase capCases[] = {
        { "ExactlyTheCap", [] (auto& s) { s.answer ("/a", 200, testsupport::patternedBytes (cap)); }, End::complete, cap },
        { "ExactlyTheCapInChunks",
          [] (auto& s) { s.answer ("/a", { 200, testsupport::chunked (testsupport::patternedBytes (cap), 3000), Way::whole, 0,
                                           testsupport::chunkedHead() }); },
          End::complete, cap },
        { "OneOverTheCap", [] (auto& s) { s.answer ("/a", 200, testsupport::patternedBytes (cap + 1)); }, End::failed, 0 },
        { "OneOverInChunks",
          [] (auto& s) { s.answer ("/a", { 200, testsupport::chunked (testsupport::patternedBytes (cap + 1), 3000), Way::whole, 0,
                                           testsupport::chunkedHead() }); },
          End::failed, cap },
        { "EndlessBody", [] (auto& s) { s.answer ("/a", 200, testsupport::patternedBytes (4096), Way::endless); }, End::failed, cap },
        { "AnnouncedTenTerabytes",
          [] (auto& s) { s.answer ("/a", { 200, testsupport::patternedBytes (4096), Way::whole, 0, testsupport::headWithLength ("10000000000000") }); },
          End::failed, 0 },
        { "AnnouncedOneOver",
          [] (auto& s) { s.answer ("/a", { 200, testsupport::patternedBytes (cap + 1), Way::whole, 0, testsupport::headWithLength (juce::String (cap + 1)) }); },
          End::failed, 0 },
        { "CutShort", [] (auto& s) { s.answer ("/a", 200, testsupport::patternedBytes (8000), Way::breakHalfWay); }, End::failed, 4000 },
    };

    class FetchCap : public Fetch, public ::testing::WithParamInterface<CapCase> {};
}

TEST_P (FetchCap, NeverTakesMoreThanTheCap)
{
    const auto& c = GetParam();
    c.setUp (server);

    EXPECT_EQ (get (server.root() + "a", { 5000, 20000, (juce::int64) cap }), c.end);

    if (c.end == End::complete)
        EXPECT_EQ (body.getDataSize(), c.bodyBytes);
    else
        EXPECT_LE (body.getDataSize(), c.bodyBytes);

    EXPECT_EQ (server.requestsFor ("/a"), 1);
}

INSTANTIATE_TEST_SUITE_P (Bodies, FetchCap, ::testing::ValuesIn (capCases),
                          [] (const auto& i) { return std::string (i.param.name); });

//==============================================================================
// A body is taken only when it is known to be whole: it brings the length its answer
// announced, or, announcing none, it comes in chunks up to the last one. A body that ends
// where the connection closes may have been cut anywhere, and is refused even when nothing
// was cut.
namespace
{
    struct WholeCase
    {
        const char* name;
        juce::String (*head)();
        juce::MemoryBlock (*wire)();    // the body as the connection carries it
        Way way;
        bool whole;
    };

    std::ostream& operator<< (std::ostream& out, const WholeCase& c) { return out << c.name; }

    juce::MemoryBlock wholeImage()      { return testsupport::patternedBytes (40000); }
    juce::MemoryBlock inChunks()        { return testsupport::chunked (wholeImage(), 4096); }
    juce::MemoryBlock lastChunkLeftOff() { return testsupport::chunked (wholeImage(), 4096, false); }
    juce::String exactLength()          { return testsupport::headWithLength ("40000"); }
    juce::String largerLength()         { return testsupport::headWithLength ("63487"); }

    const WholeCase wholeCases[] = {
        { "LengthExact", exactLength, wholeImage, Way::whole, true },
        { "LengthLargerThanSent", largerLength, wholeImage, Way::whole, false },
        { "NoLengthClosedEarly", testsupport::headWithoutLength, wholeImage, Way::breakHalfWay, false },
        { "NoLengthClosedAtTheEnd", testsupport::headWithoutLength, wholeImage, Way::whole, false },
        { "ChunkedWhole", testsupport::chunkedHead, inChunks, Way::whole, true },
        { "ChunkedCutBeforeTheLastChunk", testsupport::chunkedHead, lastChunkLeftOff, Way::whole, false },
        { "ChunkedCutInAChunk", testsupport::chunkedHead, inChunks, Way::breakHalfWay, false },
    };

    class FetchWhole : public Fetch, public ::testing::WithParamInterface<WholeCase> {};
}

TEST_P (FetchWhole, TakesOnlyABodyKnownToBeWhole)
{
    const auto& c = GetParam();
    server.answer ("/a.bin", { 200, c.wire(), c.way, 0, c.head() });

    EXPECT_EQ (get (server.root() + "a.bin", roomy), c.whole ? End::complete : End::failed);

    if (c.whole)
    {
        EXPECT_EQ (body.getMemoryBlock(), wholeImage());
    }

    EXPECT_EQ (server.requestsFor ("/a.bin"), 1);
}

INSTANTIATE_TEST_SUITE_P (Bodies, FetchWhole, ::testing::ValuesIn (wholeCases),
                          [] (const auto& i) { return std::string (i.param.name); });

// An empty body in chunks is the last chunk alone, and whole.
TEST_F (Fetch, EmptyChunkedBodyIsWhole)
{
    server.answer ("/empty", { 200, testsupport::chunked ({}, 4096), Way::whole, 0, testsupport::chunkedHead() });

    EXPECT_EQ (get (server.root() + "empty", roomy), End::complete);
    EXPECT_EQ (body.getDataSize(), 0u);
}

//==============================================================================
// A server silent before its head fails at the quiet limit, one that trickles on fails at the
// total limit, and the message loop runs all the while.
TEST_F (Fetch, DeadlinesEndTheWait)
{
    server.answer ("/silent", 200, testsupport::patternedBytes (100), Way::stallFirst, 20000);

    {
        Ticker ticker;
        EXPECT_EQ (get (server.root() + "silent", { 600, 20000, 1 << 20 }), End::failed);
        EXPECT_GE (ticker.ticks, 5);
        EXPECT_LT (elapsedMs, 5000);
    }

    // The first server stays in its stall until it stops.
    server.stop();
    Server trickling;
    trickling.answer ("/trickle", 200, testsupport::patternedBytes (100000), Way::trickle, 1);

    {
        Ticker ticker;
        EXPECT_EQ (get (trickling.root() + "trickle", { 10000, 1200, 1 << 20 }), End::failed);
        EXPECT_GE (ticker.ticks, 10);
        EXPECT_GT (body.getDataSize(), 0u) << "the trickle was under way";
        EXPECT_LT (elapsedMs, 8000) << "the total limit, not the quiet one, ended it";
    }
}

// abandon() ends the wait promptly, before the head and in the middle of a body alike.
TEST_F (Fetch, AbandonEndsTheWaitPromptly)
{
    struct Case { const char* name; Server::Answer answer; };

    for (const auto& c : { Case { "silent", { 200, testsupport::patternedBytes (100), Way::stallFirst, 20000, {} } },
                           Case { "stalled half way", { 200, testsupport::patternedBytes (20000), Way::stallHalfWay, 20000, {} } },
                           Case { "endless", { 200, testsupport::patternedBytes (100), Way::endless, 0, {} } } })
    {
        SCOPED_TRACE (c.name);
        Server s;
        s.answer ("/a", c.answer);

        bool asked = false;
        juce::uint32 askedAt = 0;
        juce::Timer::callAfterDelay (400, [&] { asked = true; askedAt = juce::Time::getMillisecondCounter(); });

        Ticker ticker;
        EXPECT_EQ (get (s.root() + "a", { 30000, 60000, juce::int64 { 1 } << 40 }, true, [&] { return asked; }),
                   End::abandoned);

        EXPECT_TRUE (asked);
        EXPECT_LT ((int) (juce::Time::getMillisecondCounter() - askedAt), 2500);
        EXPECT_GE (ticker.ticks, 5);
    }
}

//==============================================================================
// Redirects are followed by the fetch itself, at most five of them, relative or absolute.
TEST_F (Fetch, FollowsUpToFiveRedirects)
{
    const auto image = testsupport::patternedBytes (3000);
    server.redirect ("/r0", "/r1");
    server.redirect ("/r1", "r2", 301);
    server.redirect ("/r2", server.rootAs ("localhost") + "r3", 307);
    server.redirect ("/r3", "//127.0.0.1:" + juce::String (server.port()) + "/r4");
    server.redirect ("/r4", server.root() + "r5");
    server.answer ("/r5", 200, image);

    EXPECT_EQ (get (server.root() + "r0", roomy), End::complete);
    EXPECT_EQ (body.getMemoryBlock(), image);
    EXPECT_EQ (server.requests(), juce::StringArray ({ "/r0", "/r1", "/r2", "/r3", "/r4", "/r5" }));

    // One more is one too many: the sixth redirect is not followed.
    server.redirect ("/s0", "/r0");
    EXPECT_EQ (get (server.root() + "s0", roomy), End::failed);
    EXPECT_EQ (server.requestsFor ("/r5"), 1);
    EXPECT_EQ (server.requestsFor ("/r4"), 2);
}

// A redirect that names no target, or one the server rule refuses, fails the fetch without
// a request to the target. The second server stands for a host elsewhere: the forms of its
// address that the rule refuses do reach it when asked directly, so only the rule kept the
// fetch from it.
TEST_F (Fetch, RedirectOffTheRuleIsNeverFollowed)
{
    Server elsewhere;
    elsewhere.answer ("/a.bin", 200, testsupport::patternedBytes (100));

    server.answer ("/none", { 302, {}, Way::whole, 0, "HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n" });
    EXPECT_EQ (get (server.root() + "none", roomy), End::failed);

    for (const auto* host : { "127.1", "2130706433", "0x7f000001" })
    {
        SCOPED_TRACE (host);
        const auto target = elsewhere.rootAs (host) + "a.bin";
        const auto before = elsewhere.requests().size();

        server.redirect ("/off", target);
        EXPECT_EQ (get (server.root() + "off", roomy), End::failed);
        EXPECT_EQ (elsewhere.requests().size(), before) << "the redirect reached the other host";

        // The same address asked for directly, past the rule, is reachable.
        juce::URL (target).createInputStream (juce::URL::InputStreamOptions (juce::URL::ParameterHandling::inAddress)
                                                  .withConnectionTimeoutMs (2000));
        EXPECT_EQ (elsewhere.requests().size(), before + 1) << "this form does not reach the other host at all";
    }

    for (const auto* target : { "file:///etc/hostname", "ftp://127.0.0.1/a.bin", "http://192.0.2.1/a.bin",
                                "http://user@127.0.0.1/a.bin" })
    {
        SCOPED_TRACE (target);
        server.redirect ("/off", target);
        EXPECT_EQ (get (server.root() + "off", roomy), End::failed);
        EXPECT_EQ (body.getDataSize(), 0u);
        EXPECT_LT (elapsedMs, 2000);
    }

    // The first address is held to the rule as well.
    EXPECT_EQ (get (elsewhere.rootAs ("127.1") + "a.bin", roomy), End::failed);
}
