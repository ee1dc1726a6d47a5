#include "ProcessTable.h"

#include "AppKey.h"
#include "BundlePaths.h"
#include "Launchers.h"
#include "ProcessUtil.h"
#include "RunningApps.h"

#include <algorithm>

namespace trevlin {

const MembershipFacts* ProcessSnapshot::facts(Pid pid) const {
    auto it = std::lower_bound(facts_.begin(), facts_.end(), pid,
                               [](const auto& entry, Pid p) { return entry.first < p; });
    return it != facts_.end() && it->first == pid ? it->second.get() : nullptr;
}

const std::string* ProcessSnapshot::launcherKey(Pid launcher) const {
    auto it = launcherKeys_.find(launcher);
    return it == launcherKeys_.end() ? nullptr : &it->second;
}

bool ProcessSnapshot::mayHaveAppProcesses(const std::string& bundle) const {
    // An executable can lie inside a bundle only when a bundle marker and a
    // slash follow in its path: only those are indexed (usually none), the
    // rest only for a key that is no bundle path.
    const bool isBundle = isBundlePath(bundle);
    std::call_once(pathsOnce_, [this] {
        const std::string inBundle = std::string(kBundleMarker) + "/";
        for (const auto& app : apps)
            if (app.bundlePath) paths_.push_back(*app.bundlePath);
        for (const auto& [pid, f] : facts_)
            if (f->exe.find(inBundle) != std::string::npos) paths_.push_back(f->exe);
        std::sort(paths_.begin(), paths_.end());
    });
    if (!isBundle) {
        std::call_once(allPathsOnce_, [this] {
            allPaths_ = paths_;
            for (const auto& [pid, f] : facts_)
                if (!f->exe.empty()) allPaths_.push_back(f->exe);
            std::sort(allPaths_.begin(), allPaths_.end());
        });
    }
    const auto& paths = isBundle ? paths_ : allPaths_;
    // The bundle itself (a running app registered at it) or anything inside
    // it sorts at or right after it.
    auto it = std::lower_bound(paths.begin(), paths.end(), std::string_view(bundle));
    if (it != paths.end() && *it == bundle) return true;
    const std::string inside = bundle + "/";
    it = std::lower_bound(paths.begin(), paths.end(), std::string_view(inside));
    return it != paths.end() && it->substr(0, inside.size()) == inside;
}

bool ProcessSnapshot::mayHaveGroupProcesses(const std::string& key) const {
    std::call_once(groupsOnce_, [this] {
        for (const auto& [pid, f] : facts_) {
            const Pid launcher = f->responsible;
            if (launcher <= 0 || launcher == pid || runningPids.count(pid)) continue;
            const std::string* group = launcherKey(launcher);
            if (!group) continue;
            // An executable inside a running app's bundle belongs to that app.
            if (auto bundle = enclosingBundle(f->exe); bundle && runningTops.count(*bundle)) continue;
            groups_.insert(*group);
        }
    });
    return groups_.count(key) != 0;
}

ProcessTable::ProcessTable(Platform& platform, RunningApps& runningApps)
    : platform_(platform), runningApps_(runningApps) {}

std::shared_ptr<const ProcessSnapshot> ProcessTable::snapshot() {
    std::lock_guard<std::mutex> g(lock_);
    const double t = now(platform_);
    if (current_ && t - current_->time < kMaxAgeSeconds) return current_;
    current_ = refreshLocked(t);
    return current_;
}

void ProcessTable::remember(Pid pid, const MembershipFacts& facts) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = cache_.find(pid);
    if (it == cache_.end()) return;  // not listed (any more)
    if (*it->second.facts == facts) return;
    it->second.facts = std::make_shared<const MembershipFacts>(facts);
}

long ProcessTable::listings() {
    std::lock_guard<std::mutex> g(lock_);
    return listings_;
}

std::shared_ptr<const ProcessSnapshot> ProcessTable::refreshLocked(double t) {
    ++listings_;
    auto snap = std::make_shared<ProcessSnapshot>();
    snap->time = t;
    snap->pids = platform_.allPids();
    snap->apps = runningApps_.all(0.5, snap->pids);
    for (const auto& app : snap->apps) {
        if (!app.bundlePath || !isBundlePath(*app.bundlePath)) continue;
        snap->runningPids.insert(app.pid);
        snap->runningTops.insert(topBundle(*app.bundlePath));
    }

    std::vector<Pid> listed = snap->pids;
    std::sort(listed.begin(), listed.end());  // already sorted when listed from /proc
    auto isListed = [&](Pid pid) { return std::binary_search(listed.begin(), listed.end(), pid); };
    std::erase_if(cache_, [&](const auto& kv) { return !isListed(kv.first); });
    std::erase_if(launchers_, [&](const auto& kv) { return !isListed(kv.first); });

    snap->facts_.reserve(snap->pids.size());
    for (Pid pid : snap->pids) {
        auto [it, fresh] = cache_.try_emplace(pid);
        Cached& c = it->second;
        if (fresh || t >= c.nextRead) {
            c.facts = std::make_shared<const MembershipFacts>(
                MembershipFacts{platform_.responsiblePid(pid), platform_.exePath(pid)});
            if (fresh) {
                c.nextRead = t + kFactsRecheckSeconds;
            } else if (!c.rechecked) {
                // Processes that appeared together come due at different
                // times within the minute after their recheck.
                const double spread =
                    static_cast<double>((static_cast<uint32_t>(pid) * 2654435761u) >> 8) / 16777216.0;
                c.nextRead = t + kFactsSettledSeconds * (0.5 + 0.5 * spread);
                c.rechecked = true;
            } else {
                c.nextRead = t + kFactsSettledSeconds;
            }
        }
        snap->facts_.emplace_back(pid, c.facts);
    }
    auto byPid = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (!std::is_sorted(snap->facts_.begin(), snap->facts_.end(), byPid))
        std::sort(snap->facts_.begin(), snap->facts_.end(), byPid);

    // Command-line groups: what each launcher started. A launcher's verdict
    // is taken once and kept while it lives, as the running apps it is
    // judged against at that moment decide it.
    for (const auto& [pid, f] : snap->facts_) {
        const Pid launcher = f->responsible;
        if (launcher <= 0 || launcher == pid || snap->runningPids.count(pid)) continue;
        auto [it, fresh] = launchers_.try_emplace(launcher);
        if (fresh) {
            if (auto exe = Launchers::eligibleExecutable(platform_, launcher, snap->runningPids, snap->runningTops))
                it->second = AppKey::forLauncher(*exe).text();
        }
        if (it->second) snap->launcherKeys_.try_emplace(launcher, *it->second);
    }
    return snap;
}

}  // namespace trevlin
