#include "AppTable.h"

#include "BundlePaths.h"
#include "ProcessUtil.h"

#include <algorithm>
#include <utility>

namespace trevlin {

AppTable AppTable::build(const std::vector<RunningAppInfo>& running, const std::set<std::string>& hidden,
                         const std::set<std::string>& extra) {
    AppTable t;
    std::vector<std::pair<Pid, std::string>> recorded;
    for (const auto& app : running) {
        if (!app.bundlePath || !isBundlePath(*app.bundlePath)) continue;  // not a bundled app
        const std::string& path = *app.bundlePath;
        const std::string top = topBundle(path);
        recorded.emplace_back(app.pid, top);
        if (app.policy == ActivationPolicy::prohibited) continue;  // background-only: no row
        if (hidden.count(top)) continue;

        const bool isTop = top == path;
        const bool isRegular = app.policy == ActivationPolicy::regular;
        const std::string fallbackName = deletingPathExtension(lastPathComponent(path));
        auto it = t.apps.find(top);
        if (it != t.apps.end()) {
            AppRec& rec = it->second;
            if (isTop && (rec.mainPid == 0 || app.pid < rec.mainPid)) {
                rec.mainPid = app.pid;
                rec.name = app.name.value_or(fallbackName);
                rec.bundleID = app.bundleID;
            }
            rec.anyPid = rec.anyPid == 0 ? app.pid : std::min(rec.anyPid, app.pid);
            if (isTop && isRegular) rec.regular = true;
        } else {
            AppRec rec;
            if (isTop) {
                rec.name = app.name.value_or(fallbackName);
                rec.bundleID = app.bundleID;
                rec.mainPid = app.pid;
                rec.regular = isRegular;
            } else {
                // Only a helper of the bundle runs: name the row after the bundle.
                rec.name = deletingPathExtension(lastPathComponent(top));
                rec.mainPid = 0;
                rec.regular = false;
            }
            rec.anyPid = app.pid;
            rec.isRow = true;
            t.apps.emplace(top, std::move(rec));
        }
    }
    for (const auto& path : extra) {
        if (t.apps.count(path) || hidden.count(path)) continue;
        AppRec rec;
        rec.name = deletingPathExtension(lastPathComponent(path));
        t.apps.emplace(path, std::move(rec));
    }
    for (const auto& [pid, top] : recorded) {
        if (t.apps.count(top)) t.pidToApp[pid] = top;
        t.runningAppPids.insert(pid);
        t.runningAppTops.insert(top);
    }
    return t;
}

std::optional<std::string> AppTable::bundleKeyForExecutable(const std::string& exePath) const {
    auto bundle = enclosingBundle(exePath);
    if (bundle && apps.count(*bundle)) return bundle;
    return std::nullopt;
}

}  // namespace trevlin
