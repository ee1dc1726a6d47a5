// The engine's sampler. Once a second, on its own serial queue, it reads the
// busy time of every core and the CPU time of every process, attributes the
// differences to app rows, command-line groups and "Other / system",
// publishes a `MonitorSnapshot` and appends a point to its history.
//
// While nothing of the interface is on screen (`setLightweight(true)`), the
// per-process pass runs only every 5 s; the ticks in between repeat the rows
// of the last pass and only "Other / system" follows the fresh core loads.
#pragma once

#include "CpuLedger.h"
#include "EngineContext.h"
#include "MonitorHistory.h"
#include "MonitorTypes.h"
#include "ProcessGrouping.h"
#include "SerialQueue.h"
#include "SystemInfo.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace trevlin {

/// What the monitor remembers of one process between passes.
struct ProcRec {
    uint64_t start = 0;      ///< start identity of the process behind the pid
    CpuLedger cpu;           ///< its CPU and its children's, as counted so far
    uint64_t lastP = 0;      ///< its own CPU on performance cores at the previous read, platform ticks
    Pid parent = 0;          ///< its parent at the previous read
    bool ended = false;      ///< a zombie at the previous read: it runs no more
    std::optional<std::string> group;  ///< row key, absent when unresolved
    double firstSeen = 0;              ///< `now()` when the process was first read
    double groupChecked = 0;           ///< `now()` when `group` was last resolved
    std::string prog;                  ///< executable name, for command-line groups
    std::string exe;                   ///< executable path when last resolved
    Pid owner = 0;                     ///< responsible process when last asked (0 = unknown)
};

class Monitor {
public:
    using SnapshotHandler = std::function<void(const MonitorSnapshot&)>;
    using SavedProvider = std::function<double()>;

    /// Seconds between ticks.
    static constexpr double tickInterval = 1.0;
    /// Seconds between per-process passes in lightweight mode.
    static constexpr double lightweightPassInterval = 5.0;
    /// How long a pid whose counters could not be read is skipped.
    static constexpr double deniedSeconds = 30.0;

    /// A monitor over `context`, for the machine `info` describes.
    Monitor(std::shared_ptr<EngineContext> context, SystemInfo info);
    /// Stops the timer and waits for a running tick. Never destroy the
    /// monitor from its own snapshot handler.
    ~Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    /// Called once per tick, on the monitor's queue. Set before `start()`.
    void setOnSnapshot(SnapshotHandler handler);

    /// Starts the front app tracker, lays down the baselines of every counter and starts the
    /// tick timer (first tick 1 s later). Starting twice is harmless.
    /// With `timer` false everything but the timer happens; ticks are then
    /// driven with `tickNow()` (tests, one-shot tools).
    void start(bool timer = true);
    /// Cancels the timer; the history stays.
    void stop();
    bool isRunning();
    /// Runs one tick now on the monitor's queue and returns when it is done.
    void tickNow();

    std::optional<MonitorSnapshot> latest();
    /// Pids attributed to some row by the latest per-process pass.
    std::unordered_set<Pid> countedPids();

    std::set<std::string> hiddenAppPaths();
    void setHiddenAppPaths(std::set<std::string> paths);
    std::set<std::string> extraAppPaths();
    void setExtraAppPaths(std::set<std::string> paths);
    bool lightweight();
    void setLightweight(bool on);
    /// Cores currently held back by limiting; sampled once per tick.
    void setSavedProvider(SavedProvider provider);

    MonitorHistory history();
    MonitorHistory history(int last, const std::optional<std::vector<std::string>>& appKeys);
    SystemSamples systemSamples(int64_t after, int maxCount);
    std::optional<HistoryPoint> historyPoint(int secondsAgo, int top);
    int64_t historyTick();

    const SystemInfo& systemInfo() const { return systemInfo_; }

private:
    struct CoreReading {
        std::vector<CoreLoad> loads;
        double total = 0, p = 0, e = 0;
    };

    // All of these run on the queue.
    void tick();
    CoreReading readCoreLoads();
    std::unordered_map<std::string, Acc> perProcessPass();
    std::vector<AppUsage> fullPassRows(double dt);
    void resolveGroup(Pid pid, ProcRec& rec, bool known, double t);

    const std::shared_ptr<EngineContext> context_;
    Platform& platform_;
    const SystemInfo systemInfo_;

    std::mutex lock_;  // guards the fields below up to the queue-only ones
    SnapshotHandler onSnapshot_;
    std::set<std::string> hiddenAppPaths_;
    std::set<std::string> extraAppPaths_;
    bool lightweight_ = false;
    SavedProvider savedProvider_;
    std::optional<MonitorSnapshot> latest_;
    std::unordered_set<Pid> counted_;
    HistoryRecorder history_;

    // Touched only on the queue.
    std::unordered_map<Pid, ProcRec> recs_;
    std::unordered_map<Pid, double> denied_;
    std::vector<CoreTicks> lastCPUTicks_;
    double lastFullTime_ = 0;
    /// The pids the previous pass listed, ascending; empty before the first.
    std::vector<Pid> lastListed_;
    std::vector<AppUsage> cachedApps_;
    ProcessGrouping grouping_;
    std::unordered_set<Pid> alive_;

    // Last member: destroyed first, so no tick runs while the rest goes.
    std::unique_ptr<SerialQueue> queue_;
};

}  // namespace trevlin
