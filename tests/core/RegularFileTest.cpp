#include <gtest/gtest.h>
#include "fenz_RegularFile.h"
#include "FifoWatchdog.h"
#include "TemporaryFolder.h"

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
