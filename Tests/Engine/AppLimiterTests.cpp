// The limiter's loops on the simulated platform: virtual time, exact CPU
// accounting, every signal recorded, and the write-ahead rule checked at
// every stop, continue, demote and promote (see LimiterSim.h).
#include "LimiterSim.h"
#include "ProcessUtil.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

using namespace trevlin;
using namespace trevlin::test;

namespace {

const std::string kBundle = "/usr/share/applications/busy.desktop";

Rule rule(Method m, double cores = 1.0, bool alwaysEfficiency = false, bool catchUp = false, bool sparesBusy = false) {
    return Rule(cores, m, alwaysEfficiency, catchUp, sparesBusy);
}

class Limiter : public LimiterSimTest {
protected:
    /// An app: main process 100 registered with the desktop, helpers with
    /// the given demands (pids 101, 102, …) that the main process is
    /// responsible for.
    void app(std::vector<double> helperDemands, double mainDemand = 0) {
        sim->spawn(100, "/usr/lib/busy/busy", mainDemand);
        sim->setApp(RunningAppInfo{100, kBundle, "busy", "org.example.busy", ActivationPolicy::regular});
        Pid pid = 101;
        for (double d : helperDemands) sim->spawn(pid++, "/usr/lib/busy/worker", d, 100);
    }
    /// A process that must never be touched (its command line is unreadable).
    void critical(Pid pid, double demand) {
        sim->spawn(pid, "/usr/lib/busy/guard", demand, 100);
        sim->edit(pid, [](SimProcess& p) { p.cmd = ""; });
    }
    LimiterStatus lastStatus() {
        std::lock_guard<std::mutex> g(publishedLock);
        return published.empty() ? LimiterStatus{} : published.back();
    }
    /// Runs until `pid` is stopped (at most `limit` seconds later).
    void runUntilStopped(Pid pid, double limit = 3.0) {
        // The clock only moves as far as the limiter's next deadline, so
        // step the limit rather than reading the clock.
        double target = sim->time();
        const double end = target + limit;
        while (!sim->get(pid).stopped && target < end) runTo(target += 0.01);
        ASSERT_TRUE(sim->get(pid).stopped);
    }
    /// Waits until the limiter holds `pid` stopped, then lets that process
    /// die and gives its pid to a new, idle one. Returns the time of the swap.
    double reuseHeldPid(Pid pid) {
        runTo(3);
        runUntilStopped(pid);
        const double swap = sim->time() + 0.0005;
        sim->remove(pid);
        sim->advance(0.001);
        sim->spawn(pid, "/usr/lib/busy/worker", 0.0, 100);
        return swap;
    }
};

TEST_F(Limiter, NothingStopsInTheFirstSecondThenTheCapHolds) {
    app({1.0, 1.0});
    startLimiter(rule(Method::strict, 1.0), kBundle, "busy");
    runTo(1.99);
    EXPECT_TRUE(signalTimes(101, SIGSTOP).empty());
    EXPECT_TRUE(signalTimes(102, SIGSTOP).empty());
    runTo(10);
    ASSERT_FALSE(signalTimes(101, SIGSTOP).empty());
    EXPECT_GE(signalTimes(101, SIGSTOP).front(), 2.0);
    const double before = cpu(101) + cpu(102);
    runTo(20);
    EXPECT_NEAR((cpu(101) + cpu(102) - before) / 10.0, 1.0, 0.05);
    LimiterStatus s = lastStatus();
    EXPECT_EQ(s.pausedProcessCount, 2);
    EXPECT_EQ(s.processCount, 3);
    EXPECT_TRUE(s.isThrottling);
    EXPECT_NEAR(s.allowedRunFraction, 0.5, 0.08);
    EXPECT_NE(s.summaryLine.find("busy is using 1.0"), std::string::npos) << s.summaryLine;
    EXPECT_NE(s.summaryLine.find("pausing 2 busy process(es), allowed "), std::string::npos) << s.summaryLine;
    // While held, the estimate says the app would use its full two cores.
    EXPECT_NEAR(s.unthrottledCores, 2.0, 0.15);
    EXPECT_NEAR(s.savedCores, 1.0, 0.15);
}

struct FloorCase {
    Method method;
    const char* note;
};

class CapBelowUntouchableUse : public Limiter, public ::testing::WithParamInterface<FloorCase> {};

TEST_P(CapBelowUntouchableUse, LeavesThreePercentRunTime) {
    const FloorCase& c = GetParam();
    app({1.0});
    critical(103, 1.5);
    startLimiter(rule(c.method, 0.5), kBundle, "busy");
    runTo(5);
    const double before = cpu(101);
    const size_t continues = signalTimes(101, SIGCONT, 5).size();
    runTo(10);
    LimiterStatus s = lastStatus();
    EXPECT_EQ(s.allowedRunFraction, 0.03);
    EXPECT_EQ(s.note, c.note);
    EXPECT_NE(s.summaryLine.find("allowed 3% run time; " + std::string(c.note)), std::string::npos)
        << s.summaryLine;
    // It still runs 3 % of every period.
    EXPECT_NEAR((cpu(101) - before) / 5.0, 0.03, 0.005);
    EXPECT_NEAR(static_cast<double>(signalTimes(101, SIGCONT, 5).size() - continues), 50, 2);
}

INSTANTIATE_TEST_SUITE_P(Limiter, CapBelowUntouchableUse,
                         ::testing::Values(FloorCase{Method::smart, LimiterNotes::smartRestInFront},
                                           FloorCase{Method::strict, LimiterNotes::strictRestUntouchable}),
                         [](const auto& test) { return std::string(rawValue(test.param.method)); });

TEST_F(Limiter, NoCandidatesMeansFullRunTimeAndNoStops) {
    app({0.01, 0.02});
    critical(103, 1.5);
    startLimiter(rule(Method::strict, 0.5), kBundle, "busy");
    runTo(6);
    for (Pid pid : {100, 101, 102, 103}) EXPECT_TRUE(signalTimes(pid, SIGSTOP).empty()) << pid;
    LimiterStatus s = lastStatus();
    EXPECT_EQ(s.allowedRunFraction, 1.0);
    EXPECT_FALSE(s.isThrottling);
    EXPECT_EQ(s.pausedProcessCount, 0);
    EXPECT_NE(s.summaryLine.find(": not pausing anything; " + std::string(LimiterNotes::strictRestUntouchable)),
              std::string::npos)
        << s.summaryLine;
}

TEST_F(Limiter, GainStopsAtAQuarterSoRunTimeComesBackPromptly) {
    // Ten seconds far over the cap drive the gain down; unclamped it would
    // be near zero and the app would stay at 3 % long after the load is gone.
    app({1.0});
    critical(103, 1.5);
    startLimiter(rule(Method::strict, 1.0), kBundle, "busy");
    runTo(12);
    EXPECT_EQ(lastStatus().allowedRunFraction, 0.03);
    sim->setDemand(103, 0);
    runTo(13.05);
    const double fraction = lastStatus().allowedRunFraction;
    EXPECT_GE(fraction, 0.25);
    EXPECT_LE(fraction, 0.35);
    // The gain climbs back (1 % a tick) until the app uses its cap.
    runTo(40);
    const double before = cpu(101);
    runTo(50);
    EXPECT_NEAR((cpu(101) - before) / 10.0, 1.0, 0.05);
}

TEST_F(Limiter, AGroupSpreadOverManyLightProcessesIsHeldToItsCap) {
    // Fifty processes at 0.03 cores each, none busy enough to be a
    // candidate on its own, 1.5 cores in all under a 0.5-core cap.
    app(std::vector<double>(50, 0.03));
    startLimiter(rule(Method::strict, 0.5), kBundle, "busy");
    runTo(10);
    double before = 0;
    for (Pid pid = 101; pid <= 150; ++pid) before += cpu(pid);
    runTo(20);
    double after = 0;
    for (Pid pid = 101; pid <= 150; ++pid) after += cpu(pid);
    EXPECT_NEAR((after - before) / 10.0, 0.5, 0.03);
    LimiterStatus s = lastStatus();
    EXPECT_TRUE(s.isThrottling);
    EXPECT_EQ(s.pausedProcessCount, 50);  // every light process (the idle main one is not)
    EXPECT_EQ(s.note, "");
}

TEST_F(Limiter, ReusedPidGetsAFreshRecordAndNoOldSignals) {
    app({1.0, 1.0});
    startLimiter(rule(Method::strict, 0.5), kBundle, "busy");
    const double swap = reuseHeldPid(101);
    runTo(swap + 3);
    EXPECT_TRUE(signalTimes(101, SIGSTOP, swap).empty());
    EXPECT_TRUE(signalTimes(101, SIGCONT, swap).empty());
    EXPECT_FALSE(journal->entry(kBundle, 101).has_value());
    EXPECT_TRUE(journal->entry(kBundle, 102).has_value());
}

TEST_F(Limiter, RestoreSkipsAPidThatNamesAnotherProcessNow) {
    app({1.0, 1.0});
    auto limiter = startLimiter(rule(Method::strict, 0.5), kBundle, "busy");
    const double swap = reuseHeldPid(101);
    limiter->stop();
    EXPECT_TRUE(signalTimes(101, SIGCONT, swap).empty());
    EXPECT_FALSE(sim->get(102).stopped);
}

TEST_F(Limiter, PidReusedDuringTheRunSliceIsNotStoppedAtItsEnd) {
    // The candidate exits while it runs its share of the period and a new,
    // unrelated process gets its pid before the slice ends.
    app({1.0, 1.0});
    startLimiter(rule(Method::strict, 0.5), kBundle, "busy");
    runTo(3);
    runUntilStopped(101);
    double target = sim->time();
    while (sim->get(101).stopped && target < 5) runTo(target += 0.001);
    ASSERT_FALSE(sim->get(101).stopped);
    const double swap = sim->time();
    sim->remove(101);
    sim->advance(0.0001);
    sim->spawn(101, "/usr/lib/busy/worker", 0.0, 100);
    runTo(swap + 3);
    EXPECT_TRUE(signalTimes(101, SIGSTOP, swap).empty());
    EXPECT_FALSE(sim->get(101).stopped);
}

class FrontApp : public Limiter, public ::testing::WithParamInterface<Method> {};

TEST_P(FrontApp, SmartSparesItUnlessItsWorkIsLowPriority) {
    const Method m = GetParam();
    app({1.0, 1.0});
    sim->edit(102, [](SimProcess& p) { p.priority = 5; });
    sim->setFront(100);
    startLimiter(rule(m, 0.5), kBundle, "busy");
    runTo(6);
    EXPECT_EQ(signalTimes(101, SIGSTOP).empty(), m == Method::smart);
    EXPECT_FALSE(signalTimes(102, SIGSTOP).empty());
    // Once another app is in front, smart holds everything busy.
    sim->spawn(500, "/usr/bin/other");
    sim->setFront(500);
    runTo(8);
    EXPECT_FALSE(signalTimes(101, SIGSTOP, 6.2).empty());
}

INSTANTIATE_TEST_SUITE_P(Limiter, FrontApp, ::testing::Values(Method::smart, Method::strict),
                         [](const auto& test) { return std::string(rawValue(test.param)); });

class BrowserMainProcess : public Limiter, public ::testing::WithParamInterface<Method> {};

TEST_P(BrowserMainProcess, IsNeverStoppedItsHelpersAre) {
    const Method m = GetParam();
    app({}, 1.0);
    sim->edit(100, [](SimProcess& p) { p.exe = "/opt/browser/browser"; p.cmd = "/opt/browser/browser --no-first-run"; });
    auto helper = [&](Pid pid, const std::string& args) {
        sim->spawn(pid, "/opt/browser/browser", 1.0, 100);
        sim->edit(pid, [&](SimProcess& p) { p.cmd = "/opt/browser/browser " + args; });
    };
    helper(101, "--type=renderer --lang=en");
    helper(102, "--type=gpu-process --enable-x");
    helper(103, "--type=utility --utility-sub-type=network.mojom.NetworkService --lang=en");
    helper(104, "--type=utility --utility-sub-type=audio.mojom.AudioService");
    sim->spawn(500, "/usr/bin/other");
    sim->setFront(500);
    startLimiter(rule(m, 0.5), kBundle, "busy");
    runTo(6);
    EXPECT_FALSE(signalTimes(101, SIGSTOP).empty());
    for (Pid pid : {100, 102, 103, 104}) EXPECT_TRUE(signalTimes(pid, SIGSTOP).empty()) << pid;
}

INSTANTIATE_TEST_SUITE_P(Limiter, BrowserMainProcess, ::testing::Values(Method::strict, Method::smart, Method::pause),
                         [](const auto& test) { return std::string(rawValue(test.param)); });

TEST_F(Limiter, PauseOnACommandLineGroupNeverStopsAnything) {
    sim->spawn(200, "/usr/bin/node", 0);
    sim->spawn(201, "/usr/bin/node", 1.0, 200);
    sim->spawn(202, "/usr/bin/node", 1.0, 200);
    startLimiter(rule(Method::pause, 1.0, false, true, false), "cli:node", "node",
                 [] { return std::vector<Pid>{201, 202}; });
    runTo(8);
    EXPECT_TRUE(sim->sent().empty());
    LimiterStatus s = lastStatus();
    EXPECT_EQ(s.pauseState, PauseState::none);
    EXPECT_EQ(s.summaryLine, "node: pause is not available for command-line groups");
    EXPECT_FALSE(s.isThrottling);
}

TEST_F(Limiter, SwitchingToAPausedAppContinuesItFromTheTrackerCallback) {
    app({1.0, 1.0});
    sim->spawn(500, "/usr/bin/other");
    sim->setFront(500);
    startLimiter(rule(Method::pause), kBundle, "busy");
    runTo(4);
    for (Pid pid : {100, 101, 102}) ASSERT_TRUE(sim->get(pid).stopped) << pid;
    LimiterStatus held = lastStatus();
    EXPECT_EQ(held.pauseState, PauseState::paused);
    EXPECT_EQ(held.summaryLine, "busy paused in background (3 of 3 processes stopped)");
    EXPECT_EQ(held.allowedRunFraction, 0.0);

    // The activation arrives on this (the main) thread; the continues must
    // come from it, not from the limiter's next turn.
    const double switchAt = sim->time();
    sim->setFront(101);
    const auto me = std::this_thread::get_id();
    for (Pid pid : {100, 101, 102}) {
        EXPECT_FALSE(sim->get(pid).stopped) << pid;
        bool fromCallback = false;
        for (const auto& s : sim->sent())
            if (s.pid == pid && s.signal == SIGCONT && s.time >= switchAt && s.thread == me) fromCallback = true;
        EXPECT_TRUE(fromCallback) << pid;
    }
    runTo(switchAt + 2);
    EXPECT_EQ(lastStatus().pauseState, PauseState::inFront);
    EXPECT_TRUE(journal->entries().empty());
}

TEST_F(Limiter, BackToTheBackgroundRightAfterAnActivationHoldsAgain) {
    app({1.0, 1.0});
    sim->spawn(500, "/usr/bin/other");
    sim->setFront(500);
    startLimiter(rule(Method::pause), kBundle, "busy");
    runTo(4);
    ASSERT_TRUE(sim->get(101).stopped);
    // A quick look at the app and straight back, possibly before the loop's
    // next turn: the processes the activation continued are held again.
    sim->setFront(100);
    sim->setFront(500);
    runTo(4.6);
    for (Pid pid : {100, 101, 102}) EXPECT_TRUE(sim->get(pid).stopped) << pid;
    EXPECT_EQ(lastStatus().summaryLine, "busy paused in background (3 of 3 processes stopped)");
}

TEST_F(Limiter, PauseSparesAnAppThatPlaysAudio) {
    app({1.0});
    sim->spawn(500, "/usr/bin/other");
    sim->setFront(500);
    sim->setBusy(101, BusyReason::playingAudio);
    startLimiter(rule(Method::pause, 1.0, false, false, true), kBundle, "busy");
    runTo(4);
    EXPECT_TRUE(sim->sent().empty());
    EXPECT_EQ(lastStatus().pauseState, PauseState::spared);
    EXPECT_EQ(lastStatus().pauseDetail, "playing audio");
    EXPECT_EQ(lastStatus().summaryLine, "busy in background, not paused: playing audio");
    // The music stops: held within the next ask (every 2 s).
    sim->setBusy(101, std::nullopt);
    runTo(6.5);
    EXPECT_TRUE(sim->get(101).stopped);
    EXPECT_EQ(lastStatus().pauseState, PauseState::paused);
}

// Where the desktop does not tell which app is in front, the user may be
// using any app: pause holds nothing (and lets go at once of what it held),
// smart holds the cap like strict and says so.
TEST_F(Limiter, AnUnknownFrontAppIsNeverPausedAndSmartHoldsLikeStrict) {
    const std::string reason = "in front or not: this desktop does not tell Trevlin";
    app({1.0, 1.0});
    sim->spawn(500, "/usr/bin/other");
    sim->setFront(500);
    auto limiter = startLimiter(rule(Method::pause), kBundle, "busy");
    runTo(4);
    ASSERT_TRUE(sim->get(101).stopped);

    const double unknownAt = sim->time();
    sim->setFrontUnknown(reason);
    for (Pid pid : {100, 101, 102}) EXPECT_FALSE(sim->get(pid).stopped) << pid;  // from the callback
    runTo(unknownAt + 12);  // past the warm-up and a catch-up interval
    for (Pid pid : {100, 101, 102}) EXPECT_TRUE(signalTimes(pid, SIGSTOP, unknownAt).empty()) << pid;
    LimiterStatus s = lastStatus();
    EXPECT_EQ(s.pauseState, PauseState::spared);
    EXPECT_EQ(s.pauseDetail, reason);
    EXPECT_EQ(s.summaryLine, "busy not paused: it is " + reason);
    EXPECT_TRUE(journal->entries().empty());

    // Smart: nothing is spared as the front app's, and the note says why.
    limiter->setRule(rule(Method::smart, 0.5));
    const double smartAt = sim->time();
    runTo(smartAt + 6);
    EXPECT_FALSE(signalTimes(101, SIGSTOP, smartAt).empty());
    EXPECT_FALSE(signalTimes(102, SIGSTOP, smartAt).empty());
    EXPECT_EQ(lastStatus().note, LimiterNotes::smartFrontUnknown);

    // The desktop tells again, with the app in the background: held as before.
    sim->setFront(500);
    limiter->setRule(rule(Method::pause));
    runTo(sim->time() + 4);
    EXPECT_TRUE(sim->get(101).stopped);
    EXPECT_EQ(lastStatus().pauseState, PauseState::paused);
}

struct CatchUpCase {
    const char* value;
    bool catchesUp;
};

class CatchUpWindows : public Limiter, public ::testing::WithParamInterface<CatchUpCase> {};

TEST_P(CatchUpWindows, FollowTheTestInterval) {
    const CatchUpCase& c = GetParam();
    ::setenv("TREVLIN_CATCHUP_TEST_SECONDS", c.value, 1);
    app({1.0});
    sim->spawn(500, "/usr/bin/other");
    sim->setFront(500);
    startLimiter(rule(Method::pause, 1.0, false, true, false), kBundle, "busy");
    runTo(45);
    ::unsetenv("TREVLIN_CATCHUP_TEST_SECONDS");
    // The hold begins at the second scan, 0.4 s after the start at the
    // earliest (the loop turns every 0.25 s).
    auto stops = signalTimes(101, SIGSTOP);
    auto continues = signalTimes(101, SIGCONT);
    ASSERT_FALSE(stops.empty());
    const double held = stops.front();
    EXPECT_GE(held, 1.4);
    EXPECT_LE(held, 1.6);
    if (!c.catchesUp) {
        EXPECT_EQ(stops.size(), 1u);
        EXPECT_TRUE(continues.empty());
        return;
    }
    // Held 10 s, runs 5 s, held again for 10 s, and so on.
    ASSERT_EQ(continues.size(), 3u);
    ASSERT_EQ(stops.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(continues[i], held + 10.0 + 15.0 * i, 0.3) << i;
        if (i + 1 < 3) {
            EXPECT_NEAR(stops[i + 1] - continues[i], 5.0, 0.3) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Limiter, CatchUpWindows,
                         ::testing::Values(CatchUpCase{"10", true}, CatchUpCase{"0", false}, CatchUpCase{"abc", false},
                                           CatchUpCase{"10s", false}));

TEST_F(Limiter, MethodChangeFromStrictToPauseContinuesEverythingFirst) {
    app({1.0, 1.0});
    sim->setFront(100);  // in front: the pause loop will not hold
    auto limiter = startLimiter(rule(Method::strict, 0.5), kBundle, "busy");
    runTo(3);
    runUntilStopped(101);
    ASSERT_FALSE(journal->entries().empty());
    const double change = sim->time();
    limiter->setRule(rule(Method::pause, 0.5));
    runTo(change + 0.2);
    for (Pid pid : {101, 102}) {
        EXPECT_FALSE(sim->get(pid).stopped) << pid;
        EXPECT_TRUE(signalTimes(pid, SIGSTOP, change + 0.0001).empty()) << pid;
    }
    EXPECT_TRUE(journal->entries().empty());
    runTo(change + 3);
    EXPECT_EQ(lastStatus().pauseState, PauseState::inFront);
    EXPECT_EQ(lastStatus().method, Method::pause);
}

TEST_F(Limiter, EcoresMovesTheHeaviestProcessOneASecondAndBack) {
    app({1.5, 0.6, 0.05});
    auto limiter = startLimiter(rule(Method::ecores, 1.0), kBundle, "busy");
    runTo(2.5);
    EXPECT_TRUE(sim->get(101).demoted);
    EXPECT_FALSE(sim->get(102).demoted);
    runTo(3.5);
    EXPECT_TRUE(sim->get(102).demoted);  // still over the cap: the next heaviest
    runTo(6);
    EXPECT_FALSE(sim->get(103).demoted);  // too light to be worth moving
    EXPECT_EQ(lastStatus().note, LimiterNotes::ecoresNothingLeft);
    EXPECT_EQ(lastStatus().demotedProcessCount, 2);
    EXPECT_TRUE(sim->sent().empty());  // ecores never stops anything
    // The load goes away: one process a second goes back.
    sim->setDemand(101, 0);
    sim->setDemand(102, 0);
    runTo(20);
    EXPECT_FALSE(sim->get(101).demoted);
    EXPECT_FALSE(sim->get(102).demoted);
    EXPECT_TRUE(journal->entries().empty());
}

TEST_F(Limiter, AlwaysEfficiencyPinsAndUnpinsWithTheRule) {
    app({1.0, 0.0});
    auto limiter = startLimiter(rule(Method::strict, 4.0, true), kBundle, "busy");
    runTo(3);
    for (Pid pid : {101, 102}) EXPECT_TRUE(sim->get(pid).demoted) << pid;
    ASSERT_TRUE(journal->entry(kBundle, 102).has_value());
    EXPECT_TRUE(journal->entry(kBundle, 102)->demoted);
    limiter->setRule(rule(Method::strict, 4.0, false));
    runTo(3.5);
    for (Pid pid : {101, 102}) EXPECT_FALSE(sim->get(pid).demoted) << pid;
    for (const auto& e : journal->entries()) EXPECT_FALSE(e.demoted) << e.pid;
}

TEST_F(Limiter, StoppingRestoresEverythingAndClearsTheJournal) {
    app({1.0, 1.0, 1.0});
    auto limiter = startLimiter(rule(Method::strict, 0.5, true), kBundle, "busy");
    runTo(4);
    runUntilStopped(101);
    ASSERT_TRUE(std::ifstream(journal->filePath()).good());
    limiter->stop();
    for (Pid pid : {100, 101, 102, 103}) {
        EXPECT_FALSE(sim->get(pid).stopped) << pid;
        EXPECT_FALSE(sim->get(pid).demoted) << pid;
    }
    EXPECT_FALSE(std::ifstream(journal->filePath()).good());
    LimiterStatus s = limiter->status();
    EXPECT_EQ(s.currentCores, 0);
    EXPECT_FALSE(s.isThrottling);
    EXPECT_EQ(s.pausedProcessCount, 0);
    EXPECT_EQ(s.demotedProcessCount, 0);
    EXPECT_FALSE(s.summaryLine.empty());  // the last texts stay
}

TEST_F(Limiter, AProcessThatLeavesTheAppWhileStoppedIsContinued) {
    app({1.0, 1.0});
    std::vector<Pid> targets{100, 101, 102};
    std::mutex lock;
    startLimiter(rule(Method::strict, 0.5), "cli:busy", "busy", [&] {
        std::lock_guard<std::mutex> g(lock);
        return targets;
    });
    runTo(4);
    runUntilStopped(101);
    {
        std::lock_guard<std::mutex> g(lock);
        targets = {100, 102};
    }
    runTo(sim->time() + 1.5);
    EXPECT_FALSE(sim->get(101).stopped);
    EXPECT_FALSE(journal->entry("cli:busy", 101).has_value());
}

// The journal cannot be written: nothing is stopped or moved, the status
// says why, and holding starts by itself once it can be written again.
struct BlockedJournalCase {
    const char* name;
    Rule rule;
};

class BlockedJournal : public Limiter, public ::testing::WithParamInterface<BlockedJournalCase> {};

TEST_P(BlockedJournal, NothingIsHeldUntilTheJournalCanBeWritten) {
    // A file where the journal's folder should be: no write gets through,
    // not even as root.
    const std::string blocker = dir->write("blocked", "");
    journal = std::make_shared<Journal>(*sim, blocker + "/journal");
    sim->watch(journal->filePath());
    app({1.0, 1.0});
    sim->spawn(500, "/usr/bin/other");
    sim->setFront(500);
    startLimiter(GetParam().rule, kBundle, "busy");
    ::testing::internal::CaptureStderr();
    runTo(5);
    const std::string err = ::testing::internal::GetCapturedStderr();
    for (Pid pid : {100, 101, 102}) {
        EXPECT_FALSE(sim->get(pid).stopped) << pid;
        EXPECT_FALSE(sim->get(pid).demoted) << pid;
    }
    const auto sent = sim->sent();
    EXPECT_TRUE(std::none_of(sent.begin(), sent.end(), [](const auto& s) { return s.signal == SIGSTOP; }));
    EXPECT_EQ(lastStatus().summaryLine, "Not holding: the journal cannot be written: Not a directory");
    EXPECT_EQ(lastStatus().notHolding, lastStatus().summaryLine);
    // A lasting failure is one line, however often it is tried.
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;

    ASSERT_EQ(std::remove(blocker.c_str()), 0);
    const double freed = sim->time();
    double target = freed;
    auto held = [&] {
        for (Pid pid : {101, 102})
            if (sim->get(pid).stopped || sim->get(pid).demoted) return true;
        return false;
    };
    while (!held() && target < freed + 3) runTo(target += 0.01);
    EXPECT_TRUE(held()) << "held again within " << target - freed << " s";
    runTo(sim->time() + 1.5);
    EXPECT_TRUE(lastStatus().notHolding.empty());
    EXPECT_NE(lastStatus().summaryLine.rfind("Not holding", 0), 0u) << lastStatus().summaryLine;
}

INSTANTIATE_TEST_SUITE_P(Limiter, BlockedJournal,
                         ::testing::Values(BlockedJournalCase{"strict", rule(Method::strict, 0.5)},
                                           BlockedJournalCase{"pause", rule(Method::pause)},
                                           BlockedJournalCase{"ecores", rule(Method::ecores, 0.5, true)}),
                         [](const auto& p) { return std::string(p.param.name); });

// Ctrl-Z on a held process, sent while it runs its slice or while the
// limiter holds it stopped: the stop stands until the user continues it.
class UserStop : public Limiter, public ::testing::WithParamInterface<bool> {
protected:
    /// What the user's shell does: a signal that is not the limiter's.
    void user(Pid pid, int signal) { sim->SimulatedPlatform::sendSignal(pid, signal); }
};

TEST_P(UserStop, IsLeftStandingAndHeldAgainOnceContinued) {
    const bool whileHeld = GetParam();
    app({1.0, 1.0});
    auto limiter = startLimiter(rule(Method::strict, 0.5), kBundle, "busy");
    runTo(4);
    runUntilStopped(101);
    if (!whileHeld) {
        double target = sim->time();
        while (sim->get(101).stopped) runTo(target += 0.005);
    }
    // (Counted, not timed: the limiter may have sent one at this very instant.)
    const size_t continuesBefore = signalTimes(101, SIGCONT).size();
    user(101, SIGTSTP);
    const double stoppedAt = sim->time();
    runTo(stoppedAt + 3);
    EXPECT_TRUE(sim->get(101).stopped);
    EXPECT_EQ(signalTimes(101, SIGCONT).size(), continuesBefore);
    EXPECT_FALSE(journal->entry(kBundle, 101));
    EXPECT_NE(lastStatus().summaryLine.find("; 1 process(es) stopped by you"), std::string::npos)
        << lastStatus().summaryLine;
    EXPECT_EQ(lastStatus().stoppedByUserCount, 1);
    // The other process is still held.
    EXPECT_FALSE(signalTimes(102, SIGSTOP, stoppedAt + 2).empty());

    // `fg`: it runs, and is held again.
    user(101, SIGCONT);
    const double continuedAt = sim->time();
    runTo(continuedAt + 3);
    EXPECT_FALSE(signalTimes(101, SIGSTOP, continuedAt).empty());
    EXPECT_EQ(lastStatus().stoppedByUserCount, 0);

    // Stopped again, then the limiter lets go: the stop stands, the entry goes.
    runUntilStopped(101);
    user(101, SIGTSTP);
    runTo(sim->time() + 0.5);
    limiter->stop();
    EXPECT_TRUE(sim->get(101).stopped);
    EXPECT_FALSE(sim->get(102).stopped);
    EXPECT_TRUE(journal->entries().empty());
    user(101, SIGCONT);
}

INSTANTIATE_TEST_SUITE_P(Limiter, UserStop, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "WhileHeld" : "WhileRunning"; });

}  // namespace
