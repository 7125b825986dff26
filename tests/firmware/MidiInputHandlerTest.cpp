#include <gtest/gtest.h>
#include "fenz_MidiInputHandler.h"
#include "fenz_UpgradeProtocol.h"
#include "FifoWatchdog.h"
#include "TemporaryFolder.h"

#include <filesystem>
#include <string>
#include <vector>

using Handler = fenz::FirmwareUpgradeComponent::MidiInputHandler;

namespace
{

struct Flags
{
    bool reset, write, erase, connect;
    bool operator== (const Flags& o) const
    {
        return reset == o.reset && write == o.write && erase == o.erase && connect == o.connect;
    }
};

std::ostream& operator<< (std::ostream& s, const Flags& f)
{
    return s << "reset " << f.reset << " write " << f.write << " erase " << f.erase << " connect " << f.connect;
}

Flags flagsOf (const Handler& h)
{
    return { h.resetAck.load(), h.writeAck.load(), h.eraseAck.load(), h.connectAck.load() };
}

juce::MidiMessage raw (std::vector<juce::uint8> bytes)
{
    return juce::MidiMessage (bytes.data(), (int) bytes.size());
}

struct AckCase
{
    const char* name;
    juce::MidiMessage message;
    Flags expected;
};

//==============================================================================
TEST (Acknowledgements, SecondByteNamesTheFlag)
{
    const Flags none { false, false, false, false };

    const AckCase cases[] = {
        { "erase 9F 00 00",          raw ({ 0x9f, 0x00, 0x00 }), { false, false, true, false } },
        { "write 9F 01 00",          raw ({ 0x9f, 0x01, 0x00 }), { false, true, false, false } },
        { "write 9F 01 7F",          raw ({ 0x9f, 0x01, 0x7f }), { false, true, false, false } },
        { "reset 9F 02 00",          raw ({ 0x9f, 0x02, 0x00 }), { true, false, false, false } },
        { "connect 9F 7F 00",        raw ({ 0x9f, 0x7f, 0x00 }), { false, false, false, true } },
        // The status byte is not looked at.
        { "write on note on ch 1",   raw ({ 0x90, 0x01, 0x40 }), { false, true, false, false } },
        { "write on controller",     raw ({ 0xb3, 0x01, 0x00 }), { false, true, false, false } },
        { "write on program change", raw ({ 0xc0, 0x01 }),       { false, true, false, false } },
        { "connect on note off",     raw ({ 0x8f, 0x7f, 0x00 }), { false, false, false, true } },
        // Codes outside the table change nothing.
        { "code 03",                 raw ({ 0x9f, 0x03, 0x00 }), none },
        { "code 10",                 raw ({ 0x9f, 0x10, 0x01 }), none },
        { "code 7E",                 raw ({ 0x9f, 0x7e, 0x02 }), none },
        { "code 40 on controller",   raw ({ 0xb0, 0x40, 0x01 }), none },
        // One byte: there is no code at all.
        { "one byte: clock",         raw ({ 0xf8 }),             none },
        { "one byte: active sense",  raw ({ 0xfe }),             none },
        { "one byte: reset",         raw ({ 0xff }),             none },
    };

    for (auto& c : cases)
    {
        Handler h;
        h.handleIncomingMidiMessage (nullptr, c.message);
        EXPECT_EQ (flagsOf (h), c.expected) << c.name;
    }
}

TEST (Acknowledgements, FlagsOnlyEverGetSetAndClearTogether)
{
    Handler h;
    h.handleIncomingMidiMessage (nullptr, raw ({ 0x9f, 0x7f, 0x00 }));
    h.handleIncomingMidiMessage (nullptr, raw ({ 0x9f, 0x00, 0x00 }));
    h.handleIncomingMidiMessage (nullptr, raw ({ 0x9f, 0x03, 0x00 }));
    h.handleIncomingMidiMessage (nullptr, raw ({ 0xf8 }));
    EXPECT_EQ (flagsOf (h), (Flags { false, false, true, true }));

    h.handleIncomingMidiMessage (nullptr, raw ({ 0x9f, 0x01, 0x00 }));
    h.handleIncomingMidiMessage (nullptr, raw ({ 0x9f, 0x02, 0x00 }));
    EXPECT_EQ (flagsOf (h), (Flags { true, true, true, true }));

    h.clearFlags();
    EXPECT_EQ (flagsOf (h), (Flags { false, false, false, false }));
}

TEST (Acknowledgements, PartialSysexChangesNothing)
{
    Handler h;
    const juce::uint8 part[] = { 0xf0, 0x01, 0x02 };
    h.handlePartialSysexMessage (nullptr, part, 3, 0.0);
    EXPECT_EQ (flagsOf (h), (Flags { false, false, false, false }));
}

//==============================================================================
// Ports that note when they are stopped and closed.
struct PortLog
{
    std::vector<std::string> lines;
};

struct LoggedInput : fenz::MidiInputPort
{
    explicit LoggedInput (PortLog& l) : log (l) {}
    ~LoggedInput() override    { log.lines.push_back ("input closed"); }
    void start() override      { log.lines.push_back ("input started"); }
    void stop() override       { log.lines.push_back ("input stopped"); }
    PortLog& log;
};

struct LoggedOutput : fenz::MidiOutputPort
{
    explicit LoggedOutput (PortLog& l) : log (l) {}
    ~LoggedOutput() override   { log.lines.push_back ("output closed"); }
    void sendMessageNow (const juce::MidiMessage&) override {}
    void sendBlockOfMessagesNow (const juce::MidiBuffer&) override {}
    PortLog& log;
};

TEST (HandlerPorts, ClosePortsStopsTheInputThenClosesBoth)
{
    PortLog log;
    Handler h;
    h.midiInput = std::make_unique<LoggedInput> (log);
    h.midiOutput = std::make_unique<LoggedOutput> (log);

    h.closePorts();

    EXPECT_EQ (log.lines, (std::vector<std::string> { "input stopped", "input closed", "output closed" }));
    EXPECT_EQ (h.midiInput, nullptr);
    EXPECT_EQ (h.midiOutput, nullptr);

    h.closePorts();   // nothing open: nothing happens
    EXPECT_EQ (log.lines.size(), 3u);
}

TEST (HandlerPorts, DestructorStopsTheInputAndClosesTheOutputFirst)
{
    PortLog log;
    {
        Handler h;
        h.midiInput = std::make_unique<LoggedInput> (log);
        h.midiOutput = std::make_unique<LoggedOutput> (log);
    }

    EXPECT_EQ (log.lines, (std::vector<std::string> { "input stopped", "output closed", "input closed" }));
}

//==============================================================================
class OpenProgram : public ::testing::Test
{
protected:
    testsupport::TemporaryFolder temporary { "firmware-images" };
    const juce::File folder = temporary.getFile();

    juce::File writeImage (const char* name, size_t bytes)  { return temporary.write (name, bytes); }

    static void expectImage (const Handler& h, size_t bytes)
    {
        ASSERT_EQ (h.size, (juce::uint64) bytes);
        ASSERT_NE (h.data, nullptr);

        for (size_t i = 0; i < bytes; ++i)
            ASSERT_EQ (h.data[i], testsupport::TemporaryFolder::byteAt (i)) << "byte " << i;

        EXPECT_EQ (h.data[bytes], 0) << "the byte after the image";
    }
};

TEST_F (OpenProgram, MissingFileGivesAnEmptyImage)
{
    Handler h;
    const auto missing = folder.getChildFile ("nowhere.bin");
    h.openProgram (missing);

    EXPECT_EQ (h.file, missing);
    expectImage (h, 0);
}

TEST_F (OpenProgram, EmptyFileAndFolderGiveAnEmptyImage)
{
    Handler h;
    h.openProgram (writeImage ("empty.bin", 0));
    expectImage (h, 0);

    h.openProgram (folder);
    expectImage (h, 0);
}

// A FIFO chosen as the firmware file is not opened for reading, which would wait for a
// writer: it gives the empty image of a file that cannot be read, at once.
TEST_F (OpenProgram, FifoGivesAnEmptyImageWithoutWaiting)
{
    testsupport::FifoWatchdog fifo (folder.getChildFile ("tamrel_ostrel_1.bin"));
    ASSERT_TRUE (fifo.wasMade());

    Handler h;
    h.openProgram (writeImage ("before.bin", 700));
    h.openProgram (fifo.file);

    EXPECT_FALSE (fifo.hadToRelease()) << "openProgram waited on the FIFO";
    EXPECT_EQ (h.file, fifo.file);
    expectImage (h, 0);
}

TEST_F (OpenProgram, SmallFilesAreReadWhole)
{
    for (size_t bytes : { (size_t) 1, (size_t) 512, (size_t) 1000, (size_t) 63487 })
    {
        SCOPED_TRACE (bytes);
        Handler h;
        const auto f = writeImage ("image.bin", bytes);
        h.openProgram (f);

        EXPECT_EQ (h.file, f);
        expectImage (h, bytes);
    }
}

TEST_F (OpenProgram, EachImageReplacesTheLast)
{
    Handler h;
    h.openProgram (writeImage ("big.bin", 4000));
    h.openProgram (writeImage ("small.bin", 700));
    expectImage (h, 700);

    h.openProgram (folder.getChildFile ("gone.bin"));
    expectImage (h, 0);
}

// Reading stops at the first size that the Upgrade step refuses, so the refusal still comes,
// without the file ever being held in memory.
TEST_F (OpenProgram, OversizedFilesStopAtTheRefusedSize)
{
    const auto limit = fenz::UpgradeProtocol::maxImageSize;

    for (size_t bytes : { (size_t) limit, (size_t) limit + 1, (size_t) 200000 })
    {
        SCOPED_TRACE (bytes);
        Handler h;
        h.openProgram (writeImage ("large.bin", bytes));

        expectImage (h, (size_t) limit);
        EXPECT_GE (h.size, limit) << "the Upgrade step must refuse it";
    }

    // A gigabyte, sparse on disk.
    const auto huge = folder.getChildFile ("huge.bin");
    ASSERT_TRUE (huge.create().wasOk());
    std::filesystem::resize_file (huge.getFullPathName().toStdString(), (std::uintmax_t) 1 << 30);

    Handler h;
    h.openProgram (huge);
    EXPECT_EQ (h.size, limit);
    ASSERT_NE (h.data, nullptr);
    EXPECT_EQ (h.data[0], 0);
    EXPECT_EQ (h.data[limit], 0);
}

} // namespace
