#include "RunningApps.h"

#include "ProcessUtil.h"

#include <map>
#include <mutex>
#include <unordered_set>

namespace trevlin::RunningApps {

namespace {

struct Entry {
    std::optional<RunningAppInfo> info;
    double firstSeen = 0;
    double lookedUp = 0;
};

std::mutex gLock;
std::map<Pid, Entry> gEntries;
std::vector<RunningAppInfo> gList;
double gLastRefresh = 0;

std::vector<RunningAppInfo> refreshLocked(double t, const std::vector<Pid>& pids) {
    std::unordered_set<Pid> listed(pids.begin(), pids.end());
    auto& p = platform();
    for (Pid pid : pids) {
        auto it = gEntries.find(pid);
        if (it == gEntries.end()) {
            gEntries[pid] = Entry{p.lookupApp(pid), t, t};
        } else if (!it->second.info && t - it->second.firstSeen < 30.0 && t - it->second.lookedUp >= 2.0) {
            it->second.info = p.lookupApp(pid);
            it->second.lookedUp = t;
        }
    }
    for (auto it = gEntries.begin(); it != gEntries.end();) {
        if (!listed.count(it->first)) it = gEntries.erase(it);
        else ++it;
    }
    gList.clear();
    for (auto& [pid, e] : gEntries)
        if (e.info) gList.push_back(*e.info);
    gLastRefresh = t;
    return gList;
}

}  // namespace

std::vector<RunningAppInfo> all(double maxAge) {
    std::lock_guard<std::mutex> g(gLock);
    const double t = now();
    if (gLastRefresh > 0 && t - gLastRefresh < maxAge) return gList;
    return refreshLocked(t, allPids());
}

std::vector<RunningAppInfo> all(double maxAge, const std::vector<Pid>& livePids) {
    std::lock_guard<std::mutex> g(gLock);
    const double t = now();
    if (gLastRefresh > 0 && t - gLastRefresh < maxAge) return gList;
    return refreshLocked(t, livePids);
}

void resetForTesting() {
    std::lock_guard<std::mutex> g(gLock);
    gEntries.clear();
    gList.clear();
    gLastRefresh = 0;
}

}  // namespace trevlin::RunningApps
