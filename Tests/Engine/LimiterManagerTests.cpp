// The manager: rules, the main switch, the period, recovery at start.
#include "LimiterManager.h"
#include "LimiterSim.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>

#include <condition_variable>
#include <fstream>
#include <thread>

using namespace trevlin;
using namespace trevlin::test;

namespace {

const std::string kBundle = "/usr/share/applications/Example.desktop";

Rule strict(double cores) { return Rule(cores, Method::strict, false, false, false); }

/// Threads of this test program whose name starts with `prefix`. A thread
/// that has just started may still carry its parent's name, and one that
/// has just finished may not have gone yet: callers wait for a count.
int threadsNamed(const std::string& prefix) {
    int n = 0;
    DIR* d = ::opendir("/proc/self/task");
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        n += name.rfind(prefix, 0) == 0;
    }
    ::closedir(d);
    return n;
}

/// Whether the count of such threads reaches `expected` (within ten seconds).
bool eventuallyThreads(const std::string& prefix, int expected) {
    for (int i = 0; i < 1000; ++i) {
        if (threadsNamed(prefix) == expected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return threadsNamed(prefix) == expected;
}

class Manager : public LimiterSimTest {
protected:
    void SetUp() override {
        LimiterSimTest::SetUp();
        sim->spawn(100, "/usr/lib/example/example");
        sim->setApp(RunningAppInfo{100, kBundle, "Example", "org.example", ActivationPolicy::regular});
        sim->spawn(101, "/usr/lib/example/worker", 1.0, 100);
        sim->spawn(102, "/usr/lib/example/worker", 1.0, 100);
    }
    std::unique_ptr<LimiterManager> make() { return std::make_unique<LimiterManager>(context, dir->path()); }
    /// Runs to `t` in steps shorter than a period: with several threads
    /// waiting on the clock, none runs far ahead of the others.
    void stepTo(double t, int threads) {
        for (double x = sim->time(); x < t;) {
            x = std::min(t, x + 0.05);
            runTo(x, threads);
        }
    }
    bool anyStopSince(double t) { return !signalTimes(101, SIGSTOP, t).empty() || !signalTimes(102, SIGSTOP, t).empty(); }
};

TEST_F(Manager, PeriodIsClampedTo20Through500) {
    auto m = make();
    EXPECT_EQ(m->periodMs(), 100);
    for (auto [in, out] : std::vector<std::pair<double, double>>{{5, 20}, {1000, 500}, {250, 250}, {20, 20}}) {
        m->setPeriodMs(in);
        EXPECT_EQ(m->periodMs(), out) << in;
    }
}

TEST_F(Manager, SettingTheSameKeyAgainAdaptsWithoutRestarting) {
    auto m = make();
    m->setRule(strict(0.5), kBundle);
    runTo(4);
    const double change = 4.0;
    m->setRule(strict(0.6), kBundle);
    runTo(6.05);
    // A restarted limiter would let everything run for its first second.
    auto stops = signalTimes(101, SIGSTOP, change);
    ASSERT_GE(stops.size(), 19u);
    for (size_t i = 1; i < stops.size(); ++i) EXPECT_LT(stops[i] - stops[i - 1], 0.15);
    auto s = m->status(kBundle);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->maxCores, 0.6);
    EXPECT_EQ(s->appName, "Example");  // omitted name: the file name without its extension
    EXPECT_EQ(m->rules().at(kBundle), strict(0.6));
}

TEST_F(Manager, ARuleSetWhileOffStartsNothingUntilTurnedOn) {
    auto m = make();
    m->setEnabled(false);
    m->setRule(strict(0.5), kBundle, "Named");
    sim->advance(3);  // no limiter thread runs to move the clock
    EXPECT_TRUE(sim->sent().empty());
    EXPECT_TRUE(m->statuses().empty());
    EXPECT_FALSE(m->status(kBundle).has_value());
    EXPECT_EQ(m->rules().size(), 1u);
    m->setEnabled(true);
    runTo(7);
    EXPECT_TRUE(anyStopSince(4));
    EXPECT_EQ(m->status(kBundle)->appName, "Named");
}

TEST_F(Manager, TurningOffContinuesEverythingAndKeepsEveryRule) {
    auto m = make();
    m->setRule(strict(0.5), kBundle);
    runTo(4);
    ASSERT_TRUE(anyStopSince(2));
    m->setRule(strict(0.5), "cli:other", "other", [] { return std::vector<Pid>{}; });
    m->setEnabled(false);
    EXPECT_FALSE(m->isEnabled());
    for (Pid pid : {100, 101, 102}) EXPECT_FALSE(sim->get(pid).stopped) << pid;
    EXPECT_TRUE(journal->entries().empty());
    EXPECT_FALSE(std::ifstream(m->journal().filePath()).good());
    EXPECT_TRUE(m->statuses().empty());
    EXPECT_EQ(m->rules().size(), 2u);
    const double off = sim->time();
    sim->advance(2);
    EXPECT_FALSE(anyStopSince(off + 0.001));
}

TEST_F(Manager, StatusesFeedTheLedgerAndRemovingARuleClearsItsLiveSaving) {
    auto m = make();
    int calls = 0;
    std::mutex lock;
    m->setOnStatus([&](const LimiterStatus&) {
        std::lock_guard<std::mutex> g(lock);
        ++calls;
    });
    m->removeRule("/nowhere/none.desktop");  // no rule: nothing happens
    m->setRule(strict(0.5), kBundle);
    runTo(8);
    EXPECT_GE(calls, 6);
    EXPECT_GT(m->ledger().currentSavedCores(), 1.0);
    EXPECT_GT(m->ledger().summary(sim->wallClock()).todayCoreHours, 0.0);
    m->removeRule(kBundle);
    EXPECT_EQ(m->ledger().currentSavedCores(), 0.0);
    EXPECT_TRUE(m->rules().empty());
    for (Pid pid : {101, 102}) EXPECT_FALSE(sim->get(pid).stopped) << pid;
}

TEST_F(Manager, ARuleWhoseAppIsNotRunningSleepsWithoutAThread) {
    const std::string absent = "/usr/share/applications/Absent.desktop";
    auto m = make();
    m->setRule(strict(0.5), absent);
    m->setRule(Rule(1.0, Method::pause, false, true, true), "cli:absent", "absent");
    runTo(3.5);  // the waker looks at 2 and 3
    EXPECT_TRUE(eventuallyThreads("Trevlin limiter", 0));
    EXPECT_TRUE(eventuallyThreads("Trevlin waker", 1));
    EXPECT_EQ(m->status(absent)->summaryLine, "Absent is using 0.00 of 0.50 cores (0 processes): not running");
    EXPECT_EQ(m->status("cli:absent")->summaryLine, "absent: pause is not available for command-line groups");
    m->setRule(strict(0.7), absent);
    EXPECT_EQ(m->status(absent)->summaryLine, "Absent is using 0.00 of 0.70 cores (0 processes): not running");

    // The app starts: woken at the waker's next look (4 s), held after its
    // first second.
    sim->spawn(400, "/usr/lib/absent/absent");
    sim->setApp(RunningAppInfo{400, absent, "Absent", "org.absent", ActivationPolicy::regular});
    sim->spawn(401, "/usr/lib/absent/worker", 1.0, 400);
    runTo(4.0);
    EXPECT_TRUE(eventuallyThreads("Trevlin limiter", 1));
    stepTo(8.0, 2);  // the limiter and the waker, still watching the group
    auto stops = signalTimes(401, SIGSTOP);
    ASSERT_FALSE(stops.empty());
    EXPECT_GE(stops.front(), 5.0);
    EXPECT_TRUE(m->status(absent)->isThrottling);

    // It quits: the thread ends once the app has been gone a few seconds.
    sim->remove(401);
    sim->remove(400);
    sim->removeApp(400);
    stepTo(12.9, 2);
    EXPECT_TRUE(eventuallyThreads("Trevlin limiter", 1));
    runTo(16.0, 1);  // it leaves at 13, 5 s after the last process was seen
    EXPECT_TRUE(eventuallyThreads("Trevlin limiter", 0));
    EXPECT_EQ(m->status(absent)->summaryLine, "Absent is using 0.00 of 0.70 cores (0 processes): not running");
    EXPECT_TRUE(journal->entries().empty());
}

TEST_F(Manager, TenThousandRulesHoldThreadsOnlyForRunningApps) {
    auto m = make();
    for (int i = 0; i < 10000; ++i)
        m->setRule(strict(0.5), i % 2 ? "cli:idle-" + std::to_string(i)
                                      : "/usr/share/applications/idle-" + std::to_string(i) + ".desktop");
    m->setRule(strict(0.5), kBundle);
    EXPECT_EQ(m->statuses().size(), 10001u);
    stepTo(4, 2);  // Example's limiter and the waker
    EXPECT_TRUE(eventuallyThreads("Trevlin limiter", 1));
    EXPECT_TRUE(eventuallyThreads("Trevlin waker", 1));
    ASSERT_TRUE(anyStopSince(2));
    EXPECT_EQ(m->status("cli:idle-7")->summaryLine,
              "cli:idle-7 is using 0.00 of 0.50 cores (0 processes): not running");

    const double before = sim->time();
    m->shutdown();
    EXPECT_LE(sim->time() - before, 5.0);
    for (Pid pid : {100, 101, 102}) EXPECT_FALSE(sim->get(pid).stopped) << pid;
    EXPECT_TRUE(journal->entries().empty());
    EXPECT_TRUE(m->statuses().empty());
    EXPECT_TRUE(eventuallyThreads("Trevlin limiter", 0));
    EXPECT_TRUE(eventuallyThreads("Trevlin waker", 0));
}

TEST_F(Manager, StoppingAsksEveryLimiterFirstAndWaitsOnceForAll) {
    // Three limiters that cannot finish when asked: their scan hangs.
    std::mutex lock;
    std::condition_variable changed;
    bool hang = false;
    int hanging = 0;
    auto targets = [&](Pid pid) {
        return [&, pid] {
            std::unique_lock<std::mutex> lk(lock);
            if (hang) {
                ++hanging;
                changed.notify_all();
                changed.wait_for(lk, std::chrono::seconds(60), [&] { return !hang; });
            }
            return std::vector<Pid>{pid};
        };
    };
    auto m = make();
    m->setRule(strict(0.5), "cli:one", "one", targets(101));
    m->setRule(strict(0.5), "cli:two", "two", targets(102));
    m->setRule(strict(0.5), "cli:three", "three", targets(100));
    stepTo(4, 3);
    ASSERT_TRUE(anyStopSince(2));
    {
        std::lock_guard<std::mutex> g(lock);
        hang = true;
    }
    sim->runUntil(6, 0);  // lets each run on to its next scan
    {
        std::unique_lock<std::mutex> lk(lock);
        ASSERT_TRUE(changed.wait_for(lk, std::chrono::seconds(30), [&] { return hanging == 3; }));
    }
    // From here every wait runs to its deadline at once, and nothing else
    // moves the clock: what the shut-down waits is exact. One wait of 5 s
    // serves all three, where one after the other would take 15.
    sim->setFreeRunning(true);
    const double before = sim->time();
    m->shutdown();
    EXPECT_NEAR(sim->time() - before, 5.0, 1e-6);

    // Released, each restores what it held on its own.
    {
        std::lock_guard<std::mutex> g(lock);
        hang = false;
    }
    changed.notify_all();
    EXPECT_TRUE(eventuallyThreads("Trevlin limiter", 0));
    sim->setFreeRunning(false);
}

TEST_F(Manager, StartingResumesWhatADeadRunLeftStopped) {
    sim->watch("");  // the stopped process below was not stopped by this run
    sim->spawn(300, "/usr/bin/left-behind");
    sim->edit(300, [](SimProcess& p) {
        p.stopped = true;
        p.demoted = true;
    });
    const uint64_t start = sim->get(300).start;
    const std::string orphan = dir->write("journal-4242.json",
        R"({"entries":[{"app":"cli:x","demoted":true,"paused":true,"pid":300,"start":)" + std::to_string(start) +
        R"(}],"limiterPid":4242,"limiterStart":1})");
    auto m = make();
    EXPECT_FALSE(sim->get(300).stopped);
    EXPECT_FALSE(sim->get(300).demoted);
    EXPECT_FALSE(std::ifstream(orphan).good());
}

}  // namespace
