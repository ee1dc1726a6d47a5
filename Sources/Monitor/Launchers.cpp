#include "Launchers.h"

#include "BundlePaths.h"
#include "ProcessUtil.h"

namespace trevlin::Launchers {

namespace {

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// Folders whose programs belong to the system and never start user work:
// daemons and the helpers that other programs run (/usr/libexec), programs
// for the administrator (/usr/sbin, /sbin), and the service manager with its
// helpers (such as the per-user `systemd --user` that starts every app unit).
// /usr/bin and /usr/lib in general stay eligible: shells, node, make and
// compilers live there.
constexpr const char* kSystemPrefixes[] = {
    "/usr/libexec/", "/usr/sbin/", "/sbin/", "/usr/lib/systemd/", "/lib/systemd/",
};

// Debian's multiarch library folder (/usr/lib/x86_64-linux-gnu/ and its
// kin) holds libraries and the helper programs they run on some app's
// behalf: WebKitGTK's web, network and GPU processes, KDE's kioworkers,
// GStreamer's plug-in scanner. Such a helper never launches user work.
bool inLibraryFolder(const std::string& path) {
    const std::string lib = "/usr/lib/";
    if (!startsWith(path, lib.c_str())) return false;
    const auto slash = path.find('/', lib.size());
    return slash != std::string::npos && path.substr(lib.size(), slash - lib.size()).find("-linux-") != std::string::npos;
}

}  // namespace

std::optional<std::string> eligibleExecutable(Platform& p, Pid pid, const std::set<Pid>& runningPids,
                                              const std::set<std::string>& runningTops) {
    if (pid <= 1 || pid == p.myPid()) return std::nullopt;
    if (runningPids.count(pid)) return std::nullopt;
    auto facts = p.processFacts(pid, {.uid = true});
    if (!facts || facts->uid != p.myUid()) return std::nullopt;
    std::string path = p.exePath(pid);
    if (path.empty()) return std::nullopt;
    for (const char* prefix : kSystemPrefixes)
        if (startsWith(path, prefix)) return std::nullopt;
    if (inLibraryFolder(path)) return std::nullopt;
    // An executable inside the bundle of a running app is that app's process.
    if (auto bundle = enclosingBundle(path); bundle && runningTops.count(*bundle)) return std::nullopt;
    return path;
}

}  // namespace trevlin::Launchers
