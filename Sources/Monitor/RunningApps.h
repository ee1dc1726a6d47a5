// The processes the desktop registers as applications, looked up once per
// pid (and, for a pid that is not an app yet, again at most every 2 s during
// its first 30 s), rebuilt at most once per `maxAge`.
#pragma once

#include "Platform.h"

#include <map>
#include <mutex>
#include <vector>

namespace trevlin {

class RunningApps {
public:
    explicit RunningApps(Platform& platform) : platform_(platform) {}
    RunningApps(const RunningApps&) = delete;
    RunningApps& operator=(const RunningApps&) = delete;

    /// Every running application, at most `maxAge` seconds old.
    std::vector<RunningAppInfo> all(double maxAge);
    /// The same, taking the live pids from a listing the caller just made
    /// (saves listing every process twice).
    std::vector<RunningAppInfo> all(double maxAge, const std::vector<Pid>& livePids);

private:
    struct Entry {
        std::optional<RunningAppInfo> info;
        double firstSeen = 0;
        double lookedUp = 0;
    };
    std::vector<RunningAppInfo> refreshLocked(double t, const std::vector<Pid>& pids);

    Platform& platform_;
    std::mutex lock_;  // guards everything below
    std::map<Pid, Entry> entries_;
    std::vector<RunningAppInfo> list_;
    double lastRefresh_ = 0;
};

}  // namespace trevlin
