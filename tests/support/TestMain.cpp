#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "OwnProcessCases.h"

#if JUCE_LINUX
 #include <dlfcn.h>
#endif

// Every test program runs with the framework initialised, as the application does, so that
// message-thread code, value trees and components behave as they do in the editor. The mapping
// object's settings file goes to a folder of the test's own, never to the user's or the system's.
int main (int argc, char** argv)
{
    ::testing::InitGoogleTest (&argc, argv);

    // ctest runs the cases side by side, each in a process of its own, as a whole run does those
    // that need one: the temporary folder is one of this process's alone, so that no case meets
    // (or deletes) another one's files.
    const auto sharedTemp = juce::File::getSpecialLocation (juce::File::tempDirectory);
    auto ownTemp = sharedTemp.getChildFile ("kestal-test-XXXXXX").getFullPathName().toStdString();

    if (mkdtemp (ownTemp.data()) == nullptr)
    {
        std::perror ("no temporary folder of the test's own");
        return 1;
    }

    const juce::File processTemp (ownTemp);
    setenv ("TMPDIR", ownTemp.c_str(), 1);

    juce::TemporaryFile settingsFolder ("kestal-settings");
    testsupport::OwnProcessCases::Settings ownProcesses;

    if (juce::SystemStats::getEnvironmentVariable ("KESTAL_SETTINGS_DIR", {}).isEmpty())
    {
        settingsFolder.getFile().createDirectory();
        setenv ("KESTAL_SETTINGS_DIR", settingsFolder.getFile().getFullPathName().toRawUTF8(), 1);
        ownProcesses.dropped.push_back ("KESTAL_SETTINGS_DIR");
    }

    // Children of a whole run keep their output and their temporary folders in this process's.
    ownProcesses.program = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName().toStdString();
    ownProcesses.outputFolder = ownTemp;
    ownProcesses.casesRunAlone = KESTAL_CASES_RUN_ALONE;
    ownProcesses.timeoutSeconds = KESTAL_CASE_TIMEOUT;
    ownProcesses.atOnce = std::max (1u, std::thread::hardware_concurrency());

    // Seen as a standalone application, the framework handles X errors itself, as it does in
    // the editor; otherwise Xlib's default handler ends the process at the first one, and an X
    // server without a window manager (the tests' virtual one) raises them for every window.
    juce::JUCEApplicationBase::createInstance = [] () -> juce::JUCEApplicationBase* { return nullptr; };

   #if JUCE_LINUX
    // Xlib keeps some locale data for good once a window is made. The framework unloads the
    // library at shutdown, after which the leak checker can no longer tell whose those blocks
    // are; kept loaded, they match the one suppression for them.
    dlopen ("libX11.so.6", RTLD_LAZY | RTLD_NODELETE);
   #endif

    // The listener stays this function's: it is released from the framework before it goes.
    auto& unitTest = *::testing::UnitTest::GetInstance();
    testsupport::OwnProcessCases ownProcessCases (ownProcesses);
    unitTest.listeners().Append (&ownProcessCases);

    int result = 0;
    {
        juce::ScopedJuceInitialiser_GUI juce;
        result = RUN_ALL_TESTS();
    }

    unitTest.listeners().Release (&ownProcessCases);

    // A whole run fails as well when a case that ran in a process of its own failed.
    if (ownProcessCases.finish (unitTest) > 0)
        result = 1;

    settingsFolder.getFile().deleteRecursively();
    processTemp.deleteRecursively();
    return result;
}
