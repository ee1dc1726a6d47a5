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
#pragma once

#include "AppCatalog.h"
#include "EngineContext.h"
#include "Journal.h"
#include "LimiterShared.h"
#include "LimiterStatus.h"
#include "Rule.h"
#include "Semaphore.h"

#include <atomic>
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

    /// Registers with the front-app tracker and starts the thread.
    void start();
    /// Asks the thread to finish, waits up to 5 s for it to restore every
    /// process, then leaves the front-app tracker.
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

    void run();
    void frontChanged(Pid pid);
    void leaveFrontTracker();

    const std::shared_ptr<EngineContext> context_;
    const AppMatch app_;
    const std::function<double()> periodMs_;
    const StatusCallback onStatus_;
    const std::shared_ptr<Journal> journal_;
    const TargetProvider customTargets_;

    LimiterShared shared_;
    std::mutex observerLock_;
    int frontObserver_ = 0;

    Semaphore done_{context_->platform()};
    Semaphore wake_{context_->platform()};
    std::atomic<bool> started_{false};
    std::atomic<bool> finished_{false};
};

}  // namespace trevlin
