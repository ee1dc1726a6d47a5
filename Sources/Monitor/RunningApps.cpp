#include "RunningApps.h"

#include "ProcessUtil.h"

#include <unordered_set>

namespace trevlin {

namespace {

// Looking a pid up costs a cgroup read and a walk of its unit, so a process
// that is no app when first seen is looked at again only while it may still
// become one: the desktop (or snapd) moves a new app into its unit within
// moments of starting it, so one that is still no app after half a minute is
// taken to be a plain process for good.
constexpr double kRegistrationWindowSeconds = 30.0;
constexpr double kLookAgainSeconds = 2.0;

}  // namespace

std::vector<RunningAppInfo> RunningApps::refreshLocked(double t, const std::vector<Pid>& pids) {
    std::unordered_set<Pid> listed(pids.begin(), pids.end());
    for (Pid pid : pids) {
        auto it = entries_.find(pid);
        if (it == entries_.end()) {
            entries_[pid] = Entry{platform_.lookupApp(pid), t, t};
        } else if (!it->second.info && t - it->second.firstSeen < kRegistrationWindowSeconds &&
                   t - it->second.lookedUp >= kLookAgainSeconds) {
            it->second.info = platform_.lookupApp(pid);
            it->second.lookedUp = t;
        }
    }
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (!listed.count(it->first)) it = entries_.erase(it);
        else ++it;
    }
    list_.clear();
    for (auto& [pid, e] : entries_)
        if (e.info) list_.push_back(*e.info);
    lastRefresh_ = t;
    return list_;
}

std::vector<RunningAppInfo> RunningApps::all(double maxAge) {
    std::lock_guard<std::mutex> g(lock_);
    const double t = now(platform_);
    if (lastRefresh_ > 0 && t - lastRefresh_ < maxAge) return list_;
    return refreshLocked(t, platform_.allPids());
}

std::vector<RunningAppInfo> RunningApps::all(double maxAge, const std::vector<Pid>& livePids) {
    std::lock_guard<std::mutex> g(lock_);
    const double t = now(platform_);
    if (lastRefresh_ > 0 && t - lastRefresh_ < maxAge) return list_;
    return refreshLocked(t, livePids);
}

}  // namespace trevlin
