// What both loops of one limiter thread (the duty cycle and pause mode)
// work with: the app, its scanner, its process records, the clock, and the
// way back to the limiter's shared state. It lives as long as the thread.
#pragma once

#include "AppCatalog.h"
#include "EngineContext.h"
#include "LimiterShared.h"
#include "LimiterStatus.h"
#include "ProcessRecords.h"
#include "ProcessUtil.h"
#include "SavingsEstimate.h"

#include <functional>
#include <optional>
#include <vector>

namespace trevlin {

class LoopContext {
public:
    using StatusCallback = std::function<void(const LimiterStatus&)>;
    using TargetProvider = std::function<std::vector<Pid>()>;

    LoopContext(EngineContext& engine, LimiterShared& limiter, AppMatch match, Journal& journal,
                TargetProvider customTargets, StatusCallback onStatus);

    EngineContext& context;
    Platform& platform;
    LimiterShared& shared;
    const AppMatch app;
    AppScanner scanner;
    ProcessRecords records;
    SystemBusySampler busy;
    const int logicalCores;
    /// When the thread started (monotonic seconds).
    const double startTime;
    /// When the last status was published.
    double lastStatus;

    double now();
    /// The app's live pids, each once, in listing order.
    std::vector<Pid> scan();
    /// When a scan last found a process of the app (the thread's start at first).
    double lastSeenProcess() const { return lastSeenProcess_; }

    /// One reading of a target process.
    struct Sampled {
        ProcessRecord* record;
        bool fresh;    ///< a new record: nothing else happens to it this tick
        double delta;  ///< CPU seconds since the previous reading (0 when fresh)
    };
    /// Reads a target: refreshes its record, or adopts a fresh one for a new
    /// process or a reused pid. Absent when the process cannot be read (gone).
    std::optional<Sampled> sample(Pid pid);

    /// Stores the status and reports it.
    void publish(const LimiterStatus& status);
    /// Sleeps to a deadline on the monotonic clock; true when woken to quit.
    bool sleepUntil(double deadline);

private:
    ProcessRecord freshRecord(Pid pid, const Sample& s);

    const StatusCallback onStatus_;
    double lastSeenProcess_;
};

}  // namespace trevlin
