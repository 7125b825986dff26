#pragma once

#include "fenz_UpgradeProtocol.h"

#include <string>
#include <vector>

// What the packet senders did, in order: every message sent (and how), and every pause they
// took, on one line, so that a test sees where the pauses fall between the messages.
struct ProtocolRecording
{
    struct Event
    {
        enum Kind { message, blockMessage, pause } kind;
        std::vector<juce::uint8> bytes;   // a message's bytes
        int milliseconds = 0;             // a pause's length
        int blockSize = 0;                // how many messages the block held that this one came in
        int samplePosition = 0;
    };

    std::vector<Event> events;

    // A pause for the packet senders that puts itself into the recording instead of sleeping.
    fenz::UpgradeProtocol::PauseFunction pause()
    {
        return [this] (int milliseconds) { events.push_back ({ Event::pause, {}, milliseconds, 0, 0 }); };
    }

    std::vector<std::vector<juce::uint8>> sentMessages() const
    {
        std::vector<std::vector<juce::uint8>> result;

        for (auto& e : events)
            if (e.kind != Event::pause)
                result.push_back (e.bytes);

        return result;
    }

    int countPauses (int milliseconds) const
    {
        int n = 0;

        for (auto& e : events)
            n += (e.kind == Event::pause && e.milliseconds == milliseconds) ? 1 : 0;

        return n;
    }

    // "m" for a message and "pN" for a pause of N ms, separated by blanks.
    std::string pattern() const
    {
        std::string s;

        for (auto& e : events)
        {
            if (! s.empty())
                s += ' ';

            s += e.kind == Event::pause ? "p" + std::to_string (e.milliseconds) : std::string ("m");
        }

        return s;
    }
};

// A MIDI output that keeps what it is sent.
class RecordingOutput : public fenz::MidiOutputPort
{
public:
    explicit RecordingOutput (ProtocolRecording& r) : recording (r) {}

    void sendMessageNow (const juce::MidiMessage& m) override
    {
        recording.events.push_back ({ ProtocolRecording::Event::message, bytesOf (m), 0, 0, 0 });
    }

    void sendBlockOfMessagesNow (const juce::MidiBuffer& buffer) override
    {
        const int n = buffer.getNumEvents();

        for (const auto metadata : buffer)
            recording.events.push_back ({ ProtocolRecording::Event::blockMessage, bytesOf (metadata.getMessage()),
                                          0, n, metadata.samplePosition });
    }

private:
    static std::vector<juce::uint8> bytesOf (const juce::MidiMessage& m)
    {
        return { m.getRawData(), m.getRawData() + m.getRawDataSize() };
    }

    ProtocolRecording& recording;
};

// The packet bytes that a stream of transport messages carries: each message must be
// 9F, high nibble, low nibble. A message of another shape makes the test fail.
inline std::vector<juce::uint8> decodeTransport (const std::vector<std::vector<juce::uint8>>& messages,
                                                 std::string& problem)
{
    std::vector<juce::uint8> bytes;

    for (size_t i = 0; i < messages.size(); ++i)
    {
        auto& m = messages[i];

        if (m.size() != 3 || m[0] != 0x9f || m[1] > 0x0f || m[2] > 0x0f)
        {
            problem = "message " + std::to_string (i) + " is not a transport message";
            return bytes;
        }

        bytes.push_back ((juce::uint8) ((m[1] << 4) | m[2]));
    }

    return bytes;
}
