// A platform made of fake processes on a virtual clock, for exact tests.
//
// Processes have pids, start times, executables, command lines, uids,
// responsible processes and a CPU demand in cores; their CPU counters advance
// with the virtual clock unless they are stopped (SIGSTOP, or SIGTSTP as a
// user's Ctrl-Z sends it) or zombies. Cores
// accumulate tick counters from the running demand. Apps, the front app and
// busy reasons are set by the test.
//
// Time moves in two ways:
//  - `advance(seconds)` from the test thread (single-threaded tests);
//  - threads that wait (`waitUntil`) move the clock to their deadline as long
//    as it is within the limit set by `runUntil(t)`; beyond it they park until
//    the limit moves. `runUntil` returns once the given number of threads are
//    parked, so a test sees the engine exactly at virtual time t.
#pragma once

#include "Platform.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

namespace trevlin {

struct SimProcess {
    Pid pid = 0;
    uint64_t start = 0;          ///< µs since the epoch
    std::string exe;
    std::string cmd;             ///< flattened command line; "" reads as unreadable
    uint32_t uid = 1000;
    Pid responsible = 0;         ///< 0: unknown
    int32_t priority = kNormalPriority;
    double demand = 0;           ///< cores it would use when running
    double perfShare = 1.0;      ///< share of its CPU on performance cores
    bool stopped = false;
    int stoppedBy = 0;           ///< the signal that stopped it (SIGSTOP, SIGTSTP, …)
    bool stopPending = false;    ///< a job-control stop that came while it was stopped, until SIGCONT
    bool zombie = false;
    bool demoted = false;
    bool unreadable = false;     ///< its facts cannot be read (another user's process where /proc hides them)
    double cpuSeconds = 0;       ///< cumulative CPU
    double perfSeconds = 0;
    Pid parent = 0;              ///< 0: unknown
    double childSeconds = 0;     ///< CPU of the children it reaped, with what they had reaped
};

class SimulatedPlatform : public Platform {
public:
    SimulatedPlatform();

    // Test controls ---------------------------------------------------------
    SimProcess& add(SimProcess p);
    /// Adds a process with the given pid, executable and demand; its command
    /// line is the executable and its start time derived from the pid.
    SimProcess& spawn(Pid pid, const std::string& exe, double demand = 0, Pid responsible = 0);
    void remove(Pid pid);
    /// Its parent waits for it: it goes, and its CPU with its children's is
    /// added to its parent's children time.
    void reap(Pid pid);
    bool has(Pid pid);
    SimProcess get(Pid pid);
    void setDemand(Pid pid, double cores);
    template <class F> void edit(Pid pid, F f) {
        std::lock_guard<std::mutex> g(lock_);
        auto it = procs_.find(pid);
        if (it != procs_.end()) f(it->second);
    }
    void setCores(int logical, std::vector<bool> efficiency = {});
    /// Extra busy cores outside every process (kernel, other users).
    void setExtraLoad(double cores);
    void setCoreTicksFail(bool fail);
    void setApp(RunningAppInfo info);
    void removeApp(Pid pid);
    /// Makes `pid` the front app and calls the tracking callback at once.
    void setFront(Pid pid);
    /// Makes the front app unknown, for `reason`, and calls the callback.
    void setFrontUnknown(std::string reason);
    /// The front pid; 0 while none or unknown.
    Pid front();
    /// Makes `pid` play audio or keep the computer awake; absent clears it.
    void setBusy(Pid pid, std::optional<BusyReason> reason);
    void setDataDirectory(std::string dir);
    void setMyPid(Pid pid);
    void setMyUid(uint32_t uid);
    void setMachineFacts(MachineFacts facts);
    void setWallClock(double seconds);

    /// Moves the virtual clock forward (CPU accrues), from the test thread.
    void advance(double seconds);
    /// Virtual time in seconds.
    double time();
    /// Lets waiting threads move the clock up to `seconds`, and returns once
    /// `parkedThreads` threads wait beyond it.
    void runUntil(double seconds, int parkedThreads = 1);
    /// Lets waiting threads run freely (the clock jumps to each deadline).
    void setFreeRunning(bool on);

    struct SignalRecord {
        Pid pid;
        int signal;
        double time;
    };
    std::vector<SignalRecord> signalLog();
    void clearSignals();
    int lookupCount();

    // Platform ----------------------------------------------------------------
    uint64_t monotonicTicks() override;
    double secondsPerTick() override { return 1e-9; }
    double wallClock() override;
    bool waitUntil(uint64_t deadlineTicks, const std::function<bool()>& ready) override;
    void notifyWaiters() override;
    Pid myPid() override;
    uint32_t myUid() override;
    std::vector<Pid> allPids() override;
    Pid responsiblePid(Pid pid) override;
    std::string exePath(Pid pid) override;
    std::string commandLine(Pid pid) override;
    std::optional<ProcessFacts> processFacts(Pid pid, FactsWanted wanted) override;
    int sendSignal(Pid pid, int signal) override;
    bool demote(Pid pid) override;
    bool promote(Pid pid) override;
    std::optional<std::vector<CoreTicks>> coreTicks() override;
    MachineFacts machineFacts() override;
    int activeCores() override;
    std::optional<RunningAppInfo> lookupApp(Pid pid) override;
    FrontApp startFrontTracking(std::function<void(FrontApp)> onChange) override;
    std::string frontUnknownReason() override;
    std::optional<BusyReason> busyReason(const std::set<Pid>& pids) override;
    std::string dataDirectory() override;
    std::string ownBundlePath() override { return "/usr/share/applications/app.trevlin.Trevlin.desktop"; }

private:
    void advanceLocked(uint64_t ticks);

    std::mutex lock_;
    std::condition_variable cv_;
    std::map<Pid, SimProcess> procs_;
    std::map<Pid, RunningAppInfo> apps_;
    uint64_t nowTicks_ = 1000000000ull;  // the clock starts at 1 s
    uint64_t limitTicks_ = 1000000000ull;
    bool freeRunning_ = false;
    uint64_t epoch_ = 0;
    struct Parked {
        uint64_t epoch;
    };
    std::map<uint64_t, Parked> parked_;
    uint64_t nextWaiter_ = 1;
    double wallBase_ = 1.7e9;
    int logical_ = 4;
    std::vector<bool> efficiency_;
    double extraLoad_ = 0;
    bool coreTicksFail_ = false;
    std::vector<double> coreBusy_;   // seconds per core
    std::vector<double> coreTotal_;  // seconds per core
    FrontApp front_ = FrontApp::none();
    std::string frontUnknownReason_;
    std::function<void(FrontApp)> frontCallback_;
    std::map<Pid, BusyReason> busy_;
    std::string dataDir_ = "/tmp/trevlin-sim";
    Pid myPid_ = 99999;
    uint32_t myUid_ = 1000;
    std::optional<MachineFacts> facts_;
    std::vector<SignalRecord> signals_;
    int lookups_ = 0;
};

}  // namespace trevlin
