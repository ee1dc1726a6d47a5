// The processes the desktop registers as applications, looked up once per
// pid (and, for a pid that is not an app yet, again at most every 2 s during
// its first 30 s), rebuilt at most once per `maxAge`.
#pragma once

#include "Platform/Platform.h"

#include <vector>

namespace trevlin {

namespace RunningApps {
/// Every running application, at most `maxAge` seconds old.
std::vector<RunningAppInfo> all(double maxAge);
/// The same, taking the live pids from a listing the caller just made
/// (saves listing every process twice).
std::vector<RunningAppInfo> all(double maxAge, const std::vector<Pid>& livePids);
/// Drops every cached entry (tests that swap platforms).
void resetForTesting();
}  // namespace RunningApps

}  // namespace trevlin
