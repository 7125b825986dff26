#pragma once

#include <juce_core/juce_core.h>

#include <algorithm>
#include <map>
#include <vector>

#include <cerrno>
#include <sys/socket.h>

namespace testsupport
{

// Bytes that tell their positions apart, as a body for the server to serve.
inline juce::MemoryBlock patternedBytes (size_t size)
{
    juce::MemoryBlock block (size);

    for (size_t i = 0; i < size; ++i)
        static_cast<juce::uint8*> (block.getData())[i] = (juce::uint8) ((i * 7 + 3) & 0xff);

    return block;
}

// The head of a success answer that announces the given length, whatever the body brings.
inline juce::String headWithLength (const juce::String& length)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + length + "\r\nConnection: close\r\n\r\n";
}

// The head of a success answer that announces no length: its body ends where the connection
// closes, wherever that is.
inline juce::String headWithoutLength()
{
    return "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
}

// The head of a success answer whose body comes in chunks. Transfer-Encoding is not the first
// header, as with the usual servers: the framework drops the first header line of an answer.
inline juce::String chunkedHead()
{
    return "HTTP/1.1 200 OK\r\nServer: loopback\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
}

// The body as a chunked answer carries it, in chunks of chunkBytes (the last one shorter),
// followed by the last, empty chunk unless it is left off.
inline juce::MemoryBlock chunked (const juce::MemoryBlock& body, size_t chunkBytes, bool withLastChunk = true)
{
    juce::MemoryOutputStream wire;

    for (size_t start = 0; start < body.getSize(); start += chunkBytes)
    {
        const auto size = std::min (chunkBytes, body.getSize() - start);
        wire << juce::String::toHexString ((juce::int64) size) << "\r\n";
        wire.write (static_cast<const char*> (body.getData()) + start, size);
        wire << "\r\n";
    }

    if (withLastChunk)
        wire << "0\r\n\r\n";

    return wire.getMemoryBlock();
}

// A small HTTP/1.1 server on 127.0.0.1 inside the test program, standing in for the firmware
// server. It listens on a free port, answers one request per connection on a thread of its
// own, and is bounded everywhere: it serves at most a given number of requests, waits at most
// two seconds for a request to arrive, and every stall it is told to make, and every answer
// that goes on and on, ends when its time is up, when the peer has gone or when the server
// stops, whichever is first. Destroying it stops it.
class LoopbackHttpServer : private juce::Thread
{
public:
    // How an answer goes out.
    enum class Way
    {
        whole,          // status line, headers and the whole body
        stallFirst,     // nothing at all for stallMs, then the whole answer
        stallHalfWay,   // headers and the first half of the body, nothing for stallMs, then the rest
        breakHalfWay,   // headers (with the whole length) and the first half of the body, then the connection closes
        endless,        // headers without a length, then the body over and over
        trickle         // headers, then the body one byte at a time with stallMs between bytes
    };

    // The longest that any answer goes on, an endless or a trickling one included.
    static constexpr int longestAnswerMs = 30000;

    struct Answer
    {
        int status = 200;
        juce::MemoryBlock body;
        Way way = Way::whole;
        int stallMs = 0;
        juce::String head;      // when not empty, sent as it is instead of the usual status line and headers
    };

    explicit LoopbackHttpServer (int maxRequests = 16)
        : juce::Thread ("loopback HTTP server"), requestLimit (maxRequests)
    {
        if (listener.createListener (0, "127.0.0.1"))
            startThread();
    }

    ~LoopbackHttpServer() override { stop(); }

    // Ends any stall, closes the listener and waits for the thread.
    void stop()
    {
        signalThreadShouldExit();
        stopped.signal();
        stopThread (10000);
        listener.close();
    }

    bool isListening() const        { return listener.isConnected() && isThreadRunning(); }
    int port() const                { return listener.getBoundPort(); }
    juce::String root() const       { return rootAs ("127.0.0.1"); }

    // The root with the host written as given, e.g. "localhost" or "127.1".
    juce::String rootAs (const juce::String& host) const  { return "http://" + host + ":" + juce::String (port()) + "/"; }

    // What a GET of the path (as the request line gives it, e.g. "/firmware.xml") answers,
    // one answer after the other for repeated requests; the last answer stays. A path without
    // answers gets 404.
    void answer (const juce::String& path, Answer a)
    {
        const juce::ScopedLock sl (lock);
        answers[path].push_back (std::move (a));
    }

    void answer (const juce::String& path, int status, const juce::String& body, Way way = Way::whole, int stallMs = 0)
    {
        answer (path, Answer { status, juce::MemoryBlock (body.toRawUTF8(), body.getNumBytesAsUTF8()), way, stallMs, {} });
    }

    void answer (const juce::String& path, int status, const juce::MemoryBlock& body, Way way = Way::whole, int stallMs = 0)
    {
        answer (path, Answer { status, body, way, stallMs, {} });
    }

    // A redirect of the path to the location, with no body. Location is not the first header,
    // as with the usual servers: the framework drops the first header line of an answer.
    void redirect (const juce::String& path, const juce::String& location, int status = 302)
    {
        Answer a;
        a.status = status;
        a.head << "HTTP/1.1 " << status << " " << reasonOf (status) << "\r\n"
               << "Server: loopback\r\n"
               << "Location: " << location << "\r\n"
               << "Content-Length: 0\r\n"
               << "Connection: close\r\n\r\n";
        answer (path, std::move (a));
    }

    // The paths of the requests received so far, in order of arrival.
    juce::StringArray requests() const
    {
        const juce::ScopedLock sl (lock);
        return received;
    }

    // How many requests asked for the path.
    int requestsFor (const juce::String& path) const
    {
        const juce::ScopedLock sl (lock);
        return static_cast<int> (std::count (received.begin(), received.end(), path));
    }

private:
    void run() override
    {
        for (int served = 0; served < requestLimit && ! threadShouldExit();)
        {
            if (listener.waitUntilReady (true, 20) != 1)
                continue;

            std::unique_ptr<juce::StreamingSocket> connection (listener.waitForNextConnection());

            if (connection == nullptr)
                continue;

            ++served;
            serve (*connection);
            connection->close();
        }
    }

    void serve (juce::StreamingSocket& connection)
    {
        const auto path = readRequestPath (connection);

        if (path.isEmpty())
            return;

        Answer a;
        {
            const juce::ScopedLock sl (lock);
            received.add (path);
            auto& list = answers[path];

            if (list.empty())
            {
                a.status = 404;
                a.body = juce::MemoryBlock ("Not Found", 9);
            }
            else
            {
                // Copied by construction: the framework's copy assignment of an empty body
                // hands a null pointer to memcpy.
                a = Answer (list.front());

                if (list.size() > 1)
                    list.erase (list.begin());
            }
        }

        auto head = a.head;

        if (head.isEmpty())
        {
            head << "HTTP/1.1 " << a.status << " " << reasonOf (a.status) << "\r\n";

            if (a.way != Way::endless)
                head << "Content-Length: " << (int) a.body.getSize() << "\r\n";

            head << "Content-Type: application/octet-stream\r\n"
                 << "Connection: close\r\n\r\n";
        }

        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) longestAnswerMs;
        const auto inTime = [end] { return juce::Time::getMillisecondCounter() < end; };

        const auto* bytes = static_cast<const char*> (a.body.getData());
        const auto half = a.body.getSize() / 2;

        switch (a.way)
        {
            case Way::whole:
                if (send (connection, head.toRawUTF8(), head.getNumBytesAsUTF8()))
                    send (connection, bytes, a.body.getSize());
                break;

            case Way::stallFirst:
                if (stall (a.stallMs) && send (connection, head.toRawUTF8(), head.getNumBytesAsUTF8()))
                    send (connection, bytes, a.body.getSize());
                break;

            case Way::stallHalfWay:
                if (send (connection, head.toRawUTF8(), head.getNumBytesAsUTF8())
                     && send (connection, bytes, half)
                     && stall (a.stallMs))
                    send (connection, bytes + half, a.body.getSize() - half);
                break;

            case Way::breakHalfWay:
                if (send (connection, head.toRawUTF8(), head.getNumBytesAsUTF8()))
                    send (connection, bytes, half);
                break;

            case Way::endless:
                if (send (connection, head.toRawUTF8(), head.getNumBytesAsUTF8()) && a.body.getSize() > 0)
                    while (inTime() && send (connection, bytes, a.body.getSize())) {}
                break;

            case Way::trickle:
                if (send (connection, head.toRawUTF8(), head.getNumBytesAsUTF8()))
                    for (size_t i = 0; i < a.body.getSize() && inTime() && send (connection, bytes + i, 1) && stall (a.stallMs); ++i) {}
                break;
        }
    }

    // The path of the request line, once the whole head has arrived within two seconds.
    juce::String readRequestPath (juce::StreamingSocket& connection)
    {
        juce::MemoryOutputStream head;
        const auto deadline = juce::Time::getMillisecondCounter() + 2000;
        char buffer[1024];

        while (! threadShouldExit() && juce::Time::getMillisecondCounter() < deadline && head.getDataSize() < 16384)
        {
            if (connection.waitUntilReady (true, 20) != 1)
                continue;

            const auto n = connection.read (buffer, (int) sizeof (buffer), false);

            if (n <= 0)
                return {};

            head.write (buffer, (size_t) n);

            const auto text = head.toString();

            if (text.contains ("\r\n\r\n"))
            {
                const auto requestLine = text.upToFirstOccurrenceOf ("\r\n", false, false);
                juce::StringArray parts;
                parts.addTokens (requestLine, " ", {});
                return parts.size() == 3 && parts[0] == "GET" ? parts[1] : juce::String ("?");
            }
        }

        return {};
    }

    // Writes all bytes, without the signal a closed peer would raise; false when the peer has
    // gone or the server stops. A peer that reads nothing holds it up only until then.
    bool send (juce::StreamingSocket& connection, const char* data, size_t size)
    {
        while (size > 0)
        {
            if (threadShouldExit())
                return false;

            const auto n = ::send (connection.getRawSocketHandle(), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);

            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            {
                connection.waitUntilReady (false, 20);
                continue;
            }

            if (n <= 0)
                return false;

            data += n;
            size -= (size_t) n;
        }

        return true;
    }

    // Waits the given time unless the server stops first; true when the time is up.
    bool stall (int milliseconds)
    {
        return ! stopped.wait (milliseconds) && ! threadShouldExit();
    }

    static const char* reasonOf (int status)
    {
        switch (status)
        {
            case 200: return "OK";
            case 301: return "Moved Permanently";
            case 302: return "Found";
            case 307: return "Temporary Redirect";
            case 404: return "Not Found";
            case 500: return "Internal Server Error";
            default:  return "Status";
        }
    }

    const int requestLimit;
    juce::StreamingSocket listener;
    juce::WaitableEvent stopped { true };
    juce::CriticalSection lock;
    std::map<juce::String, std::vector<Answer>> answers;
    juce::StringArray received;
};

} // namespace testsupport
