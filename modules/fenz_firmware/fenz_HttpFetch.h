#pragma once

#include <juce_core/juce_core.h>

#include <functional>

namespace fenz
{

// One GET of the firmware upgrader's, made on a thread of its own while the calling thread,
// the message thread, keeps its loop running in slices. The framework's redirect following is
// off: redirects are followed here, at most maxRedirects of them, and every address, the first
// one and each redirect's target alike, must pass FirmwareServer::mayFetch before any request
// goes to it. The deadlines are all the fetch's own: the transfer is given no time-out of the
// framework's, under which a cancel could wait for that time-out to run out, while without one
// the framework's transfer looks for a cancel about once a second. The thread has always ended
// by the time get() returns.
struct HttpFetch
{
    static constexpr int maxRedirects = 5;

    // A body is read in pieces of this size, each of which counts as news for the quiet limit:
    // the stream hands out a read only once it is whole.
    static constexpr int readBytes = 256;

    struct Limits
    {
        int quietMs;            // the longest wait for an answer's head, or for more of its body
        int totalMs;            // the whole fetch, every redirect and the body included
        juce::int64 maxBytes;   // the largest body taken; one that brings or announces more fails
        int sliceMs = 32;       // how long the message loop runs between two looks at the fetch
    };

    enum class End
    {
        complete,   // a status of 200 to 299, and with a body stream the whole body, written to it
        failed,     // anything else: no answer, another status, a refused address, a deadline,
                    // a body that is not known to be whole...
        abandoned   // abandon() answered true
    };

    // GETs the address; message thread only. With a body stream, a success answer's body is
    // written to it from the fetch's thread, never more than maxBytes of it, and the stream is
    // left alone once get() has returned; without one, the answer's status is all that counts
    // and its body is not read. A body is whole only when it brings exactly the length its
    // answer announced, or, announcing none, comes chunked and ends with its last chunk; the
    // stream may hold part of any other body, which counts as failed. abandon is asked after
    // each slice of the message loop.
    static End get (const juce::String& address, const Limits& limits, juce::OutputStream* body,
                    const std::function<bool()>& abandon, const juce::String& threadName);

    // The address that a redirect leads to: its Location resolved against the address that
    // answered, or empty when there is no Location. Dot segments are left for the transfer to
    // remove; they cannot lead off the host.
    static juce::String redirectTarget (const juce::String& from, const juce::String& location);
};

} // namespace fenz
