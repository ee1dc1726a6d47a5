// Holds one app (or one command-line group) back under its rule, on a
// thread of its own.
//
// The thread finds the app's processes with an `AppScanner`, measures each
// from the kernel and enforces the rule with four tools only: SIGSTOP and
// SIGCONT (a duty cycle for a core cap, a long hold for pause mode), moving a
// process to the efficiency cores and back, the write-ahead journal (written
// and flushed before anything is stopped or moved), and a `LimiterStatus`
// published once a second.
//
// Locking: `lock_` guards the rule, the quit flag, the published status, the
// held pids and the front set. It is never held while calling into the
// journal, sending a signal or calling back.
#pragma once

#include "AppCatalog.h"
#include "EngineContext.h"
#include "Journal.h"
#include "LimiterStatus.h"
#include "Rule.h"
#include "Semaphore.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace trevlin {

class AppLimiter : public std::enable_shared_from_this<AppLimiter> {
public:
    /// The limiter's record of one process; only the limiter thread touches it.
    struct Proc {
        uint64_t start = 0;        ///< start time in µs: identity against pid reuse
        double lastCPU = 0;        ///< cumulative CPU seconds at the last sample
        Role role;
        Pid owner = 0;             ///< itself when main, else its responsible process
        int32_t priority = 31;
        double demand = 0;         ///< smoothed use while running, cores
        int freeN = 0;             ///< samples taken while the app ran unthrottled
        double free = 0;           ///< mean use while unthrottled, cores
        double demandHi = 0;       ///< slowly decaying peak of demand
        double usage = 0;          ///< smoothed use over wall time, cores
        bool paused = false;       ///< stopped by this limiter right now
        bool pauseManaged = false; ///< under stop/continue control (journaled as paused)
        bool demoted = false;      ///< moved to the efficiency cores by this limiter
        bool pinned = false;       ///< demoted because of `alwaysEfficiency`
        double demandWhenDemoted = 0;
        int quietTicks = 0;
    };

    using StatusCallback = std::function<void(const LimiterStatus&)>;
    using TargetProvider = std::function<std::vector<Pid>()>;

    /// A limiter for `app` under `rule`, not started. `periodMs` is read at
    /// the top of every cycle; `onStatus` is called after each published
    /// status; `customTargets`, when set, replaces scanning for the app's pids.
    static std::shared_ptr<AppLimiter> make(std::shared_ptr<EngineContext> context, AppMatch app, Rule rule, std::shared_ptr<Journal> journal,
                                            std::function<double()> periodMs, StatusCallback onStatus = {},
                                            TargetProvider customTargets = {});
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
    Rule rule();
    /// The last published status.
    LimiterStatus status();
    /// Sets the status shown before the first one is published.
    void setStatus(const LimiterStatus& status);

private:
    friend class LimiterLoop;

    AppLimiter(std::shared_ptr<EngineContext> context, AppMatch app, Rule rule, std::shared_ptr<Journal> journal, std::function<double()> periodMs,
               StatusCallback onStatus, TargetProvider customTargets);

    void run();
    void frontChanged(Pid pid);
    void publish(const LimiterStatus& status);
    bool quitRequested();

    const std::shared_ptr<EngineContext> context_;
    const AppMatch app_;
    const std::function<double()> periodMs_;
    const StatusCallback onStatus_;
    const std::shared_ptr<Journal> journal_;
    const TargetProvider customTargets_;

    std::mutex lock_;
    Rule rule_;
    bool quitFlag_ = false;
    LimiterStatus status_;
    /// Pause mode: the processes the hold stopped, with their start times.
    std::vector<std::pair<Pid, uint64_t>> heldPids_;
    /// Pause mode: every pid of the app and its main instances.
    std::set<Pid> frontSet_;
    int frontObserver_ = 0;
    /// Set when an activation continued held processes behind the loop's back.
    std::atomic<bool> frontContinued_{false};

    Semaphore done_{context_->platform()};
    Semaphore wake_{context_->platform()};
    std::atomic<bool> started_{false};
    std::atomic<bool> finished_{false};
};

}  // namespace trevlin
