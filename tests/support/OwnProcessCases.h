#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fnmatch.h>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testsupport
{

// A case that needs the process as it starts (the mapping object exists once per process, some
// tables and globals are filled for good) skips when other cases ran before it in the same
// process. ctest runs every case in a process of its own; a program run whole runs its skipped
// cases again afterwards, each in a child of the program whose filter names that case alone, so
// that both runs check the same. The children's output and results become part of the parent's.
class OwnProcessCases
{
public:
    struct Settings
    {
        std::string program;              // this program's own file
        std::string outputFolder;         // where a child's output waits until it is shown
        std::string casesRunAlone;        // a filter: these cases have no other beside them
        std::vector<std::string> dropped; // variables of ours the children must not inherit
        int timeoutSeconds = 120;
        unsigned atOnce = 1;
    };

    explicit OwnProcessCases (Settings s) : settings (std::move (s)) {}

    // The cases to run again: those that skipped where other cases ran too. A process that ran a
    // single case (a child, or one of ctest's) has none, and so never starts children.
    static std::vector<std::string> skippedBesideOthers (const ::testing::UnitTest& unitTest)
    {
        std::vector<std::string> names;
        int ran = 0;

        forEachCaseRun (unitTest, [&] (const ::testing::TestInfo& info)
        {
            ++ran;

            if (info.result()->Skipped())
                names.push_back (nameOf (info));
        });

        return ran > 1 ? names : std::vector<std::string>();
    }

    // Runs each case in a child, those the filter names alone after the others; prints each one's
    // output as it ends and then the whole program's counts. The result is the number that failed.
    int run (const std::vector<std::string>& names, const ::testing::UnitTest& parent)
    {
        std::vector<std::string> together, alone;

        for (const auto& name : names)
            (matches (settings.casesRunAlone, name) ? alone : together).push_back (name);

        std::printf ("[----------] %zu cases that skipped beside the others run again, each in a process of its own\n",
                     names.size());
        std::fflush (stdout);

        const auto started = std::chrono::steady_clock::now();
        runAtMost (together, settings.atOnce);
        runAtMost (alone, 1);
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now() - started);

        int passed = 0, skipped = 0;
        std::vector<std::string> failed;

        for (const auto& [name, outcome] : outcomes)
        {
            if (outcome == Outcome::passed)       ++passed;
            else if (outcome == Outcome::skipped) ++skipped;
            else                                  failed.push_back (name);
        }

        std::printf ("[==========] %zu cases ran in processes of their own. (%lld ms total)\n",
                     names.size(), (long long) elapsed.count());

        // Every case that skipped in the parent ran again, and counts as it did then.
        std::printf ("[==========] In all %d cases: %d passed, %d skipped, %d failed.\n",
                     parent.successful_test_count() + parent.failed_test_count() + (int) names.size(),
                     parent.successful_test_count() + passed, skipped, parent.failed_test_count() + (int) failed.size());

        forEachCaseRun (parent, [] (const ::testing::TestInfo& info)
        {
            if (info.result()->Failed())
                std::printf ("[  FAILED  ] %s\n", nameOf (info).c_str());
        });

        for (const auto& name : failed)
            std::printf ("[  FAILED  ] %s (in a process of its own)\n", name.c_str());

        std::fflush (stdout);
        return (int) failed.size();
    }

private:
    enum class Outcome { passed, skipped, failed };

    struct Child
    {
        std::string name, outputFile;
        pid_t pid = -1;
        std::chrono::steady_clock::time_point started;
        bool timedOut = false;
    };

    template <typename Function>
    static void forEachCaseRun (const ::testing::UnitTest& unitTest, Function&& function)
    {
        for (int s = 0; s < unitTest.total_test_suite_count(); ++s)
            for (int t = 0; t < unitTest.GetTestSuite (s)->total_test_count(); ++t)
                if (const auto& info = *unitTest.GetTestSuite (s)->GetTestInfo (t); info.should_run())
                    function (info);
    }

    static std::string nameOf (const ::testing::TestInfo& info)
    {
        return std::string (info.test_suite_name()) + "." + info.name();
    }

    // Whether a name is one a filter of ctest's form (patterns apart by ':', those after a '-'
    // left out) selects.
    static bool matches (const std::string& filter, const std::string& name)
    {
        const auto dash = filter.find ('-');
        const auto anyOf = [&name] (const std::string& patterns)
        {
            std::istringstream in (patterns);
            std::string pattern;

            while (std::getline (in, pattern, ':'))
                if (! pattern.empty() && fnmatch (pattern.c_str(), name.c_str(), 0) == 0)
                    return true;

            return false;
        };

        const auto positive = filter.substr (0, dash);
        return (positive.empty() ? dash != std::string::npos : anyOf (positive))
                && (dash == std::string::npos || ! anyOf (filter.substr (dash + 1)));
    }

    void runAtMost (const std::vector<std::string>& names, unsigned atOnce)
    {
        std::vector<Child> running;
        size_t next = 0;

        while (next < names.size() || ! running.empty())
        {
            while (next < names.size() && running.size() < atOnce)
                running.push_back (start (names[next++]));

            bool anyEnded = false;

            for (auto it = running.begin(); it != running.end();)
            {
                int status = 0;
                const auto done = it->pid < 0 ? it->pid : waitpid (it->pid, &status, WNOHANG);

                if (done == 0)
                {
                    if (! it->timedOut && std::chrono::steady_clock::now() - it->started > std::chrono::seconds (settings.timeoutSeconds))
                    {
                        it->timedOut = true;
                        kill (it->pid, SIGKILL);
                    }

                    ++it;
                    continue;
                }

                report (*it, done < 0 ? -1 : status);
                it = running.erase (it);
                anyEnded = true;
            }

            if (! anyEnded)
                std::this_thread::sleep_for (std::chrono::milliseconds (10));
        }
    }

    Child start (const std::string& name)
    {
        Child child;
        child.name = name;
        child.outputFile = settings.outputFolder + "/case-" + std::to_string (serial++) + ".txt";
        child.started = std::chrono::steady_clock::now();

        std::vector<std::string> arguments { settings.program, "--gtest_filter=" + name, "--gtest_color=no" };

        if (GTEST_FLAG_GET (also_run_disabled_tests))
            arguments.push_back ("--gtest_also_run_disabled_tests");

        // Which cases run and where results go is the command line's to say; settings the parent
        // made for itself, each child makes its own.
        std::vector<std::string> environment;

        for (auto** variable = environ; *variable != nullptr; ++variable)
        {
            const std::string entry (*variable);
            const auto variableName = entry.substr (0, entry.find ('='));
            bool keep = variableName.rfind ("GTEST_", 0) != 0;

            for (const auto& d : settings.dropped)
                keep = keep && variableName != d;

            if (keep)
                environment.push_back (entry);
        }

        const auto pointers = [] (std::vector<std::string>& strings)
        {
            std::vector<char*> p;

            for (auto& s : strings)
                p.push_back (s.data());

            p.push_back (nullptr);
            return p;
        };

        auto argv = pointers (arguments);
        auto envp = pointers (environment);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init (&actions);
        posix_spawn_file_actions_addopen (&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen (&actions, 1, child.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2 (&actions, 1, 2);

        if (posix_spawn (&child.pid, settings.program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            child.pid = -1;

        posix_spawn_file_actions_destroy (&actions);
        return child;
    }

    // Shows what a child printed for its case, as the case's output would read in the parent;
    // all of it when the case did not pass, with why.
    void report (const Child& child, int status)
    {
        std::ifstream in (child.outputFile);
        std::vector<std::string> lines;

        for (std::string line; std::getline (in, line);)
            lines.push_back (line);

        std::remove (child.outputFile.c_str());

        const auto lineFrom = [&lines] (const std::string& start)
        {
            for (size_t i = 0; i < lines.size(); ++i)
                if (lines[i].rfind (start, 0) == 0)
                    return i;

            return lines.size();
        };

        const auto ran = lineFrom ("[ RUN      ] " + child.name);
        const auto ok = lineFrom ("[       OK ] " + child.name + " (");
        const auto skip = lineFrom ("[  SKIPPED ] " + child.name + " (");
        const bool exitedWell = status >= 0 && WIFEXITED (status) && WEXITSTATUS (status) == 0;

        auto outcome = Outcome::failed;
        auto last = lines.size();

        if (exitedWell && ran < lines.size() && (ok < lines.size() || skip < lines.size()))
        {
            outcome = ok < lines.size() ? Outcome::passed : Outcome::skipped;
            last = std::min (ok, skip) + 1;
        }

        for (auto i = outcome == Outcome::failed ? size_t (0) : ran; i < last; ++i)
            std::printf ("%s\n", lines[i].c_str());

        if (outcome == Outcome::failed)
        {
            std::string why;

            if (status < 0)                           why = "it could not be started";
            else if (child.timedOut)                  why = "it was stopped after " + std::to_string (settings.timeoutSeconds) + " s";
            else if (WIFSIGNALED (status))            why = std::string ("it ended on signal ") + strsignal (WTERMSIG (status));
            else if (WEXITSTATUS (status) != 0)       why = "it exited with " + std::to_string (WEXITSTATUS (status));
            else                                      why = "the case did not run in it";

            std::printf ("[  FAILED  ] %s (in a process of its own: %s)\n", child.name.c_str(), why.c_str());
        }

        std::fflush (stdout);
        outcomes.emplace_back (child.name, outcome);
    }

    Settings settings;
    std::vector<std::pair<std::string, Outcome>> outcomes;
    size_t serial = 0;
};

}
