#include "ProcessGrouping.h"

#include "AppKey.h"
#include "Launchers.h"
#include "ProcessUtil.h"

#include <algorithm>
#include <cerrno>

namespace trevlin {

namespace {

bool processGone(Platform& platform, Pid pid) { return pid <= 0 || platform.sendSignal(pid, 0) == ESRCH; }

template <class Map>
double valueOr0(const Map& m, const std::string& key) {
    auto it = m.find(key);
    return it == m.end() ? 0 : static_cast<double>(it->second);
}

}  // namespace

void ProcessGrouping::rebuildAppTable(const std::vector<RunningAppInfo>& running, const std::set<std::string>& hidden,
                                      const std::set<std::string>& extra) {
    table_ = AppTable::build(running, hidden, extra);
    responsibleExe_.clear();
}

const std::string& ProcessGrouping::responsibleExe(Pid pid) {
    auto it = responsibleExe_.find(pid);
    if (it == responsibleExe_.end()) it = responsibleExe_.emplace(pid, platform_.exePath(pid)).first;
    return it->second;
}

std::optional<std::string> ProcessGrouping::resolve(Pid pid) {
    if (auto it = table_.pidToApp.find(pid); it != table_.pidToApp.end()) return it->second;
    return resolve(pid, platform_.exePath(pid), platform_.responsiblePid(pid));
}

std::optional<std::string> ProcessGrouping::resolve(Pid pid, const std::string& exe, Pid r) {
    if (auto it = table_.pidToApp.find(pid); it != table_.pidToApp.end()) return it->second;
    if (auto key = table_.bundleKeyForExecutable(exe)) return key;
    if (r > 0 && r != pid) {
        if (auto it = table_.pidToApp.find(r); it != table_.pidToApp.end()) return it->second;
        if (auto key = table_.bundleKeyForExecutable(responsibleExe(r))) return key;
    }
    // A launcher is counted in the group it launched, even when a shell is
    // responsible for it (a tool typed at the prompt is the shell's job).
    auto own = launcherCache_.find(pid);
    if (own != launcherCache_.end() && own->second.key) return own->second.key;
    if (r > 0 && r != pid)
        if (auto key = launcherKey(r)) return key;
    return std::nullopt;
}

std::optional<std::string> ProcessGrouping::launcherKey(Pid pid) {
    const double t = now(platform_);
    if (auto it = launcherCache_.find(pid); it != launcherCache_.end() && t - it->second.checked < launcherRecheckSeconds)
        return it->second.key;
    std::optional<std::string> key;
    if (auto exe = Launchers::eligibleExecutable(platform_, pid, table_.runningAppPids, table_.runningAppTops)) {
        key = AppKey::forLauncher(*exe).text();
        auto it = cli_.find(*key);
        if (it != cli_.end()) {
            // The group outlives its launcher; the next launcher takes it over.
            if (it->second.launcherPid != pid && processGone(platform_, it->second.launcherPid)) it->second.launcherPid = pid;
        } else {
            CliRec rec;
            rec.name = AppKey(*key).displayName();
            rec.exe = *exe;
            rec.launcherPid = pid;
            cli_.emplace(*key, std::move(rec));
        }
    }
    launcherCache_[pid] = LauncherVerdict{key, t};
    return key;
}

std::vector<AppUsage> ProcessGrouping::commandLineRows(const std::unordered_map<std::string, Acc>& accs, double dt) {
    std::vector<AppUsage> rows;
    for (const auto& [key, acc] : accs) {
        if (!AppKey::isGroupKey(key) || acc.count <= 0) continue;
        auto it = cli_.find(key);
        if (it == cli_.end()) {
            // Processes still point at a group whose record is gone (its
            // launcher verdict is cached): start it afresh.
            CliRec rec;
            rec.name = AppKey(key).displayName();
            rec.exe = AppKey(key).launcherName();
            it = cli_.emplace(key, std::move(rec)).first;
        }
        CliRec& rec = it->second;
        std::set<std::string> names;
        for (const auto& [name, v] : rec.ema) names.insert(name);
        for (const auto& [name, v] : acc.progs) names.insert(name);
        for (const auto& name : names) {
            const bool ran = acc.progs.count(name) != 0;
            const double e = valueOr0(rec.ema, name) * emaDecay + valueOr0(acc.progs, name) * (1 - emaDecay) / dt;
            if (e >= emaDropBelow || ran) rec.ema[name] = e;
            else rec.ema.erase(name);
        }
        rec.count = acc.progCount;

        AppUsage row;
        row.cores = acc.total / dt;
        row.pCores = std::min(acc.p / dt, row.cores);
        row.eCores = std::max(0.0, row.cores - row.pCores);
        row.name = rec.name;
        row.bundlePath = key;
        row.mainPid = rec.launcherPid;
        row.processCount = acc.count;
        row.isFrontmost = false;
        row.isUserFacing = false;
        row.kind = AppKind::commandLine;
        row.detail = detailText(rec);
        rows.push_back(std::move(row));
    }
    for (auto it = cli_.begin(); it != cli_.end();) {
        if (!accs.count(it->first)) it = cli_.erase(it);
        else ++it;
    }
    return rows;
}

void ProcessGrouping::pruneLauncherCache(const std::unordered_set<Pid>& alive) {
    for (auto it = launcherCache_.begin(); it != launcherCache_.end();) {
        if (!alive.count(it->first) && processGone(platform_, it->first)) it = launcherCache_.erase(it);
        else ++it;
    }
}

std::string ProcessGrouping::detailText(const CliRec& rec) {
    const std::string own = lastPathComponent(rec.exe);
    std::set<std::string> unique;
    for (const auto& [name, v] : rec.ema)
        if (!name.empty()) unique.insert(name);
    for (const auto& [name, c] : rec.count)
        if (!name.empty()) unique.insert(name);
    std::vector<std::string> names(unique.begin(), unique.end());
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        const double va = valueOr0(rec.ema, a), vb = valueOr0(rec.ema, b);
        const bool busyA = va >= 0.01, busyB = vb >= 0.01;
        if (busyA != busyB) return busyA;
        if (busyA && va != vb) return va > vb;
        const double ca = valueOr0(rec.count, a), cb = valueOr0(rec.count, b);
        if (ca != cb) return ca > cb;
        return a < b;
    });
    std::string detail;
    int taken = 0;
    for (const auto& name : names) {
        if (name == own || name == "Trevlin") continue;
        if (taken++ == 2) break;
        if (!detail.empty()) detail += ", ";
        detail += name;
    }
    return detail;
}

}  // namespace trevlin
