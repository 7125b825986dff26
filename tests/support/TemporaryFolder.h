#pragma once

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

namespace testsupport
{

// A folder of the test's own inside the process's temporary folder, made at once and removed
// with everything in it when the test is done.
class TemporaryFolder
{
public:
    explicit TemporaryFolder (const juce::String& prefix = "folder")
        : folder (juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile (prefix, {}))
    {
        folder.createDirectory();
    }

    ~TemporaryFolder()  { folder.deleteRecursively(); }

    const juce::File& getFile() const noexcept  { return folder; }

    // The byte at each position of the files write() makes: it tells nearby positions apart,
    // and is never 0.
    static char byteAt (size_t position)  { return (char) (position % 251 + 1); }

    // A file of this many bytes in the folder (an empty one for none), its bytes as byteAt gives.
    juce::File write (const juce::String& name, size_t bytes) const
    {
        const auto f = folder.getChildFile (name);

        // Writing no data removes the file; an empty file is one of its own.
        if (bytes == 0)
        {
            EXPECT_TRUE (f.deleteFile() && f.create().wasOk());
        }
        else
        {
            juce::MemoryBlock block (bytes);

            for (size_t i = 0; i < bytes; ++i)
                static_cast<char*> (block.getData())[i] = byteAt (i);

            EXPECT_TRUE (f.replaceWithData (block.getData(), block.getSize()));
        }

        return f;
    }

private:
    const juce::File folder;

    JUCE_DECLARE_NON_COPYABLE (TemporaryFolder)
};

} // namespace testsupport
