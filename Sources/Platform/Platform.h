// The platform layer: everything the engine asks of the operating system.
//
// The engine never touches /proc, /sys, signals, the desktop or the clock
// directly; it goes through the `Platform` of the `EngineContext` it was
// given. `LinuxPlatform` is the real system; the tests bring a simulated one
// (fake processes on a virtual clock) of their own.
//
// Every query is total: a failure gives the neutral value documented on the
// method (an empty string, an empty list, an absent value), never an error.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace trevlin {

using Pid = int32_t;

/// One core's cumulative tick counters, in index order of the cores.
struct CoreTicks {
    uint64_t user = 0;
    uint64_t system = 0;
    uint64_t idle = 0;
    uint64_t nice = 0;
    bool operator==(const CoreTicks&) const = default;
};

/// Identity facts of a live process (the "BSD info").
struct ProcessIdentity {
    uint64_t start = 0;   ///< start time, microseconds since the Unix epoch
    uint32_t uid = 0;     ///< real user id
    bool zombie = false;  ///< the process has exited and waits to be reaped
};

/// What the monitor reads of a process each full pass. CPU figures are
/// cumulative, in platform ticks (see `Platform::secondsPerTick`).
struct ProcessUsage {
    uint64_t start = 0;        ///< start identity (microseconds since the epoch)
    uint64_t totalTicks = 0;   ///< user + system CPU time
    uint64_t perfTicks = 0;    ///< the part of it spent on performance cores
};

/// What the limiter reads of a process each cycle.
struct Sample {
    double cpu = 0;          ///< cumulative user + system CPU seconds
    uint64_t start = 0;      ///< start time, microseconds since the epoch
    int32_t priority = 31;   ///< scheduler priority on the 0..63 scale (31 normal, below 11 background)
};

enum class ActivationPolicy { regular = 0, accessory = 1, prohibited = 2 };

/// A process that the desktop knows as an application.
struct RunningAppInfo {
    Pid pid = 0;
    std::optional<std::string> bundlePath;
    std::optional<std::string> name;
    std::optional<std::string> bundleID;
    ActivationPolicy policy = ActivationPolicy::regular;
    bool operator==(const RunningAppInfo&) const = default;
};

/// One "keep awake" or audio assertion held by a process. Audio played on
/// behalf of an app is reported as held by the sound server with the app's
/// pid in `onBehalfOf` and a name starting with `PowerAssertion::audioPrefix`.
struct PowerAssertion {
    Pid holder = 0;
    std::string type;
    std::optional<int64_t> level;  ///< absent counts as held
    std::string name;
    Pid onBehalfOf = 0;
    static constexpr const char* audioPrefix = "com.apple.audio";
};

/// Processor facts as the system reports them; `SystemInfo` turns them into
/// counts and per-core kinds.
struct MachineFacts {
    std::optional<std::string> chipName;
    std::optional<int> logicalCores;
    std::optional<int> efficiencyCores;
    std::optional<int> performanceCores;
    /// Per-core kinds as the system describes them (true = efficiency),
    /// keyed by core number; absent when nothing tells the kinds apart.
    std::optional<std::vector<std::pair<int, bool>>> coreIsEfficiency;
};

/// What process start times are counted from. Linux gives a process's start
/// relative to boot; the wall-clock time of the boot is added to it, and that
/// time moves when the clock is stepped. Another run may therefore see the
/// same process start a little earlier or later, and compares with this.
struct StartClock {
    /// Identifies the boot; empty when unknown.
    std::string bootId;
    /// The wall-clock time of boot, µs since 1970, that start times include.
    uint64_t bootMicros = 0;
};

class Platform {
public:
    virtual ~Platform() = default;

    // Clock -----------------------------------------------------------------
    /// Monotonic clock in ticks.
    virtual uint64_t monotonicTicks() = 0;
    /// Length of one tick in seconds.
    virtual double secondsPerTick() = 0;
    /// Wall-clock time, seconds since 1970.
    virtual double wallClock() = 0;
    /// Waits until the monotonic clock reaches `deadlineTicks` or `ready()`
    /// holds, whichever comes first. `ready` is evaluated before waiting and
    /// again after every `notifyWaiters()`. Returns whether `ready()` held.
    virtual bool waitUntil(uint64_t deadlineTicks, const std::function<bool()>& ready) = 0;
    /// Wakes every `waitUntil` so that it re-evaluates its condition.
    virtual void notifyWaiters() = 0;

    // Processes -------------------------------------------------------------
    virtual Pid myPid() = 0;
    virtual uint32_t myUid() = 0;
    /// Every live pid above 0, in listing order.
    virtual std::vector<Pid> allPids() = 0;
    /// The process responsible for `pid`; 0 when unknown.
    virtual Pid responsiblePid(Pid pid) = 0;
    /// Executable path, "" when unreadable.
    virtual std::string exePath(Pid pid) = 0;
    /// Flattened command line (executable, then arguments, separated by
    /// spaces), "" when unreadable.
    virtual std::string commandLine(Pid pid) = 0;
    virtual std::optional<ProcessIdentity> identity(Pid pid) = 0;
    virtual std::optional<ProcessUsage> usage(Pid pid) = 0;
    virtual std::optional<Sample> sample(Pid pid) = 0;
    /// What this run's start times are counted from; unknown by default.
    virtual StartClock startClock() { return {}; }
    /// Sends a signal; returns 0 or the errno of the failure.
    virtual int sendSignal(Pid pid, int signal) = 0;
    /// Moves every thread of `pid` to the efficiency cores; false on failure.
    virtual bool demote(Pid pid) = 0;
    /// Moves every thread of `pid` back onto all cores; false on failure.
    virtual bool promote(Pid pid) = 0;

    // Machine ---------------------------------------------------------------
    /// Per-core tick counters, absent when unreadable.
    virtual std::optional<std::vector<CoreTicks>> coreTicks() = 0;
    virtual MachineFacts machineFacts() = 0;
    /// Number of online logical cores (at least 1).
    virtual int activeCores() = 0;

    // Desktop ---------------------------------------------------------------
    /// The application registered for `pid`, absent when it is none.
    virtual std::optional<RunningAppInfo> lookupApp(Pid pid) = 0;
    /// Starts watching the front app. `onChange` is called with each newly
    /// activated app's pid, from whatever thread notices it. Returns the
    /// current front pid (0 when unknown).
    virtual Pid startFrontTracking(std::function<void(Pid)> onChange) = 0;
    /// Every power and audio assertion, absent when they cannot be read.
    virtual std::optional<std::vector<PowerAssertion>> powerAssertions() = 0;

    // Files -----------------------------------------------------------------
    /// The per-user data folder (settings, savings, journals).
    virtual std::string dataDirectory() = 0;
    /// The program's own bundle path (never listed as an app row).
    virtual std::string ownBundlePath() = 0;
};

/// The file-name ending that marks an application bundle. A desktop entry
/// plays the part of a bundle here: an app's key is its `.desktop` path.
inline constexpr const char* kBundleMarker = ".desktop";

}  // namespace trevlin
