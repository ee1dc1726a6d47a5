// Per-process facts every part of the engine asks for, and the monotonic
// clock. Thin, stateless wrappers over the installed platform: safe to call
// from any thread, no per-process caching.
#pragma once

#include "Platform/Platform.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace trevlin {

/// Monotonic seconds (platform ticks × seconds per tick). Only differences mean anything.
double now();
/// Length of one platform tick in seconds.
double secondsPerTick();
/// The program's own pid.
Pid myPid();
/// Every live pid above 0, in listing order.
std::vector<Pid> allPids();
/// The responsible process of `pid`, or `pid` itself when unknown.
Pid owner(Pid pid);
/// Full path of the executable, "" when unreadable.
std::string exePath(Pid pid);
/// The flattened command line, "" when unreadable.
std::string commandLine(Pid pid);
/// Start time in microseconds since the epoch; absent for a dead or zombie process.
std::optional<uint64_t> processStartTime(Pid pid);
/// Whether `pid` still names the live process that started at `start`
/// (the check before signalling a process remembered from earlier).
bool isSameProcess(Pid pid, uint64_t start);
/// The limiter's reading of a process; absent when it cannot be read.
std::optional<Sample> readSample(Pid pid);
/// Sleeps `seconds` on the monotonic clock, giving up early once `until()`
/// holds. A duration of 0 or less returns at once without evaluating `until`.
void sleepSeconds(double seconds, const std::function<bool()>& until);
/// Converts seconds to platform ticks (rounded to the nearest tick, never negative).
uint64_t ticksFromSeconds(double seconds);

/// Last path component of `path` ("" for "").
std::string lastPathComponent(const std::string& path);
/// `name` without its final extension ("Example.desktop" → "Example").
std::string deletingPathExtension(const std::string& name);

}  // namespace trevlin
