// Running apps, the front-app tracker and busy reasons on the simulated
// platform, where time is exact, and the Linux backend's busy reason.
#include "BusyReasons.h"
#include "DesktopPower.h"
#include "FrontmostTracker.h"
#include "SimulatedPlatform.h"
#include "ProcessUtil.h"
#include "RunningApps.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <deque>
#include <thread>

using namespace trevlin;

namespace {

class Desktop : public ::testing::Test {
protected:
    RunningAppInfo app(Pid pid, const std::string& name) {
        RunningAppInfo info;
        info.pid = pid;
        info.bundlePath = "/usr/share/applications/" + name + ".desktop";
        info.name = name;
        info.bundleID = name;
        return info;
    }
    bool listed(Pid pid) {
        for (const auto& a : apps.all(0.5))
            if (a.pid == pid) return true;
        return false;
    }

    std::shared_ptr<SimulatedPlatform> sim = std::make_shared<SimulatedPlatform>();
    RunningApps apps{*sim};
};

}  // namespace

TEST_F(Desktop, LateRegistrationIsPickedUpOnlyDuringTheFirstThirtySeconds) {
    sim->spawn(10, "/usr/bin/early");
    sim->spawn(20, "/usr/bin/late");
    EXPECT_TRUE(apps.all(0.5).empty());

    // 10 registers 10 s after it was first seen: found within 2 s.
    sim->advance(10.0);
    sim->setApp(app(10, "early"));
    sim->advance(0.6);
    bool found = listed(10);
    for (int i = 0; i < 4 && !found; ++i) {
        sim->advance(0.6);
        found = listed(10);
    }
    EXPECT_TRUE(found);

    // 20 registers after 40 s: never listed.
    sim->advance(30.0);
    sim->setApp(app(20, "late"));
    for (int i = 0; i < 10; ++i) {
        sim->advance(1.0);
        EXPECT_FALSE(listed(20));
    }
}

TEST_F(Desktop, ListIsRebuiltAtMostOncePerMaxAgeAndLookupsAreRationed) {
    for (Pid p = 1; p <= 50; ++p) sim->spawn(p, "/usr/bin/x");
    apps.all(0.5);
    int first = sim->lookupCount();
    EXPECT_EQ(first, 50);
    apps.all(0.5);  // within 0.5 s: the cached list
    EXPECT_EQ(sim->lookupCount(), first);
    sim->advance(0.6);
    apps.all(0.5);  // rebuilt, but no pid is due for another look yet
    EXPECT_EQ(sim->lookupCount(), first);
    sim->advance(1.5);
    apps.all(0.5);  // 2.1 s after the first look: every non-app is looked at again
    EXPECT_EQ(sim->lookupCount(), 2 * first);
}

TEST_F(Desktop, ReusedPidKeepsOldInfoUntilItLeavesOneListing) {
    sim->spawn(30, "/usr/bin/old");
    sim->setApp(app(30, "Old"));
    ASSERT_TRUE(listed(30));
    // The pid is reused by another app between two listings.
    sim->remove(30);
    sim->spawn(30, "/usr/bin/new");
    sim->setApp(app(30, "New"));
    sim->advance(0.6);
    auto list = apps.all(0.5);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "Old");
    // Once missing from a listing, the next process with that pid is looked up afresh.
    sim->remove(30);
    sim->advance(0.6);
    EXPECT_TRUE(apps.all(0.5).empty());
    sim->spawn(30, "/usr/bin/new");
    sim->advance(0.6);
    list = apps.all(0.5);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, "New");
}

TEST_F(Desktop, FrontTrackerReportsOnTheMainThreadOutsideItsLock) {
    std::deque<std::function<void()>> mainQueue;
    FrontmostTracker tracker(*sim, [&](std::function<void()> work) { mainQueue.push_back(std::move(work)); });
    EXPECT_EQ(tracker.pid(), 0);
    sim->setFront(7);  // before start: only the initial value counts
    tracker.start();
    tracker.start();
    EXPECT_EQ(tracker.pid(), 7);

    std::vector<std::pair<int, Pid>> calls;
    int a = tracker.addObserver([&](FrontApp f) {
        calls.emplace_back(1, f.pid);
        EXPECT_EQ(tracker.pid(), f.pid);  // the lock is not held here
    });
    int b = tracker.addObserver([&](FrontApp f) { calls.emplace_back(2, f.pid); });
    EXPECT_EQ(b, a + 1);

    sim->setFront(42);
    EXPECT_TRUE(calls.empty());  // nothing happens until the main thread runs it
    EXPECT_EQ(tracker.pid(), 7);
    while (!mainQueue.empty()) {
        auto w = std::move(mainQueue.front());
        mainQueue.pop_front();
        w();
    }
    EXPECT_EQ(tracker.pid(), 42);
    EXPECT_EQ(calls, (std::vector<std::pair<int, Pid>>{{1, 42}, {2, 42}}));

    tracker.removeObserver(a);
    tracker.removeObserver(b);
}

TEST_F(Desktop, AnActivationDuringStartIsNotUndoneByTheInitialAnswer) {
    // The platform reports a switch to 42 while it is starting; the main
    // thread (here: at once) handles it before start() returns 7.
    struct SwitchingWhileStarting : SimulatedPlatform {
        FrontApp startFrontTracking(std::function<void(FrontApp)> onChange) override {
            onChange(FrontApp::of(42));
            return FrontApp::of(7);
        }
    };
    SwitchingWhileStarting platform;
    FrontmostTracker tracker(platform, [](std::function<void()> work) { work(); });
    tracker.start();
    EXPECT_EQ(tracker.pid(), 42);
}

TEST(AudioAndAwake, FromTheSoundServerAndLogind) {
    using Streams = std::optional<std::vector<linux::AudioStream>>;
    using Inhibitors = std::optional<std::vector<linux::Inhibitor>>;
    auto stream = [](Pid pid, bool corked = false) { return linux::AudioStream{pid, "Playback", corked}; };
    auto inhibitor = [](Pid pid, std::string what, std::string mode = "block") {
        return linux::Inhibitor{std::move(what), "Player", "Playing video", std::move(mode), 1000, pid};
    };
    struct Case {
        const char* what;
        Streams streams;
        Inhibitors inhibitors;
        std::optional<BusyReason> reason;
    };
    const auto awake = BusyReason::keepingAwake, audio = BusyReason::playingAudio;
    const Case cases[] = {
        {"neither answers", std::nullopt, std::nullopt, std::nullopt},
        {"nothing held", std::vector<linux::AudioStream>{}, std::vector<linux::Inhibitor>{}, std::nullopt},
        {"blocks idle", std::nullopt, std::vector{inhibitor(100, "idle")}, awake},
        {"blocks sleep and more", std::nullopt, std::vector{inhibitor(101, "shutdown:sleep:idle")}, awake},
        {"a delay lock only postpones sleep", std::nullopt, std::vector{inhibitor(100, "sleep", "delay")}, std::nullopt},
        {"a lock that does not keep awake", std::nullopt, std::vector{inhibitor(100, "shutdown:handle-lid-switch")},
         std::nullopt},
        {"another app's lock", std::nullopt, std::vector{inhibitor(999, "sleep")}, std::nullopt},
        {"a stream playing for the app", std::vector{stream(101)}, std::nullopt, audio},
        {"audio wins over an earlier lock", std::vector{stream(101)}, std::vector{inhibitor(100, "idle")}, audio},
        {"a corked stream is no audio", std::vector{stream(101, true)}, std::vector{inhibitor(100, "idle")}, awake},
        {"another app's stream", std::vector{stream(999)}, std::nullopt, std::nullopt},
        {"a stream without a process id", std::vector{stream(0)}, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(linux::busyReasonOf({100, 101}, c.streams, c.inhibitors), c.reason) << c.what;
}

TEST_F(Desktop, AudioAndAwakeTexts) {
    sim->spawn(100, "/usr/bin/player");
    sim->spawn(101, "/usr/bin/player");
    EXPECT_EQ(BusyReasons::ask(*sim, {100, 101}), std::nullopt);
    sim->setBusy(100, BusyReason::keepingAwake);
    EXPECT_EQ(BusyReasons::ask(*sim, {100, 101}), "keeping the computer awake");
    sim->setBusy(101, BusyReason::playingAudio);
    EXPECT_EQ(BusyReasons::ask(*sim, {100, 101}), "playing audio");
    EXPECT_EQ(BusyReasons::ask(*sim, {102}), std::nullopt);
}

TEST(SimulatedPlatform, StoppedProcessesAccrueNoTimeAndWaitersFollowTheClock) {
    auto sim = std::make_shared<SimulatedPlatform>();
    sim->spawn(5, "/bin/busy", 1.5);
    sim->advance(2.0);
    EXPECT_NEAR(readSample(*sim, 5)->cpu, 3.0, 1e-9);
    EXPECT_EQ(sim->sendSignal(5, SIGSTOP), 0);
    sim->advance(2.0);
    EXPECT_NEAR(readSample(*sim, 5)->cpu, 3.0, 1e-9);
    sim->sendSignal(5, SIGCONT);

    // A thread sleeping 0.25 s at a time moves the clock only up to the limit.
    std::atomic<int> turns{0};
    std::atomic<bool> quit{false};
    std::thread worker([&] {
        while (!quit) {
            sleepSeconds(*sim, 0.25, [&] { return quit.load(); });
            ++turns;
        }
    });
    double start = sim->time();
    sim->runUntil(start + 1.0);
    EXPECT_NEAR(sim->time(), start + 1.0, 1e-9);
    EXPECT_EQ(turns.load(), 4);
    EXPECT_NEAR(readSample(*sim, 5)->cpu, 3.0 + 1.5, 1e-9);
    quit = true;
    sim->notifyWaiters();
    worker.join();
}
