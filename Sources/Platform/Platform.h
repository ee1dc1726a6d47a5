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

#include "FrontApp.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
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

/// The scheduling-priority scale of `ProcessFacts::priority` (0..63). The
/// limiter's rules are written in it: a process below
/// `kBackgroundPriorityLimit` does background work, which may be moved to the
/// efficiency cores even while its app is in front.
inline constexpr int32_t kNormalPriority = 31;
inline constexpr int32_t kBackgroundPriorityLimit = 11;

/// What Linux tells of one process, read together: its stat file once, and
/// whatever the caller asks for beyond it (each extra costs more reads, and
/// the monitor reads every process every second).
struct ProcessFacts {
    uint64_t start = 0;        ///< start time, µs since the Unix epoch; with the pid it names the process
    bool zombie = false;       ///< it has exited and waits to be reaped: it runs no more
    /// Stopped: by a signal (job control, SIGSTOP) or by a tracer.
    bool stopped = false;
    uint64_t cpuTicks = 0;     ///< cumulative user + system CPU time, in platform ticks
    int32_t priority = kNormalPriority;  ///< scheduling priority on the scale above
    /// The part of `cpuTicks` spent on performance cores; only when asked for.
    std::optional<uint64_t> perfTicks;
    /// The real user id; only when asked for (absent when unreadable).
    std::optional<uint32_t> uid;
    /// A job-control stop signal (SIGTSTP, SIGTTIN, SIGTTOU: Ctrl-Z and its
    /// kin) waits to be taken: a stopped process keeps those until it is
    /// continued, and a SIGCONT discards them. SIGSTOP does not count: a
    /// SIGSTOP sent to a process that waits for a core also waits there until
    /// it runs. Only when asked for (absent when unreadable).
    std::optional<bool> stopPending;
    /// The kernel's name of the process (its executable's file name, cut to
    /// 15 bytes; a kernel thread's own name); only when asked for.
    std::string taskName;
    /// Cumulative user + system CPU time of the children it has reaped
    /// (each child's whole life, with what that child had reaped in turn),
    /// in platform ticks. Grows when the process waits for a child.
    uint64_t childTicks = 0;
    /// The parent process; 0 when unknown.
    Pid parent = 0;
};

/// What to read beyond the stat file.
struct FactsWanted {
    bool perfShare = false;  ///< on a machine with two kinds of core: one stat read per thread
    bool uid = false;        ///< one read of the status file
    bool stopPending = false;  ///< one read of the status file
    bool taskName = false;   ///< from the stat file, no extra read
};

/// Why an app is busy even when it uses no CPU to speak of. Audio is the
/// stronger reason: an app that plays audio is also keeping the computer
/// awake, and the user would hear it stop.
enum class BusyReason { keepingAwake, playingAudio };

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
    /// The facts of a process, with the extras in `wanted`; absent when it
    /// is gone or cannot be read. A zombie has facts (`zombie` set).
    virtual std::optional<ProcessFacts> processFacts(Pid pid, FactsWanted wanted) = 0;
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
    /// Starts watching the front app. `onChange` is called with each new
    /// answer (an activated app's pid, none, or unknown), from whatever
    /// thread notices it. Returns the current answer. Without a graphical
    /// session nothing can be in front: none.
    virtual FrontApp startFrontTracking(std::function<void(FrontApp)> onChange) = 0;
    /// While the front app is unknown: why, as a phrase completing "It is …";
    /// empty while it is known.
    virtual std::string frontUnknownReason() = 0;
    /// Whether any of `pids` plays audio or keeps the computer awake (audio
    /// wins when both hold); absent when none does or nothing can tell.
    virtual std::optional<BusyReason> busyReason(const std::set<Pid>& pids) = 0;

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
