#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fnmatch.h>
#include <fstream>
#include <mutex>
#include <set>
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
// process. ctest runs every case in a process of its own; in a program run whole, each case that
// skips runs again in a child of the program whose filter names that case alone, so that both
// runs check the same. The children start as the cases skip and run beside the parent's own, a
// few at a time; the cases that must run alone have nothing beside them. Their output and
// results become part of the parent's, after its own.
//
// A process that runs a single case (one of ctest's, or a child) starts no children.
class OwnProcessCases : public ::testing::EmptyTestEventListener
{
public:
    struct Settings
    {
        std::string program;              // this program's own file
        std::string outputFolder;         // where a child's output waits until it is shown
        std::string casesRunAlone;        // a filter: these cases have no other beside them
        std::vector<std::string> dropped; // variables of ours the children must not inherit
        int timeoutSeconds = 120;
        unsigned atOnce = 1;              // children at most, one fewer while the parent runs
    };

    // Which cases run and where results go is the command line's to say, so the children get
    // no GTEST_ variable; the environment is the one the parent's cases start with, not one a
    // case has changed for a while.
    explicit OwnProcessCases (Settings s) : settings (std::move (s))
    {
        for (auto** variable = environ; *variable != nullptr; ++variable)
        {
            const std::string entry (*variable);
            const auto name = entry.substr (0, entry.find ('='));

            if (name.rfind ("GTEST_", 0) != 0
                 && std::find (settings.dropped.begin(), settings.dropped.end(), name) == settings.dropped.end())
                environment.push_back (entry);
        }
    }

    ~OwnProcessCases() override
    {
        stopScheduler();
    }

    void OnTestIterationStart (const ::testing::UnitTest& unitTest, int) override
    {
        wholeRun = unitTest.test_to_run_count() > 1;
    }

    void OnTestStart (const ::testing::TestInfo& info) override
    {
        if (! matches (settings.casesRunAlone, nameOf (info)))
            return;

        std::unique_lock lock (mutex);
        parentAlone = true;
        changed.wait (lock, [this] { return running.empty(); });
    }

    void OnTestEnd (const ::testing::TestInfo& info) override
    {
        const auto name = nameOf (info);
        const bool alone = matches (settings.casesRunAlone, name);
        std::lock_guard lock (mutex);
        parentAlone = parentAlone && ! alone;

        if (wholeRun && info.result()->Skipped() && queued.insert (name).second)
        {
            (alone ? pendingAlone : pending).push_back (results.size());
            results.push_back ({ name, Outcome::failed, {} });

            if (! scheduler.joinable())
                scheduler = std::thread ([this] { schedule(); });
        }
    }

    // After the parent's own cases: waits for the children, those run alone last and one at a
    // time, then prints what each printed and the counts of the whole program. The result is the
    // number of children whose case did not pass or skip.
    int finish (const ::testing::UnitTest& parent)
    {
        {
            std::unique_lock lock (mutex);
            parentDone = true;
            changed.notify_all();
            changed.wait (lock, [this] { return pending.empty() && pendingAlone.empty() && running.empty(); });
        }

        stopScheduler();

        if (results.empty())
            return 0;

        std::printf ("[----------] %zu cases that skipped beside the others ran again, each in a process of its own\n",
                     results.size());

        int passed = 0, skipped = 0;
        std::vector<std::string> failed;

        for (const auto& result : results)
        {
            std::fputs (result.output.c_str(), stdout);

            if (result.outcome == Outcome::passed)       ++passed;
            else if (result.outcome == Outcome::skipped) ++skipped;
            else                                         failed.push_back (result.name);
        }

        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds> (lastEnded - firstStarted);
        std::printf ("[==========] %zu cases ran in processes of their own. (%lld ms from the first start to the last end)\n",
                     results.size(), (long long) elapsed.count());

        // Every case that skipped in the parent ran again, and counts as it did then.
        std::printf ("[==========] In all %d cases: %d passed, %d skipped, %d failed.\n",
                     parent.successful_test_count() + parent.failed_test_count() + (int) results.size(),
                     parent.successful_test_count() + passed, skipped, parent.failed_test_count() + (int) failed.size());

        for (int s = 0; s < parent.total_test_suite_count(); ++s)
            for (int t = 0; t < parent.GetTestSuite (s)->total_test_count(); ++t)
                if (const auto& info = *parent.GetTestSuite (s)->GetTestInfo (t); info.should_run() && info.result()->Failed())
                    std::printf ("[  FAILED  ] %s\n", nameOf (info).c_str());

        for (const auto& name : failed)
            std::printf ("[  FAILED  ] %s (in a process of its own)\n", name.c_str());

        std::fflush (stdout);
        return (int) failed.size();
    }

private:
    enum class Outcome { passed, skipped, failed };

    struct Result
    {
        std::string name;
        Outcome outcome;
        std::string output;
    };

    struct Child
    {
        size_t result;
        std::string outputFile;
        pid_t pid = -1;
        std::chrono::steady_clock::time_point started;
        bool timedOut = false;
        bool alone = false;
    };

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

    // Starts children as places free up, ends those over their time and collects what the ended
    // ones printed, until told to stop.
    void schedule()
    {
        std::unique_lock lock (mutex);

        while (! stopping)
        {
            const bool aloneRunning = ! running.empty() && running.front().alone;
            const size_t limit = parentDone ? settings.atOnce : std::max (1u, settings.atOnce - 1);

            while (! parentAlone && ! aloneRunning && ! pending.empty() && running.size() < limit)
            {
                running.push_back (start (pending.front(), false));
                pending.pop_front();
            }

            if (parentDone && pending.empty() && running.empty() && ! pendingAlone.empty())
            {
                running.push_back (start (pendingAlone.front(), true));
                pendingAlone.pop_front();
            }

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

                collect (*it, done < 0 ? -1 : status);
                it = running.erase (it);
                changed.notify_all();
            }

            changed.wait_for (lock, std::chrono::milliseconds (10));
        }
    }

    void stopScheduler()
    {
        {
            std::lock_guard lock (mutex);
            stopping = true;

            for (const auto& child : running)
                if (child.pid > 0)
                    kill (child.pid, SIGKILL);
        }

        changed.notify_all();

        if (scheduler.joinable())
            scheduler.join();

        for (const auto& child : running)
            if (child.pid > 0)
                waitpid (child.pid, nullptr, 0);

        running.clear();
    }

    Child start (size_t result, bool alone)
    {
        Child child;
        child.result = result;
        child.alone = alone;
        child.outputFile = settings.outputFolder + "/case-" + std::to_string (result) + ".txt";
        child.started = std::chrono::steady_clock::now();

        if (firstStarted == std::chrono::steady_clock::time_point())
            firstStarted = child.started;

        std::vector<std::string> arguments { settings.program, "--gtest_filter=" + results[result].name, "--gtest_color=no" };

        if (GTEST_FLAG_GET (also_run_disabled_tests))
            arguments.push_back ("--gtest_also_run_disabled_tests");

        auto envp = environment;
        const auto pointers = [] (std::vector<std::string>& strings)
        {
            std::vector<char*> p;

            for (auto& s : strings)
                p.push_back (s.data());

            p.push_back (nullptr);
            return p;
        };

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init (&actions);
        posix_spawn_file_actions_addopen (&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen (&actions, 1, child.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2 (&actions, 1, 2);

        if (posix_spawn (&child.pid, settings.program.c_str(), &actions, nullptr,
                         pointers (arguments).data(), pointers (envp).data()) != 0)
            child.pid = -1;

        posix_spawn_file_actions_destroy (&actions);
        return child;
    }

    // Keeps what a child printed for its case, as the case's output would read in the parent;
    // all of it when the case did not pass or skip, with why.
    void collect (const Child& child, int status)
    {
        lastEnded = std::chrono::steady_clock::now();
        auto& result = results[child.result];

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

        const auto ran = lineFrom ("[ RUN      ] " + result.name);
        const auto ok = lineFrom ("[       OK ] " + result.name + " (");
        const auto skip = lineFrom ("[  SKIPPED ] " + result.name + " (");
        const bool exitedWell = status >= 0 && WIFEXITED (status) && WEXITSTATUS (status) == 0;

        auto first = size_t (0), last = lines.size();

        if (exitedWell && ran < lines.size() && (ok < lines.size() || skip < lines.size()))
        {
            result.outcome = ok < lines.size() ? Outcome::passed : Outcome::skipped;
            first = ran;
            last = std::min (ok, skip) + 1;
        }

        for (auto i = first; i < last; ++i)
            result.output += lines[i] + "\n";

        if (result.outcome == Outcome::failed)
        {
            std::string why;

            if (status < 0)                     why = "it could not be started";
            else if (child.timedOut)            why = "it was stopped after " + std::to_string (settings.timeoutSeconds) + " s";
            else if (WIFSIGNALED (status))      why = std::string ("it ended on signal ") + strsignal (WTERMSIG (status));
            else if (WEXITSTATUS (status) != 0) why = "it exited with " + std::to_string (WEXITSTATUS (status));
            else                                why = "the case did not run in it";

            result.output += "[  FAILED  ] " + result.name + " (in a process of its own: " + why + ")\n";
        }
    }

    Settings settings;
    std::vector<std::string> environment;
    bool wholeRun = false;

    // All below is the scheduler's and the parent's together, under the mutex.
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Result> results;          // in the order the cases skipped
    std::set<std::string> queued;
    std::deque<size_t> pending, pendingAlone;
    std::vector<Child> running;
    bool parentAlone = false, parentDone = false, stopping = false;
    std::chrono::steady_clock::time_point firstStarted, lastEnded;
    std::thread scheduler;
};

}
