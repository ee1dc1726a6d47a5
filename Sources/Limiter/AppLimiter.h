// Holds one app (or one command-line group) back under its rule, on a
// thread of its own.
//
// The thread (`LimiterLoop`) finds the app's processes with an `AppScanner`,
// measures each from the kernel and enforces the rule with four tools only:
// SIGSTOP and SIGCONT (a duty cycle for a core cap, a long hold for pause
// mode), moving a process to the efficiency cores and back, the write-ahead
// journal (written and flushed before anything is stopped or moved), and a
// `LimiterStatus` published once a second. The parts:
//   - `DutyController`: the run fraction and gain, pure arithmetic;
//   - `ProcessRecords`: the records, the journal-before-signal rule and the
//     one way to let a process go;
//   - `PauseMachine`: pause mode's states;
//   - `DutyCycle` and `PauseLoop`: the two loops over them;
//   - `LimiterTuning`: the numbers.
//
// What the thread shares with other threads lives in `LimiterShared`, under
// a lock that is never held while calling into the journal, sending a
// signal or calling back.
//
// A limiter given a sleep handler ends its thread once its app has had no
// process for a few seconds, and costs nothing until someone (the manager's
// `LimiterWaker`) sees the app's processes in the shared process table and
// wakes it: a rule for an app that is not running holds no thread.
#pragma once

#include "AppCatalog.h"
#include "EngineContext.h"
#include "Journal.h"
#include "LimiterShared.h"
#include "LimiterStatus.h"
#include "ProcessTable.h"
#include "Rule.h"
#include "Semaphore.h"

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace trevlin {

class AppLimiter : public std::enable_shared_from_this<AppLimiter> {
public:
    using StatusCallback = std::function<void(const LimiterStatus&)>;
    using TargetProvider = std::function<std::vector<Pid>()>;

    /// A limiter for `app` under `rule`, not started. `periodMs` is read at
    /// the top of every cycle; `onStatus` is called after each published
    /// status; `customTargets`, when set, replaces scanning for the app's pids.
    static std::shared_ptr<AppLimiter> make(std::shared_ptr<EngineContext> context, AppMatch app, Rule rule,
                                            std::shared_ptr<Journal> journal, std::function<double()> periodMs,
                                            StatusCallback onStatus = {}, TargetProvider customTargets = {});
    ~AppLimiter();
    AppLimiter(const AppLimiter&) = delete;
    AppLimiter& operator=(const AppLimiter&) = delete;

    const AppMatch& app() const { return app_; }

    /// Starts the thread.
    void start();
    /// Starts without a thread, as when the app has no process: the status
    /// says "not running" until `wake()`.
    void startAsleep();
    /// Called on the limiter's thread once it has gone to sleep; without one
    /// the thread runs until stopped.
    void setSleepHandler(std::function<void(std::shared_ptr<AppLimiter>)> handler);
    /// False only when the app has no process in `snapshot`.
    bool mayHaveProcesses(const ProcessSnapshot& snapshot) const { return probe_.mayHaveProcesses(snapshot); }
    /// Starts the thread of a sleeping limiter; false when it does not sleep
    /// (running, stopping or stopped).
    bool wake();
    bool asleep();

    /// Asks the thread to finish; returns at once.
    void requestStop();
    /// Waits until the thread has restored every process and ended, or the
    /// monotonic clock reaches `deadline` (seconds), then leaves the
    /// front-app tracker; true when the thread ended. A thread still running
    /// restores its processes when it gets there.
    bool waitStopped(double deadline);
    /// Both, waiting up to 5 s, then leaves the front-app tracker.
    void stop();

    /// Replaces the rule; the thread adapts at its next cycle.
    void setRule(const Rule& rule);
    Rule rule() { return shared_.rule(); }
    /// The last published status.
    LimiterStatus status() { return shared_.status(); }
    /// Sets the status shown before the first one is published.
    void setStatus(const LimiterStatus& status) { shared_.setStatus(status); }

private:
    AppLimiter(std::shared_ptr<EngineContext> context, AppMatch app, Rule rule, std::shared_ptr<Journal> journal,
               std::function<double()> periodMs, StatusCallback onStatus, TargetProvider customTargets);

    enum class Phase { created, running, asleep, ended };

    /// Starts the thread; `lifeLock_` is held.
    void launchLocked();
    void threadMain();
    /// The loop; true when it ended to sleep.
    bool run();
    void frontChanged(FrontApp front);
    void leaveFrontTracker();
    /// The status of a limiter whose app has no process.
    LimiterStatus idleStatus(const Rule& rule) const;

    const std::shared_ptr<EngineContext> context_;
    const AppMatch app_;
    const std::function<double()> periodMs_;
    const StatusCallback onStatus_;
    const std::shared_ptr<Journal> journal_;
    const TargetProvider customTargets_;

    /// Answers `mayHaveProcesses` from the key alone; the thread scans with
    /// a scanner of its own.
    AppScanner probe_;

    LimiterShared shared_;
    std::mutex lifeLock_;  // guards the three fields below
    Phase phase_ = Phase::created;
    int frontObserver_ = 0;
    std::function<void(std::shared_ptr<AppLimiter>)> sleepHandler_;

    Semaphore wake_{context_->platform()};
};

}  // namespace trevlin
