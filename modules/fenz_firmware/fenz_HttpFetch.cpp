#include "fenz_HttpFetch.h"
#include "fenz_FirmwareServer.h"
#include "fenz_Pause.h"

#include <juce_events/juce_events.h>

#include <atomic>

namespace fenz
{

namespace
{
    bool isSuccessStatus (int status) noexcept     { return status >= 200 && status <= 299; }
    bool isRedirectStatus (int status) noexcept    { return status >= 300 && status <= 399; }

    juce::uint32 now() noexcept                     { return juce::Time::getMillisecondCounter(); }

    // Whether an answer's body comes in chunks, that coding alone. The framework loses an
    // answer's first header line, so a Transfer-Encoding sent first of all is not seen; and an
    // HTTP/2 answer, which the framework does not tell apart, has no chunks. Announcing no
    // length, either body is refused, even when it came whole.
    bool isChunked (const juce::StringPairArray& headers)
    {
        return headers["Transfer-Encoding"].trim().equalsIgnoreCase ("chunked");
    }

    // A scheme before the first ':' ahead of any '/', '?' or '#' makes a reference absolute.
    bool hasScheme (const juce::String& reference)
    {
        const auto colon = reference.indexOfChar (':');
        const auto pathStart = reference.indexOfAnyOf ("/?#");

        if (colon <= 0 || (pathStart >= 0 && pathStart < colon))
            return false;

        const auto scheme = reference.substring (0, colon);
        return juce::CharacterFunctions::isLetter (scheme[0])
                && scheme.containsOnly ("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.");
    }

    class Worker : public juce::Thread
    {
    public:
        Worker (const juce::String& nameOfThread, const juce::String& firstAddress, const HttpFetch::Limits& l,
                juce::OutputStream* bodyStream)
            : juce::Thread (nameOfThread), address (firstAddress), limits (l), body (bodyStream)
        {
        }

        ~Worker() override { stop(); }

        // Message thread: ends the fetch where it stands and waits for the thread. A cancelled
        // transfer notices at its next look, which its wait for the network makes within about
        // a second.
        void stop()
        {
            signalThreadShouldExit();

            {
                const juce::ScopedLock sl (streamLock);

                if (stream != nullptr)
                    stream->cancel();
            }

            waitForThreadToExit (-1);
        }

        std::atomic<bool> done { false }, succeeded { false };

        // When the last request went out or the last bytes of a body came in.
        std::atomic<juce::uint32> lastNews { now() };

    private:
        void run() override
        {
            succeeded = fetch();
            done = true;
        }

        bool fetch()
        {
            auto current = address;

            for (int redirects = 0;; ++redirects)
            {
                if (! FirmwareServer::mayFetch (current))
                    return false;

                lastNews = now();
                auto* s = open (current);

                // Returns once the head and the first bytes of the body are in, or the transfer
                // has ended: a server that cannot be reached leaves the status at 0.
                if (s == nullptr || ! s->connect (nullptr) || threadShouldExit())
                    return false;

                const auto status = s->getStatusCode();

                if (isRedirectStatus (status))
                {
                    if (redirects == HttpFetch::maxRedirects)
                        return false;

                    // The framework takes an answer's first header line for its status line and
                    // drops it: a Location sent first of all is not seen, and the fetch fails.
                    current = HttpFetch::redirectTarget (current, s->getResponseHeaders()["Location"]);

                    if (current.isEmpty())
                        return false;

                    continue;
                }

                if (! isSuccessStatus (status))
                    return false;

                return body == nullptr || readBody (*s);
            }
        }

        // The next request's stream, unless the fetch is being stopped; stop() cancels
        // whichever stream is the current one.
        juce::WebInputStream* open (const juce::String& target)
        {
            // Unparsed, so that the address fetched is the very text the rule was asked about.
            auto next = std::make_unique<juce::WebInputStream> (juce::URL::createWithoutParsing (target), false);
            next->withNumRedirectsToFollow (0);

            std::unique_ptr<juce::WebInputStream> previous;
            const juce::ScopedLock sl (streamLock);

            if (threadShouldExit())
                return nullptr;

            previous = std::exchange (stream, std::move (next));
            return stream.get();
        }

        bool readBody (juce::WebInputStream& s)
        {
            // The server's word on the length sizes nothing here; it only refuses early.
            const auto announced = s.getTotalLength();

            if (announced > limits.maxBytes)
                return false;

            char buffer[HttpFetch::readBytes];
            juce::int64 received = 0;

            for (;;)
            {
                const auto wanted = announced >= 0 ? juce::jmin ((juce::int64) HttpFetch::readBytes, announced - received)
                                                   : (juce::int64) HttpFetch::readBytes;

                if (wanted <= 0)
                    break;

                const auto got = s.read (buffer, (int) wanted);

                if (threadShouldExit())
                    return false;

                if (got <= 0)
                    break;

                if (received + got > limits.maxBytes || ! body->write (buffer, (size_t) got))
                    return false;

                received += got;
                lastNews = now();
            }

            // A body cut short, by the transfer or against its announced length, is no body.
            if (s.isError())
                return false;

            if (announced >= 0)
                return received == announced;

            // Without a length only a chunked body can be known whole: the transfer fails one
            // cut before its last chunk, above. A body that simply ends where the connection
            // closed may have been cut anywhere, and is no body either.
            return isChunked (s.getResponseHeaders());
        }

        const juce::String address;
        const HttpFetch::Limits limits;
        juce::OutputStream* const body;

        juce::CriticalSection streamLock;
        std::unique_ptr<juce::WebInputStream> stream;
    };
}

HttpFetch::End HttpFetch::get (const juce::String& address, const Limits& limits, juce::OutputStream* body,
                               const std::function<bool()>& abandon, const juce::String& threadName)
{
    JUCE_ASSERT_MESSAGE_THREAD

    Worker worker (threadName, address, limits, body);
    const auto started = now();
    worker.startThread();

    auto end = End::failed;

    for (;;)
    {
        if (worker.done)
        {
            end = worker.succeeded ? End::complete : End::failed;
            break;
        }

        runMessageLoopFor (limits.sliceMs);

        if (abandon != nullptr && abandon())
        {
            end = End::abandoned;
            break;
        }

        if (worker.done)
            continue;

        const auto t = now();

        if ((int) (t - started) >= limits.totalMs || (int) (t - worker.lastNews.load()) >= limits.quietMs)
            break;
    }

    worker.stop();
    return end;
}

juce::String HttpFetch::redirectTarget (const juce::String& from, const juce::String& location)
{
    const auto reference = location.trim();

    if (reference.isEmpty())
        return {};

    if (hasScheme (reference))
        return reference;

    const auto schemeEnd = from.indexOf ("://");

    if (schemeEnd < 0)
        return {};

    auto pathStart = from.indexOfAnyOf ("/?#", schemeEnd + 3);
    pathStart = pathStart < 0 ? from.length() : pathStart;

    auto pathEnd = from.indexOfAnyOf ("?#", pathStart);
    pathEnd = pathEnd < 0 ? from.length() : pathEnd;

    const auto origin = from.substring (0, pathStart);
    const auto path = pathStart < pathEnd ? from.substring (pathStart, pathEnd) : juce::String ("/");
    const auto query = from.substring (pathEnd).upToFirstOccurrenceOf ("#", false, false);

    if (reference.startsWith ("//"))
        return from.substring (0, schemeEnd + 1) + reference;

    if (reference.startsWithChar ('/'))
        return origin + reference;

    if (reference.startsWithChar ('?'))
        return origin + path + reference;

    if (reference.startsWithChar ('#'))
        return origin + path + query + reference;

    return origin + path.upToLastOccurrenceOf ("/", true, false) + reference;
}

} // namespace fenz
