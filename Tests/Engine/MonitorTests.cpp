// The monitor driven tick by tick on the simulated platform.

#include "Monitor.h"
#include "SimulatedEngine.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace trevlin;
using trevlin::test::SimulatedEngine;

namespace {

class MonitorTest : public SimulatedEngine {
protected:
    void SetUp() override { sim->setDataDirectory(data.path()); }
    void TearDown() override { monitor.reset(); }
    void startMonitor(const std::function<void(Monitor&)>& configure = nullptr) {
        monitor = std::make_unique<Monitor>(context, SystemInfo::from(sim->machineFacts()));
        if (configure) configure(*monitor);
        monitor->start(false);
    }
    /// Advances the virtual clock and runs one tick.
    MonitorSnapshot tick(double seconds = 1.0) {
        sim->advance(seconds);
        monitor->tickNow();
        return *monitor->latest();
    }
    static const AppUsage* row(const MonitorSnapshot& s, const std::string& key) {
        for (const auto& r : s.apps)
            if (r.bundlePath == key) return &r;
        return nullptr;
    }

    trevlin::test::TempDir data;
    std::unique_ptr<Monitor> monitor;
};

}  // namespace

TEST_F(MonitorTest, ProcessesBornBetweenPassesCountFromTheirStart) {
    sim->spawn(10, "/usr/bin/bash");
    sim->spawn(11, "/usr/bin/cc", 1.0, 10);
    sim->edit(11, [](SimProcess& p) { p.cpuSeconds = 50; });  // long before the monitor started
    startMonitor();

    auto s = tick();
    const AppUsage* r = row(s, "cli:bash");
    ASSERT_TRUE(r);
    EXPECT_NEAR(r->cores, 1.0, 1e-6) << "what ran before the start is only a baseline";
    EXPECT_EQ(r->detail, "cc");
    EXPECT_EQ(r->mainPid, 10);

    // Born after the previous pass: everything it used falls in this interval.
    sim->spawn(12, "/usr/bin/ld", 0, 10);
    sim->advance(0.5);
    sim->setDemand(12, 2.0);
    s = tick(0.5);
    r = row(s, "cli:bash");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->processCount, 3) << "the launcher, cc and the newcomer";
    EXPECT_NEAR(r->cores, 2.0, 1e-6) << "cc's second and ld's first half second";
    s = tick();
    EXPECT_NEAR(row(s, "cli:bash")->cores, 3.0, 1e-6);
    EXPECT_EQ(row(s, "cli:bash")->detail, "ld, cc");
}

TEST_F(MonitorTest, ReusedPidStartsFromAFreshBaseline) {
    sim->spawn(10, "/usr/bin/bash");
    sim->spawn(300, "/usr/bin/cc", 1.0, 10);
    startMonitor();
    EXPECT_NEAR(row(tick(), "cli:bash")->cores, 1.0, 1e-6);

    // Another process gets pid 300: it counts what it used itself, never
    // the old process's counters.
    sim->remove(300);
    SimProcess p;
    p.pid = 300;
    p.start = sim->get(10).start + 777;
    p.exe = "/usr/bin/rustc";
    p.cmd = p.exe;
    p.responsible = 10;
    p.demand = 0.5;
    p.cpuSeconds = 0.25;
    sim->add(p);
    auto s = tick(0.5);
    EXPECT_NEAR(row(s, "cli:bash")->cores, (0.25 + 0.25) / 0.5, 1e-6);
    EXPECT_EQ(row(s, "cli:bash")->processCount, 2);
    EXPECT_NEAR(row(tick(), "cli:bash")->cores, 0.5, 1e-6);

    // Counters that run backwards count as 0, never negative.
    sim->edit(300, [](SimProcess& q) { q.cpuSeconds = 0; q.perfSeconds = 0; });
    s = tick();
    EXPECT_NEAR(row(s, "cli:bash")->cores, 0.0, 1e-9);
    EXPECT_NEAR(row(tick(), "cli:bash")->cores, 0.5, 1e-6);
}

TEST_F(MonitorTest, ShortLivedWorkCountsInItsRowWhenPassesAreFiveSecondsApart) {
    // make starts a compile every 0.5 s, each under its own sh and a second
    // of one core long; a pass runs every 5 s, so most compiles are never
    // seen and the rest are seen once.
    sim->setCores(8);
    sim->spawn(10, "/usr/bin/make");
    app(50, "/opt/Idle.desktop", "Idle");  // a row from the start, so passes come every 5 s
    startMonitor();
    monitor->setLightweight(true);
    tick();
    double rowSeconds = 0;
    std::vector<std::pair<Pid, double>> compiles;  // sh pid, when its compile ends
    Pid next = 100;
    double clock = 0;
    for (int step = 1; step <= 60; ++step) {
        sim->advance(0.25);
        clock += 0.25;
        for (auto it = compiles.begin(); it != compiles.end();) {
            if (clock >= it->second) {
                // The compiler ends and its shell waits for it, then make for the shell.
                sim->reap(it->first + 1);
                sim->reap(it->first);
                it = compiles.erase(it);
            } else {
                ++it;
            }
        }
        if (step % 2 == 0 && step <= 40) {
            sim->spawn(next, "/usr/bin/dash", 0, 10).parent = 10;
            sim->spawn(next + 1, "/usr/bin/cc1", 1.0, 10).parent = next;
            compiles.emplace_back(next, clock + 1.0);
            next += 2;
        }
        if (step % 4 == 0) {
            monitor->tickNow();
            auto s = *monitor->latest();
            if (step % 20 == 0) {  // a full pass: its rows cover the last 5 s
                const AppUsage* r = row(s, "cli:make");
                ASSERT_TRUE(r) << "step " << step;
                rowSeconds += r->cores * 5;
            }
        }
    }
    EXPECT_NEAR(rowSeconds, 20 * 1.0, 1e-6) << "twenty compiles of a second each";
    // With a pass every second the rows and Other add up to the measured total.
    monitor->setLightweight(false);
    sim->spawn(next, "/usr/bin/dash", 0, 10).parent = 10;
    sim->spawn(next + 1, "/usr/bin/cc1", 1.0, 10).parent = next;
    sim->advance(0.5);
    sim->reap(next + 1);
    sim->reap(next);
    auto s = tick(0.5);
    EXPECT_NEAR(row(s, "cli:make")->cores, 0.5, 1e-6);
    EXPECT_NEAR(s.totalCores, 0.5, 1e-6);
    EXPECT_NEAR(s.other.cores, 0, 1e-6);
}

TEST_F(MonitorTest, AMemberThatEndedCountsItsLastSecondsOnceWhetherOrNotItsParentWaitedYet) {
    sim->spawn(10, "/usr/bin/ninja");
    sim->spawn(20, "/usr/bin/dash", 0, 10).parent = 10;
    sim->spawn(21, "/usr/bin/cc1plus", 1.0, 10).parent = 20;
    startMonitor();
    EXPECT_NEAR(row(tick(), "cli:ninja")->cores, 1.0, 1e-6);

    // The compiler ends half-way through the next second; its shell has not
    // waited for it yet: its final figures count.
    sim->advance(0.5);
    sim->edit(21, [](SimProcess& p) { p.zombie = true; });
    auto s = tick(0.5);
    EXPECT_NEAR(row(s, "cli:ninja")->cores, 0.5, 1e-6);
    EXPECT_EQ(row(s, "cli:ninja")->processCount, 2) << "a zombie runs nothing";
    EXPECT_FALSE(monitor->countedPids().count(21));
    // Reaped, then the shell and ninja's wait: nothing more to count.
    sim->reap(21);
    sim->reap(20);
    s = tick();
    EXPECT_NEAR(row(s, "cli:ninja")->cores, 0, 1e-6);
    EXPECT_NEAR(s.other.cores, 0, 1e-6);
}

TEST_F(MonitorTest, OtherIsNeverNegative) {
    sim->setCores(2, {false, true});
    app(100, "/opt/Busy.desktop", "Busy");
    sim->setDemand(100, 3.0);  // more than the machine has: rows exceed the measured cores
    startMonitor();
    auto s = tick();
    EXPECT_NEAR(row(s, "/opt/Busy.desktop")->cores, 3.0, 1e-6);
    EXPECT_NEAR(s.totalCores, 2.0, 1e-6);
    EXPECT_EQ(s.other.cores, 0);
    EXPECT_EQ(s.other.pCores, 0);
    EXPECT_GE(s.other.eCores, 0);
    EXPECT_EQ(s.other.name, "Other / system");
    EXPECT_EQ(s.other.bundlePath, "");

    // A failed core read gives no loads and zero totals; the next read has
    // no previous one, so its loads are 0.
    sim->setCoreTicksFail(true);
    s = tick();
    EXPECT_TRUE(s.coreLoads.empty());
    EXPECT_EQ(s.totalCores, 0);
    EXPECT_EQ(s.other.cores, 0);
    EXPECT_EQ(s.other.pCores, 0);
    EXPECT_EQ(s.other.eCores, 0);
    sim->setCoreTicksFail(false);
    s = tick();
    ASSERT_EQ(s.coreLoads.size(), 2u);
    EXPECT_EQ(s.totalCores, 0);
    EXPECT_NEAR(tick().totalCores, 2.0, 1e-6);
}

TEST_F(MonitorTest, CoreLoadsPerKindAndOther) {
    sim->setCores(4, {false, false, true, true});
    sim->setExtraLoad(1.0);  // work outside every process: Other
    app(100, "/opt/A.desktop", "A");
    sim->setDemand(100, 1.0);
    startMonitor();
    auto s = tick();
    ASSERT_EQ(s.coreLoads.size(), 4u);
    EXPECT_EQ(s.coreLoads[0].kind, CoreKind::performance);
    EXPECT_EQ(s.coreLoads[3].kind, CoreKind::efficiency);
    EXPECT_EQ(s.coreLoads[2].index, 2);
    EXPECT_NEAR(s.totalCores, 2.0, 1e-6);
    EXPECT_NEAR(s.pCores + s.eCores, s.totalCores, 1e-9);
    EXPECT_NEAR(s.other.cores, 1.0, 1e-6);
}

namespace {

// Core counters that start just below 2^64, so they wrap during the test.
class WrappingPlatform : public SimulatedPlatform {
public:
    std::optional<std::vector<CoreTicks>> coreTicks() override {
        auto t = SimulatedPlatform::coreTicks();
        if (t)
            for (auto& c : *t) {
                c.user += UINT64_MAX - 1000;
                c.system += UINT64_MAX - 10;
                c.idle += UINT64_MAX - 1000;
                c.nice += UINT64_MAX;
            }
        return t;
    }
};

}  // namespace

TEST_F(MonitorTest, CoreCountersThatWrapAroundStillGiveTheLoad) {
    auto wrap = std::make_shared<WrappingPlatform>();
    context = EngineContext::make(wrap);
    sim = wrap;
    sim->setDataDirectory(data.path());
    sim->spawn(5, "/usr/bin/cc", 2.0);
    startMonitor();
    auto s = tick();
    ASSERT_EQ(s.coreLoads.size(), 4u);
    for (const auto& c : s.coreLoads) EXPECT_NEAR(c.load, 0.5, 1e-6);
    EXPECT_NEAR(s.totalCores, 2.0, 1e-6);
}

TEST_F(MonitorTest, RowsAreSortedAndIdleAppsListed) {
    app(100, "/opt/Zed.desktop", "Zed");
    app(200, "/opt/Beta.desktop", "Beta");
    app(300, "/opt/Alpha.desktop", "Alpha");
    app(400, "/opt/Idle.desktop", "Idle");
    sim->setDemand(100, 1.0);
    sim->setDemand(200, 0.5);
    sim->setDemand(300, 0.5);
    startMonitor();
    for (int i = 0; i < 2; ++i) {
        auto s = tick();
        std::vector<std::string> names;
        for (const auto& r : s.apps) names.push_back(r.name);
        EXPECT_EQ(names, (std::vector<std::string>{"Zed", "Alpha", "Beta", "Idle"}));
        const AppUsage* idle = row(s, "/opt/Idle.desktop");
        EXPECT_EQ(idle->cores, 0);
        EXPECT_EQ(idle->processCount, 1);
        EXPECT_EQ(idle->mainPid, 400);
        EXPECT_EQ(idle->bundleIdentifier, "org.example.Idle");
        EXPECT_TRUE(idle->isUserFacing);
        EXPECT_EQ(idle->kind, AppKind::app);
        EXPECT_EQ(idle->detail, "");
    }
}

TEST_F(MonitorTest, NestedHelperIsCountedUnderTheOuterAppAndNamedAfterIt) {
    app(200, "/opt/A.desktop/Contents/B.desktop", "B Helper");
    sim->setDemand(200, 0.25);
    sim->spawn(201, "/usr/lib/a/worker", 1.0, 200);
    startMonitor();
    auto s = tick();
    ASSERT_EQ(s.apps.size(), 1u);
    const AppUsage* r = row(s, "/opt/A.desktop");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->name, "A");
    EXPECT_EQ(r->mainPid, 200) << "no main process yet: any pid of the bundle";
    EXPECT_EQ(r->processCount, 2);
    EXPECT_NEAR(r->cores, 1.25, 1e-6);
    EXPECT_FALSE(r->isUserFacing);

    app(150, "/opt/A.desktop", "Alpha");
    s = tick();
    ASSERT_EQ(s.apps.size(), 1u);
    r = row(s, "/opt/A.desktop");
    EXPECT_EQ(r->name, "Alpha");
    EXPECT_EQ(r->mainPid, 150);
    EXPECT_EQ(r->processCount, 3);
    EXPECT_TRUE(r->isUserFacing);
}

TEST_F(MonitorTest, HiddenAppGivesNoRowAndItsProcessesLaunchNothing) {
    app(700, "/opt/Hidden.desktop", "Hidden");
    sim->spawn(701, "/usr/bin/worker", 1.0, 700);
    app(800, "/opt/Shown.desktop", "Shown");
    startMonitor([](Monitor& m) {
        m.setHiddenAppPaths({"/opt/Hidden.desktop"});
        m.setExtraAppPaths({"/opt/NotRunning.desktop"});
    });
    auto s = tick();
    std::vector<std::string> keys;
    for (const auto& r : s.apps) keys.push_back(r.bundlePath);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"/opt/NotRunning.desktop", "/opt/Shown.desktop"}));
    EXPECT_EQ(row(s, "/opt/NotRunning.desktop")->mainPid, 0);
    EXPECT_NEAR(s.other.cores, 1.0, 1e-6) << "the hidden app's worker is nobody's";
    auto counted = monitor->countedPids();
    EXPECT_FALSE(counted.count(701));
    EXPECT_FALSE(counted.count(700));
    EXPECT_TRUE(counted.count(800));
}

TEST_F(MonitorTest, GroupOutlivesItsLauncherAndPassesToTheNextOne) {
    sim->spawn(900, "/usr/bin/bash");
    sim->spawn(901, "/usr/bin/cc", 1.0, 900);
    startMonitor();
    EXPECT_EQ(row(tick(), "cli:bash")->mainPid, 900);

    sim->remove(900);
    auto s = tick();
    ASSERT_TRUE(row(s, "cli:bash")) << "the members still run";
    EXPECT_NEAR(row(s, "cli:bash")->cores, 1.0, 1e-6);

    sim->spawn(950, "/usr/bin/bash");
    sim->spawn(951, "/usr/bin/ld", 0.5, 950);
    s = tick();
    ASSERT_TRUE(row(s, "cli:bash"));
    EXPECT_EQ(row(s, "cli:bash")->mainPid, 950);
    EXPECT_EQ(row(s, "cli:bash")->processCount, 3) << "the new launcher counts in its group too";
}

TEST_F(MonitorTest, MembersKeepTheirGroupLongAfterTheLauncherExited) {
    sim->spawn(900, "/usr/bin/make");
    sim->spawn(901, "/usr/bin/cc", 1.0, 900);
    startMonitor();
    ASSERT_TRUE(row(tick(), "cli:make"));

    // Well past the point where members of a group are looked at again.
    sim->remove(900);
    MonitorSnapshot s;
    for (int i = 0; i < 25; ++i) s = tick();
    ASSERT_TRUE(row(s, "cli:make")) << "cc still runs";
    EXPECT_NEAR(row(s, "cli:make")->cores, 1.0, 1e-6);
    EXPECT_NEAR(s.other.cores, 0.0, 1e-6);
}

TEST_F(MonitorTest, ProcessThatRunsANewExecutableIsGroupedAfresh) {
    sim->spawn(10, "/usr/bin/bash");
    sim->spawn(20, "/usr/bin/cargo");
    sim->spawn(11, "/usr/bin/bash", 1.0, 10);  // forked by the shell...
    startMonitor();
    EXPECT_TRUE(row(tick(), "cli:bash"));
    for (int i = 0; i < 5; ++i) tick();  // past its first seconds, when it is looked at every pass

    // ...then it moves to a job of its own and runs rustc. The move alone
    // does not make it look again; the new executable does.
    sim->edit(11, [](SimProcess& p) { p.responsible = 20; });
    sim->spawn(21, "/usr/bin/cc", 0, 20);  // cargo is a launcher now
    MonitorSnapshot s;
    for (int i = 0; i < 12; ++i) s = tick();
    ASSERT_TRUE(row(s, "cli:bash"));
    EXPECT_NEAR(row(s, "cli:bash")->cores, 1.0, 1e-6);

    sim->edit(11, [](SimProcess& p) { p.exe = "/usr/bin/rustc"; });
    for (int i = 0; i < 12; ++i) s = tick();
    ASSERT_TRUE(row(s, "cli:cargo"));
    EXPECT_NEAR(row(s, "cli:cargo")->cores, 1.0, 1e-6);
    ASSERT_TRUE(row(s, "cli:bash"));
    EXPECT_EQ(row(s, "cli:bash")->processCount, 1) << "only the shell itself is left";
    EXPECT_EQ(row(s, "cli:bash")->cores, 0);
}

TEST_F(MonitorTest, FrontmostRow) {
    app(100, "/opt/Front.desktop", "Front");
    sim->spawn(101, "/usr/lib/front/helper", 0, 100);
    app(200, "/opt/Back.desktop", "Back");
    startMonitor();
    const struct {
        Pid front;
        const char* key;
    } cases[] = {{100, "/opt/Front.desktop"}, {101, "/opt/Front.desktop"}, {200, "/opt/Back.desktop"}, {0, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.front);
        sim->setFront(c.front);
        auto s = tick();
        for (const auto& r : s.apps) EXPECT_EQ(r.isFrontmost, r.bundlePath == c.key) << r.bundlePath;
        EXPECT_FALSE(s.other.isFrontmost);
    }
}

TEST_F(MonitorTest, LightweightRepeatsRowsUntilFiveSecondsHavePassed) {
    app(100, "/opt/A.desktop", "A");
    sim->setDemand(100, 1.0);
    startMonitor();
    monitor->setLightweight(true);
    auto first = tick();  // nothing cached yet: a full pass
    EXPECT_NEAR(row(first, "/opt/A.desktop")->cores, 1.0, 1e-6);

    // From now on: 2 s busy, then idle. Light ticks keep the old rows
    // while Other follows the fresh core loads.
    sim->spawn(101, "/usr/lib/a/helper", 0, 100);
    auto s = tick(1.0);
    EXPECT_EQ(s.apps, first.apps);
    s = tick(1.0);
    EXPECT_EQ(s.apps, first.apps);
    sim->setDemand(100, 0);
    sim->setExtraLoad(2.0);
    s = tick(1.0);
    EXPECT_EQ(s.apps, first.apps);
    EXPECT_NEAR(s.totalCores, 2.0, 1e-6);
    EXPECT_NEAR(s.other.cores, 1.0, 1e-6) << "fresh total minus the repeated rows";
    s = tick(1.9);  // 4.9 s after the full pass
    EXPECT_EQ(s.apps, first.apps);

    s = tick(0.1);  // 5.0 s: a full pass over the whole 5 s
    const AppUsage* r = row(s, "/opt/A.desktop");
    EXPECT_NEAR(r->cores, 2.0 / 5.0, 1e-6);
    EXPECT_EQ(r->processCount, 2);
    EXPECT_EQ(monitor->historyTick(), 6) << "every tick adds a history point";

    monitor->setLightweight(false);
    s = tick(0.5);
    EXPECT_EQ(row(s, "/opt/A.desktop")->cores, 0) << "full passes again at every tick";
}

TEST_F(MonitorTest, PassesInQuickSuccessionNeverDivideByLessThanAMillisecond) {
    app(100, "/opt/A.desktop", "A");
    sim->setDemand(100, 1.0);
    startMonitor();
    tick();
    auto s = tick(0.0005);
    EXPECT_NEAR(row(s, "/opt/A.desktop")->cores, 0.5, 1e-6);
    s = tick(0);
    EXPECT_EQ(row(s, "/opt/A.desktop")->cores, 0);
    EXPECT_TRUE(std::isfinite(s.other.cores));
}

TEST_F(MonitorTest, UnreadableProcessIsSkippedForThirtySeconds) {
    sim->spawn(10, "/usr/bin/bash");
    sim->spawn(11, "/usr/bin/cc", 1.0, 10).unreadable = true;
    startMonitor();
    sim->edit(11, [](SimProcess& p) { p.unreadable = false; });
    for (int i = 0; i < 29; ++i) {
        auto s = tick();
        EXPECT_FALSE(monitor->countedPids().count(11)) << "tick " << i;
        EXPECT_FALSE(row(s, "cli:bash")) << "tick " << i;
    }
    auto s = tick(1.1);  // 30.1 s after it was denied
    EXPECT_TRUE(monitor->countedPids().count(11));
    EXPECT_NEAR(row(s, "cli:bash")->cores, 0, 1e-9) << "a fresh baseline";
    EXPECT_NEAR(row(tick(), "cli:bash")->cores, 1.0, 1e-6);
}

TEST_F(MonitorTest, PublishesSnapshotsAndHistory) {
    app(100, "/opt/A.desktop", "A");
    sim->setDemand(100, 1.0);
    std::vector<MonitorSnapshot> seen;
    startMonitor();
    EXPECT_FALSE(monitor->latest());
    monitor->setOnSnapshot([&](const MonitorSnapshot& s) { seen.push_back(s); });
    monitor->setSavedProvider([] { return 0.75; });
    tick();
    auto s = tick();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen.back().apps, s.apps);
    EXPECT_EQ(seen.back().timestamp, sim->wallClock());
    auto h = monitor->history();
    EXPECT_EQ(h.systemTotal.size(), 2u);
    EXPECT_EQ(h.saved, (std::vector<float>{0.75f, 0.75f}));
    EXPECT_EQ(h.apps.at("/opt/A.desktop"), (std::vector<float>{1.0f, 1.0f}));
    EXPECT_EQ(h.endTime, s.timestamp);
}

TEST_F(MonitorTest, StartingTwiceIsHarmlessAndStopKeepsHistory) {
    app(100, "/opt/A.desktop", "A");
    startMonitor();
    tick();
    monitor->start(false);
    monitor->start();
    EXPECT_TRUE(monitor->isRunning());
    monitor->start();  // a timer exists: nothing happens
    monitor->stop();
    EXPECT_FALSE(monitor->isRunning());
    EXPECT_GE(monitor->historyTick(), 1);
}
