// The manager: rules, the main switch, the period, recovery at start.
#include "LimiterManager.h"
#include "LimiterSim.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>

using namespace trevlin;
using namespace trevlin::test;

namespace {

const std::string kBundle = "/usr/share/applications/Example.desktop";

Rule strict(double cores) { return Rule(cores, Method::strict, false, false, false); }

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
