// Running limiters on the simulated platform, exactly.
//
// `JournalWatchingPlatform` checks the write-ahead rule at every stop,
// continue, demote and promote, before and after the call: whenever a
// process is stopped or on the efficiency cores, the journal file on disk
// must list it with that flag. It also remembers which thread sent each
// signal.
//
// `LimiterSimTest` builds an engine context around such a platform with a
// private journal folder, runs main-thread work inline and stops every
// limiter it made at the end.
#pragma once

#include "AppLimiter.h"
#include "Journal.h"
#include "SimulatedEngine.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace trevlin::test {

class JournalWatchingPlatform : public SimulatedPlatform {
public:
    /// Starts checking against this journal file.
    void watch(std::string journalFile);
    /// Every breach of the write-ahead rule seen so far.
    std::vector<std::string> violations();

    struct Sent {
        Pid pid;
        int signal;
        double time;
        std::thread::id thread;
    };
    std::vector<Sent> sent();

    int sendSignal(Pid pid, int signal) override;
    bool demote(Pid pid) override;
    bool promote(Pid pid) override;

private:
    void check(const char* when);

    std::mutex watchLock_;
    std::string file_;
    std::vector<std::string> violations_;
    std::vector<Sent> sent_;
};

class LimiterSimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /// Makes and starts a limiter with a 100 ms period.
    std::shared_ptr<AppLimiter> startLimiter(const Rule& rule, const std::string& key, const std::string& name,
                                             AppLimiter::TargetProvider targets = {});
    /// Lets the limiter threads run until virtual time `t`.
    void runTo(double t, int threads = 1) { sim->runUntil(t, threads); }
    /// CPU seconds a simulated process has used.
    double cpu(Pid pid) { return sim->get(pid).cpuSeconds; }
    /// Signals of one kind sent to `pid` at or after `from`.
    std::vector<double> signalTimes(Pid pid, int signal, double from = 0);

    SimulatedContext<JournalWatchingPlatform> engine;
    std::shared_ptr<JournalWatchingPlatform> sim = engine.sim;
    std::shared_ptr<EngineContext> context = engine.context;
    std::unique_ptr<TempDir> dir;
    std::shared_ptr<Journal> journal;
    double periodMs = 100;
    std::vector<LimiterStatus> published;
    std::mutex publishedLock;

private:
    std::vector<std::shared_ptr<AppLimiter>> limiters_;
};

}  // namespace trevlin::test
