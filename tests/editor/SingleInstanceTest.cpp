#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "SingleInstance.h"
#include "GuiTestSupport.h"
#include "ScopedEnvironment.h"

namespace
{
    const juce::String appName { "Tamrel/Ostrel Pelto" };

    int modeOf (const juce::File& f)
    {
        struct stat info {};
        return lstat (f.getFullPathName().toRawUTF8(), &info) == 0 ? (int) (info.st_mode & 07777) : -1;
    }

    // A private folder of the test's own, as the system's runtime folder is.
    struct PrivateFolder
    {
        PrivateFolder()   { file.createDirectory(); chmod (file.getFullPathName().toRawUTF8(), 0700); }
        ~PrivateFolder()  { file.deleteRecursively(); }

        juce::File file = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("kestal-instance", {});
    };

    TEST (SingleInstance, TheLockIsTakenOncePerUserFolder)
    {
        PrivateFolder one, other;

        SingleInstance first (appName, one.file);
        EXPECT_FALSE (first.isAnotherInstanceRunning());

        SingleInstance second (appName, one.file);
        EXPECT_TRUE (second.isAnotherInstanceRunning());

        // Another user's folder has a lock of its own.
        SingleInstance elsewhere (appName, other.file);
        EXPECT_FALSE (elsewhere.isAnotherInstanceRunning());

        ASSERT_TRUE (first.listen ([] (const juce::String&) {}));
        EXPECT_EQ (modeOf (SingleInstance::lockFileIn (one.file)), 0600);
        EXPECT_EQ (modeOf (juce::File (SingleInstance::pipePathIn (one.file).getFullPathName() + "_in")), 0600);
        EXPECT_EQ (modeOf (juce::File (SingleInstance::pipePathIn (one.file).getFullPathName() + "_out")), 0600);
    }

    TEST (SingleInstance, TheUserFolderIsTheRuntimeFolderElseOneNamedWithTheUserIdForTheUserAlone)
    {
        // The process's own temporary folder and runtime folder come back however the case
        // ends: the cases after it in the same process use them.
        testsupport::ScopedEnvironment tempVariable ("TMPDIR"), runtimeVariable ("XDG_RUNTIME_DIR");

        PrivateFolder runtime, temp;
        tempVariable.set (temp.file.getFullPathName().toRawUTF8());
        const auto ownFolder = temp.file.getChildFile ("kestal-" + juce::String ((juce::int64) getuid()));

        runtimeVariable.set (runtime.file.getFullPathName().toRawUTF8());
        EXPECT_EQ (SingleInstance::findUserFolder(), runtime.file);
        EXPECT_FALSE (ownFolder.exists());

        // A runtime folder that others may read is not the user's alone; nor is a relative one.
        for (const char* runtimeFolder : { "open", "relative" })
        {
            if (juce::String (runtimeFolder) == "open")
            {
                chmod (runtime.file.getFullPathName().toRawUTF8(), 0755);
                runtimeVariable.set (runtime.file.getFullPathName().toRawUTF8());
            }
            else
            {
                runtimeVariable.set ("run/user");
            }

            EXPECT_EQ (SingleInstance::findUserFolder(), ownFolder) << runtimeFolder;
            EXPECT_EQ (modeOf (ownFolder), 0700) << runtimeFolder;
        }

        runtimeVariable.set (nullptr);
        EXPECT_EQ (SingleInstance::findUserFolder(), ownFolder);

        // The user's own folder, opened to others, is closed again.
        chmod (ownFolder.getFullPathName().toRawUTF8(), 0777);
        EXPECT_EQ (SingleInstance::findUserFolder(), ownFolder);
        EXPECT_EQ (modeOf (ownFolder), 0700);

        // A link in its place is never followed: there is no private folder then, and no lock.
        ownFolder.deleteRecursively();
        ASSERT_TRUE (runtime.file.createSymbolicLink (ownFolder, true));
        EXPECT_EQ (SingleInstance::findUserFolder(), juce::File());

        SingleInstance alone (appName, juce::File());
        EXPECT_FALSE (alone.isAnotherInstanceRunning());
        EXPECT_FALSE (alone.listen ([] (const juce::String&) {}));
        ownFolder.deleteFile();
    }

    //==============================================================================
    // Writes bytes straight into the running instance's pipe, as any program of the user could.
    void writeIntoPipe (const juce::File& folder, const void* bytes, size_t size)
    {
        const auto fd = open ((SingleInstance::pipePathIn (folder).getFullPathName() + "_in").toRawUTF8(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE (fd, 0);
        EXPECT_EQ (write (fd, bytes, size), (ssize_t) size);
        close (fd);
    }

    void writeIntoPipe (const juce::File& folder, const juce::MemoryBlock& block)
    {
        writeIntoPipe (folder, block.getData(), block.getSize());
    }

    // Whether the running instance's listener has read everything written into its pipe, within
    // five seconds. It reads a byte at a time and hands each whole message on as it completes.
    bool pipeReadEmpty (const juce::File& folder)
    {
        for (int i = 0; i < 500; ++i)
        {
            const auto fd = open ((SingleInstance::pipePathIn (folder).getFullPathName() + "_in").toRawUTF8(), O_WRONLY | O_NONBLOCK);
            int unread = -1;

            if (fd >= 0)
            {
                if (ioctl (fd, FIONREAD, &unread) != 0)
                    unread = -1;

                close (fd);
            }

            if (unread == 0)
                return true;

            juce::Thread::sleep (10);
        }

        return false;
    }

    // Lets the message loop run until the count of hand-overs is reached, or five seconds pass.
    void waitForHandOvers (const juce::StringArray& received, int count)
    {
        for (int i = 0; i < 500 && received.size() < count; ++i)
            testsupport::pump (10);
    }

    TEST (SingleInstance, TheHandOverSurvivesJunkAndOversizedOrForeignMessages)
    {
        PrivateFolder folder;
        SingleInstance running (appName, folder.file);
        juce::StringArray received;
        ASSERT_TRUE (running.listen ([&] (const juce::String& commandLine) { received.add (commandLine); }));

        // Eight bytes of junk once ended the listener for good.
        writeIntoPipe (folder.file, "\x01junk\xff\x00\x7f", 8);

        // A header that claims 2 GiB: dropped, not allocated, and what follows is read afresh.
        const unsigned char huge[] = { 'K', 's', 'H', 'o', 0x00, 0x00, 0x00, 0x80 };
        writeIntoPipe (folder.file, huge, sizeof (huge));

        // Well formed, but not this application's, and not text.
        writeIntoPipe (folder.file, SingleInstance::encodeMessage ("Another Program", "x"));
        auto notText = SingleInstance::encodeMessage (appName, "ab");
        static_cast<char*> (notText.getData())[notText.getSize() - 1] = (char) 0xC3;
        writeIntoPipe (folder.file, notText);

        SingleInstance second (appName, folder.file);
        ASSERT_TRUE (second.isAnotherInstanceRunning());
        ASSERT_TRUE (second.tellRunningInstance ("--second"));
        waitForHandOvers (received, 1);
        EXPECT_EQ (received, juce::StringArray ("--second"));

        // A message cut off by a writer that went away does not swallow the next one.
        const auto whole = SingleInstance::encodeMessage (appName, "--cut");
        writeIntoPipe (folder.file, whole.getData(), whole.getSize() - 2);
        juce::Thread::sleep (1500);
        ASSERT_TRUE (SingleInstance (appName, folder.file).tellRunningInstance ("--third"));
        waitForHandOvers (received, 2);
        EXPECT_EQ (received, juce::StringArray ("--second", "--third"));
    }

    TEST (SingleInstance, AHandOverArrivingAfterTheListenerIsGoneReachesNoOne)
    {
        PrivateFolder folder;
        juce::StringArray received;
        {
            SingleInstance running (appName, folder.file);
            ASSERT_TRUE (running.listen ([&] (const juce::String& commandLine) { received.add (commandLine); }));
            ASSERT_TRUE (SingleInstance (appName, folder.file).tellRunningInstance ("late"));

            // Read by the listener, and so on its way to the message queue: the case is about a
            // hand-over that is there when the listener goes, not one that never came.
            ASSERT_TRUE (pipeReadEmpty (folder.file)) << "the listener did not read the hand-over";
            juce::Thread::sleep (300);   // delivered to the message queue, not yet called
        }

        testsupport::pump (200);
        EXPECT_TRUE (received.isEmpty());
        EXPECT_FALSE (SingleInstance (appName, folder.file).isAnotherInstanceRunning());
    }
}
