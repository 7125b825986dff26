#pragma once

#include <juce_core/juce_core.h>

#include <algorithm>
#include <map>
#include <vector>

#include <sys/socket.h>

namespace firmwaretest
{

// A small HTTP/1.1 server on 127.0.0.1 inside the test program, standing in for the firmware
// server. It listens on a free port, answers one request per connection on a thread of its
// own, and is bounded everywhere: it serves at most a given number of requests, waits at most
// two seconds for a request to arrive, and every stall it is told to make ends when its time
// is up or when the server stops, whichever is first. Destroying it stops it.
class LoopbackHttpServer : private juce::Thread
{
public:
    // How an answer goes out.
    enum class Way
    {
        whole,          // status line, headers and the whole body
        stallFirst,     // nothing at all for stallMs, then the whole answer
        stallHalfWay,   // headers and the first half of the body, nothing for stallMs, then the rest
        breakHalfWay    // headers (with the whole length) and the first half of the body, then the connection closes
    };

    struct Answer
    {
        int status = 200;
        juce::MemoryBlock body;
        Way way = Way::whole;
        int stallMs = 0;
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
    juce::String root() const       { return "http://127.0.0.1:" + juce::String (port()) + "/"; }

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
        answer (path, Answer { status, juce::MemoryBlock (body.toRawUTF8(), body.getNumBytesAsUTF8()), way, stallMs });
    }

    void answer (const juce::String& path, int status, const juce::MemoryBlock& body, Way way = Way::whole, int stallMs = 0)
    {
        answer (path, Answer { status, body, way, stallMs });
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
        return std::count (received.begin(), received.end(), path);
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
                a = list.front();

                if (list.size() > 1)
                    list.erase (list.begin());
            }
        }

        juce::String head;
        head << "HTTP/1.1 " << a.status << " " << reasonOf (a.status) << "\r\n"
             << "Content-Length: " << (int) a.body.getSize() << "\r\n"
             << "Content-Type: application/octet-stream\r\n"
             << "Connection: close\r\n\r\n";

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

    // Writes all bytes, without the signal a closed peer would raise; false when the peer has gone.
    static bool send (juce::StreamingSocket& connection, const char* data, size_t size)
    {
        while (size > 0)
        {
            const auto n = ::send (connection.getRawSocketHandle(), data, size, MSG_NOSIGNAL);

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
            case 302: return "Found";
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

} // namespace firmwaretest
