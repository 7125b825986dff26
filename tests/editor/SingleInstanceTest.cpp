#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "SingleInstance.h"
#include <functional>
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
        EXPECT_EQ (modeOf (SingleInstance::lockFileIn (one.file, appName)), 0600);
        EXPECT_EQ (modeOf (juce::File (SingleInstance::pipePathIn (one.file, appName).getFullPathName() + "_in")), 0600);
        EXPECT_EQ (modeOf (juce::File (SingleInstance::pipePathIn (one.file, appName).getFullPathName() + "_out")), 0600);
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
        EXPECT_TRUE (alone.getLockProblem().isNotEmpty()) << "without a folder it cannot tell";
        EXPECT_FALSE (alone.listen ([] (const juce::String&) {}));
        ownFolder.deleteFile();
    }

    // The folder named with the user id is anyone's to make first. One that is not the user's
    // alone is never used, and then an instance cannot tell whether another runs: it says so,
    // and says why, rather than count as the only one. Another user's folder can only be made
    // by root; run as another user, that case is left out.
    TEST (SingleInstance, WithoutAFolderOfTheUsersAloneTheInstanceCannotTellAndSaysWhy)
    {
        testsupport::ScopedEnvironment tempVariable ("TMPDIR"), runtimeVariable ("XDG_RUNTIME_DIR");
        runtimeVariable.set (nullptr);

        struct Case { const char* what; const char* reason; std::function<bool (const juce::File& place, const juce::File& elsewhere)> make; };
        const Case cases[] = {
            { "a link to a folder of the user's", "is a link",
              [] (const juce::File& place, const juce::File& elsewhere) { return elsewhere.createSymbolicLink (place, true); } },
            { "a link to nowhere", "is a link",
              [] (const juce::File& place, const juce::File& elsewhere) { return elsewhere.getChildFile ("gone").createSymbolicLink (place, true); } },
            { "a file", "is not a folder",
              [] (const juce::File& place, const juce::File&) { return place.replaceWithText ("x"); } },
            { "another user's folder, open to all", "belongs to another user",
              [] (const juce::File& place, const juce::File&)
              {
                  return place.createDirectory().wasOk() && chmod (place.getFullPathName().toRawUTF8(), 0777) == 0
                          && chown (place.getFullPathName().toRawUTF8(), 65534, 65534) == 0;
              } },
            { "another user's folder, private", "belongs to another user",
              [] (const juce::File& place, const juce::File&)
              {
                  return place.createDirectory().wasOk() && chmod (place.getFullPathName().toRawUTF8(), 0700) == 0
                          && chown (place.getFullPathName().toRawUTF8(), 65534, 65534) == 0;
              } },
        };

        for (const auto& c : cases)
        {
            SCOPED_TRACE (c.what);
            const bool needsRoot = juce::String (c.reason) == "belongs to another user";

            if (needsRoot && getuid() != 0)
                continue;

            PrivateFolder temp, elsewhere;
            tempVariable.set (temp.file.getFullPathName().toRawUTF8());
            const auto place = temp.file.getChildFile ("kestal-" + juce::String ((juce::int64) getuid()));
            ASSERT_TRUE (c.make (place, elsewhere.file));
            const auto modeBefore = modeOf (place);

            juce::String why;
            EXPECT_EQ (SingleInstance::findUserFolder (why), juce::File());
            EXPECT_EQ (why, place.getFullPathName() + ", the folder for its lock, " + c.reason);

            SingleInstance instance (appName);
            EXPECT_EQ (instance.getLockProblem(), why);
            EXPECT_FALSE (instance.isAnotherInstanceRunning());
            EXPECT_FALSE (instance.listen ([] (const juce::String&) {}));
            EXPECT_FALSE (instance.tellRunningInstance ("x"));

            // Nothing was made in or through it, and it stays as it was.
            EXPECT_FALSE (elsewhere.file.getChildFile (SingleInstance::fileNameFor (appName) + ".lock").exists());

            EXPECT_EQ (modeOf (place), modeBefore);

            if (place.isDirectory() && ! place.isSymbolicLink())
            {
                EXPECT_FALSE (SingleInstance::lockFileIn (place, appName).exists());
            }

            place.deleteRecursively();
            place.deleteFile();
        }
    }

    // A lock that cannot be opened in the user's own folder is a problem too, not a licence.
    TEST (SingleInstance, ALockThatCannotBeMadeIsAProblem)
    {
        PrivateFolder folder, elsewhere;
        ASSERT_TRUE (elsewhere.file.getChildFile ("target").createSymbolicLink (SingleInstance::lockFileIn (folder.file, appName), true));

        SingleInstance instance (appName, folder.file);
        EXPECT_FALSE (instance.isAnotherInstanceRunning());
        EXPECT_TRUE (instance.getLockProblem().startsWith ("its lock " + SingleInstance::lockFileIn (folder.file, appName).getFullPathName()
                                                           + " cannot be opened"))
            << instance.getLockProblem();
        EXPECT_FALSE (instance.listen ([] (const juce::String&) {}));
        EXPECT_FALSE (elsewhere.file.getChildFile ("target").exists()) << "the lock is never made through a link";
    }

    //==============================================================================
    // Writes bytes straight into the running instance's pipe, as any program of the user could.
    void writeIntoPipe (const juce::File& folder, const void* bytes, size_t size)
    {
        const auto fd = open ((SingleInstance::pipePathIn (folder, appName).getFullPathName() + "_in").toRawUTF8(), O_WRONLY | O_NONBLOCK);
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
            const auto fd = open ((SingleInstance::pipePathIn (folder, appName).getFullPathName() + "_in").toRawUTF8(), O_WRONLY | O_NONBLOCK);
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

    // The lock and the pipe are the named application's: another name in the same folder has
    // its own, however little the two names differ, and a hand-over reaches only its own.
    TEST (SingleInstance, TheLockAndThePipeAreTheApplicationsOwn)
    {
        EXPECT_EQ (SingleInstance::fileNameFor ("Tamrel/Ostrel Pelto"), "Tamrel_2FOstrel_20Pelto");
        EXPECT_EQ (SingleInstance::fileNameFor ("Pelto 2"), "Pelto_202");
        EXPECT_EQ (SingleInstance::fileNameFor (juce::String (juce::CharPointer_UTF8 ("P\xc3\xa9lto"))), "P_C3_A9lto");
        EXPECT_EQ (SingleInstance::fileNameFor ("../x"), "_2E_2E_2Fx");

        const juce::StringArray names { "Tamrel/Ostrel Pelto", "TamrelOstrel Pelto", "Tamrel_2FOstrel_20Pelto", "Another Program" };
        juce::StringArray fileNames;

        for (const auto& name : names)
            fileNames.addIfNotAlreadyThere (SingleInstance::fileNameFor (name));

        EXPECT_EQ (fileNames.size(), names.size()) << "two names share a lock";

        PrivateFolder folder;
        SingleInstance first (names[0], folder.file), other (names[3], folder.file);
        EXPECT_FALSE (first.isAnotherInstanceRunning());
        EXPECT_FALSE (other.isAnotherInstanceRunning()) << "another application's instance is no instance of this one";
        EXPECT_TRUE (first.getLockProblem().isEmpty());
        EXPECT_TRUE (SingleInstance::lockFileIn (folder.file, names[0]).existsAsFile());
        EXPECT_TRUE (SingleInstance::lockFileIn (folder.file, names[3]).existsAsFile());

        juce::StringArray toFirst, toOther;
        ASSERT_TRUE (first.listen ([&] (const juce::String& commandLine) { toFirst.add (commandLine); }));
        ASSERT_TRUE (other.listen ([&] (const juce::String& commandLine) { toOther.add (commandLine); }));

        SingleInstance secondOfOther (names[3], folder.file);
        ASSERT_TRUE (secondOfOther.isAnotherInstanceRunning());
        ASSERT_TRUE (secondOfOther.tellRunningInstance ("--other"));
        waitForHandOvers (toOther, 1);
        testsupport::pump (200);
        EXPECT_EQ (toOther, juce::StringArray ("--other"));
        EXPECT_TRUE (toFirst.isEmpty());
    }
}
