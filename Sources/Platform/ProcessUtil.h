// Per-process facts every part of the engine asks for, and the monotonic
// clock. Thin, stateless wrappers over a platform: safe to call from any
// thread, no per-process caching.
#pragma once

#include "Paths.h"
#include "Platform.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace trevlin {

/// What the limiter reads of a process each cycle.
struct Sample {
    double cpu = 0;                     ///< cumulative user + system CPU seconds
    uint64_t start = 0;                 ///< start time, microseconds since the epoch
    int32_t priority = kNormalPriority; ///< see `ProcessFacts::priority`
    bool stopped = false;               ///< see `ProcessFacts::stopped`
};

/// Monotonic seconds (platform ticks × seconds per tick). Only differences mean anything.
double now(Platform& platform);
/// Length of one platform tick in seconds.
double secondsPerTick(Platform& platform);
/// The program's own pid.
Pid myPid(Platform& platform);
/// Every live pid above 0, in listing order.
std::vector<Pid> allPids(Platform& platform);
/// The responsible process of `pid`, or `pid` itself when unknown.
Pid owner(Platform& platform, Pid pid);
/// Full path of the executable, "" when unreadable.
std::string exePath(Platform& platform, Pid pid);
/// The flattened command line, "" when unreadable.
std::string commandLine(Platform& platform, Pid pid);
/// Start time in microseconds since the epoch; absent for a dead or zombie process.
std::optional<uint64_t> processStartTime(Platform& platform, Pid pid);
/// Whether `pid` still names the live process that started at `start`
/// (the check before signalling a process remembered from earlier).
bool isSameProcess(Platform& platform, Pid pid, uint64_t start);
/// The limiter's reading of a process; absent when it cannot be read or is a zombie.
std::optional<Sample> readSample(Platform& platform, Pid pid);
/// Sleeps `seconds` on the monotonic clock, giving up early once `until()`
/// holds. A duration of 0 or less returns at once without evaluating `until`.
void sleepSeconds(Platform& platform, double seconds, const std::function<bool()>& until);
/// Converts seconds to platform ticks (rounded to the nearest tick, never negative).
uint64_t ticksFromSeconds(Platform& platform, double seconds);


}  // namespace trevlin
