#include <gtest/gtest.h>
#include "fenz_RegularFile.h"
#include "FifoWatchdog.h"
#include "TemporaryFolder.h"

#include <cerrno>
#include <optional>
#include <vector>

namespace
{
    struct RegularFile : public ::testing::Test
    {
        juce::File write (const char* name, size_t bytes)  { return temporary.write (name, bytes); }

        static bool startsAsWritten (const juce::MemoryBlock& block)
        {
            for (size_t i = 0; i < block.getSize(); ++i)
                if (block[i] != testsupport::TemporaryFolder::byteAt (i))
                    return false;

            return true;
        }

        testsupport::TemporaryFolder temporary { "regular" };
        const juce::File folder = temporary.getFile();
    };
}

// A regular file gives its first bytes up to the cap, across the reader's chunks; an empty
// one is an empty block, not a failure.
TEST_F (RegularFile, GivesTheFirstBytesUpToTheCap)
{
    struct Case { size_t fileBytes, cap, expected; };

    for (const auto& c : { Case { 0, 100, 0 }, Case { 1, 100, 1 }, Case { 100, 100, 100 }, Case { 101, 100, 100 },
                           Case { 200000, 63488, 63488 }, Case { 200000, 1048577, 200000 }, Case { 70000, 65537, 65537 } })
    {
        SCOPED_TRACE (juce::String (c.fileBytes) + " bytes, cap " + juce::String (c.cap));
        const auto bytes = fenz::readRegularFile (write ("f.bin", c.fileBytes), c.cap);

        ASSERT_TRUE (bytes.has_value());
        EXPECT_EQ (bytes->getSize(), c.expected);
        EXPECT_TRUE (startsAsWritten (*bytes));
    }
}

// What is not a regular file is refused, and at once: a FIFO without a writer, a folder, a
// device that never ends, a missing file.
TEST_F (RegularFile, RefusesAnythingElseWithoutWaiting)
{
    testsupport::FifoWatchdog fifo (folder.getChildFile ("fifo.bin"));
    ASSERT_TRUE (fifo.wasMade());

    EXPECT_FALSE (fenz::readRegularFile (fifo.file, 1000).has_value());
    EXPECT_FALSE (fifo.hadToRelease()) << "the FIFO's open waited for a writer";

    EXPECT_FALSE (fenz::readRegularFile (folder, 1000).has_value());
    EXPECT_FALSE (fenz::readRegularFile (juce::File ("/dev/zero"), 1000).has_value());
    EXPECT_FALSE (fenz::readRegularFile (folder.getChildFile ("missing.bin"), 1000).has_value());
    EXPECT_FALSE (fenz::readRegularFile (juce::File(), 1000).has_value());
}

// A link is read as the file it leads to.
TEST_F (RegularFile, FollowsALinkToARegularFile)
{
    const auto target = write ("target.bin", 300);
    const auto link = folder.getChildFile ("link.bin");
    ASSERT_TRUE (target.createSymbolicLink (link, true));

    const auto bytes = fenz::readRegularFile (link, 1000);
    ASSERT_TRUE (bytes.has_value());
    EXPECT_EQ (bytes->getSize(), 300u);
}

// The reading itself, from a source that answers as ::read does, step by step: a failed read
// after any number of bytes is a file that cannot be read, not the bytes that came before it;
// an interrupted read is asked again.
namespace
{
    // One answer of the source: that many bytes, the end (0), or a failure with that errno.
    struct Answer
    {
        std::int64_t bytes;
        int error = 0;
    };

    struct ReadCase
    {
        const char* name;
        std::vector<Answer> answers;
        size_t cap;
        std::optional<size_t> expected;   // the bytes taken, or nothing
    };

    const ReadCase readCases[] = {
        { "WholeInOneRead",            { { 100 }, { 0 } },                               1000,  100 },
        { "WholeAcrossReads",          { { 65536 }, { 4464 }, { 0 } },                   100000, 70000 },
        { "FailsAtOnce",               { { -1, EIO } },                                  1000,  std::nullopt },
        { "FailsAfterSomeBytes",       { { 100 }, { -1, EIO } },                         1000,  std::nullopt },
        { "FailsAfterWholeChunks",     { { 65536 }, { 65536 }, { -1, EIO } },            200000, std::nullopt },
        { "FailsAfterAnInterruption",  { { 300 }, { -1, EINTR }, { -1, ENXIO } },        1000,  std::nullopt },
        { "InterruptedReadIsAskedAgain", { { -1, EINTR }, { 200 }, { -1, EINTR }, { 0 } }, 1000, 200 },
        { "CapReachedBeforeTheFailure", { { 100 }, { -1, EIO } },                        100,   100 },
        { "EmptyFile",                 { { 0 } },                                        1000,  0 },
    };

    std::ostream& operator<< (std::ostream& out, const ReadCase& c) { return out << c.name; }

    class ReadUpTo : public ::testing::TestWithParam<ReadCase> {};
}

TEST_P (ReadUpTo, TakesTheFileOnlyWhenEveryReadSucceeded)
{
    const auto& c = GetParam();
    size_t next = 0, position = 0;

    const auto bytes = fenz::readUpTo ([&] (void* buffer, size_t room) -> std::int64_t
    {
        if (next >= c.answers.size())
        {
            ADD_FAILURE() << "read again after the end";
            return 0;
        }

        const auto a = c.answers[next++];

        if (a.bytes < 0)
        {
            errno = a.error;
            return -1;
        }

        EXPECT_LE ((size_t) a.bytes, room);

        for (std::int64_t i = 0; i < a.bytes; ++i)
            static_cast<char*> (buffer)[i] = testsupport::TemporaryFolder::byteAt (position++);

        return a.bytes;
    }, c.cap);

    ASSERT_EQ (bytes.has_value(), c.expected.has_value());

    if (bytes.has_value())
    {
        EXPECT_EQ (bytes->getSize(), *c.expected);

        for (size_t i = 0; i < bytes->getSize(); ++i)
            ASSERT_EQ ((*bytes)[i], testsupport::TemporaryFolder::byteAt (i)) << "at " << i;
    }
}

INSTANTIATE_TEST_SUITE_P (Sources, ReadUpTo, ::testing::ValuesIn (readCases),
                          [] (const auto& i) { return std::string (i.param.name); });

// A regular file whose read fails in earnest: the memory of this process, as the system shows
// it, is a regular file whose first bytes (at address 0) are never mapped.
TEST_F (RegularFile, FileWhoseReadFailsIsNotRead)
{
    const juce::File memory ("/proc/self/mem");

    if (! memory.existsAsFile())
        GTEST_SKIP() << "no /proc/self/mem here";

    EXPECT_FALSE (fenz::readRegularFile (memory, 1000).has_value());
}
