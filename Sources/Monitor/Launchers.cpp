#include "Launchers.h"

#include "BundlePaths.h"
#include "ProcessUtil.h"

namespace trevlin::Launchers {

namespace {

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// Folders whose programs belong to the system and never start user work.
// The first five are the system folders of the Mac; the two systemd folders
// are their Linux counterparts (the service manager and its helpers, such as
// the per-user `systemd --user` that starts every app unit). /usr/bin and
// /usr/lib in general stay eligible: shells, node, make and compilers live
// there.
constexpr const char* kSystemPrefixes[] = {
    "/System/", "/usr/libexec/", "/usr/sbin/", "/sbin/", "/Library/Apple/", "/usr/lib/systemd/", "/lib/systemd/",
};

// Plug-in and framework bundles run on behalf of some app, never as launchers.
constexpr const char* kPluginMarkers[] = {".xpc/", ".appex/", ".framework/"};

}  // namespace

std::optional<std::string> eligibleExecutable(Platform& p, Pid pid, const std::set<Pid>& runningPids,
                                              const std::set<std::string>& runningTops) {
    if (pid <= 1 || pid == p.myPid()) return std::nullopt;
    if (runningPids.count(pid)) return std::nullopt;
    auto id = p.identity(pid);
    if (!id || id->uid != p.myUid()) return std::nullopt;
    std::string path = p.exePath(pid);
    if (path.empty()) return std::nullopt;
    for (const char* prefix : kSystemPrefixes)
        if (startsWith(path, prefix)) return std::nullopt;
    for (const char* marker : kPluginMarkers)
        if (path.find(marker) != std::string::npos) return std::nullopt;
    // An executable inside the bundle of a running app is that app's process.
    if (auto bundle = enclosingBundle(path); bundle && runningTops.count(*bundle)) return std::nullopt;
    return path;
}

}  // namespace trevlin::Launchers
