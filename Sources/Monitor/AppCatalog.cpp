#include "AppCatalog.h"

#include "AppKey.h"
#include "BundlePaths.h"
#include "Launchers.h"
#include "ProcessUtil.h"
#include "EngineContext.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <unordered_set>

namespace trevlin {

namespace {

bool startsWith(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

/// The text after `marker` up to the next space.
std::string wordAfter(const std::string& s, const std::string& marker) {
    auto pos = s.find(marker);
    if (pos == std::string::npos) return "";
    pos += marker.size();
    auto end = s.find(' ', pos);
    return s.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
}

std::string lowercased(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Chromium and the browsers built on it (Chrome, Edge, Brave, Electron apps)
// start each helper with its kind in the command line: " --type=renderer",
// " --type=gpu-process", " --type=utility --utility-sub-type=network.mojom...".
const std::string kChromiumTypeMarker = " --type=";

Role chromiumHelperRole(const std::string& cmd) {
    Role r;
    const std::string type = wordAfter(cmd, kChromiumTypeMarker);
    r.label = type;
    if (contains(cmd, "--utility-sub-type=")) {
        const std::string sub = wordAfter(cmd, "--utility-sub-type=");
        size_t i = 0;
        while (i < sub.size()) {
            size_t j = sub.find('.', i);
            if (j == std::string::npos) j = sub.size();
            if (j > i) {
                r.label += " (" + sub.substr(i, j - i) + ")";
                break;
            }
            i = j + 1;
        }
    }
    r.isChromiumHelper = true;
    // Stopping the GPU process freezes every window of the browser, the
    // network service every page, the audio service the sound.
    r.critical = startsWith(type, "gpu-process") || contains(cmd, "audio.mojom") || contains(cmd, "network.mojom");
    return r;
}

// Firefox (and Thunderbird, and the browsers built on Gecko) runs each helper
// as the same executable with "-contentproc" and the helper's kind as the
// last argument: "tab" (web content), "gpu", "rdd" (media decoding),
// "socket" (network), "utility" (audio decoding when its sandboxing kind is
// not the generic 0), "gmplugin" (media plug-ins), and a few more.
const std::string kFirefoxContentMarker = " -contentproc ";

std::optional<std::string> firefoxContentKind(const std::string& cmd) {
    // The flattened command line ends in a space (the last argument's NUL).
    if (!contains(cmd + " ", kFirefoxContentMarker)) return std::nullopt;
    size_t end = cmd.find_last_not_of(' ');
    if (end == std::string::npos) return std::nullopt;
    size_t begin = cmd.find_last_of(' ', end);
    begin = begin == std::string::npos ? 0 : begin + 1;
    return cmd.substr(begin, end + 1 - begin);
}

Role firefoxHelperRole(const std::string& kind, const std::string& cmd) {
    Role r;
    r.label = kind;
    r.isChromiumHelper = true;
    // The generic utility process (sandboxing kind 0) runs no media; the
    // other kinds decode audio.
    const std::string sandboxing = wordAfter(cmd, " -sandboxingKind ");
    const bool audioUtility = kind == "utility" && !sandboxing.empty() && sandboxing != "0";
    if (audioUtility) r.label += " (audio)";
    // As for Chromium: the GPU process draws every window, the socket process
    // carries the network, and the media processes play sound and video.
    r.critical = kind == "gpu" || kind == "socket" || kind == "rdd" || kind == "gmplugin" || audioUtility;
    return r;
}

// Helpers known by their executable's name that must never be stopped:
// WebKitGTK's GPU and network processes (its web processes may be paused,
// like a browser's tabs), and anything that handles audio.
bool isCriticalByName(const std::string& name) {
    return name == "WebKitGPUProcess" || name == "WebKitNetworkProcess" || contains(lowercased(name), "audio");
}

}  // namespace

AppScanner::AppScanner(EngineContext& context, std::string path)
    : context_(context), platform_(context.platform()), path_(std::move(path)), prefix_(path_ + "/") {
    if (AppKey::isGroupKey(path_)) launcherExe_ = path_;
}

std::vector<Pid> AppScanner::targetPids() {
    const Pid self = myPid(platform_);
    std::vector<Pid> out;
    if (customTargets) {
        out = customTargets();
    } else if (launcherExe_) {
        out = groupMembers();
    } else {
        out = appMembers();
    }
    out.erase(std::remove(out.begin(), out.end(), self), out.end());
    return out;
}

std::vector<Pid> AppScanner::appMembers() {
    std::set<Pid> instances;
    std::set<Pid> mainInstances;
    for (const auto& app : context_.runningApps().all(0.5)) {
        if (!app.bundlePath) continue;
        if (*app.bundlePath == path_ || startsWith(*app.bundlePath, prefix_)) instances.insert(app.pid);
        if (*app.bundlePath == path_) mainInstances.insert(app.pid);
    }
    mainInstancePids_ = std::move(mainInstances);

    const double t = now(platform_);
    const auto pids = allPids(platform_);
    const std::unordered_set<Pid> listed(pids.begin(), pids.end());
    std::erase_if(notMine_, [&](const auto& kv) { return !listed.count(kv.first); });

    const Pid self = myPid(platform_);
    std::map<Pid, bool> verdicts;  // per call: each path is read at most once
    auto mine = [&](Pid p) {
        auto it = verdicts.find(p);
        if (it != verdicts.end()) return it->second;
        bool v = instances.count(p) || startsWith(exePath(platform_, p), prefix_);
        verdicts[p] = v;
        return v;
    };

    std::vector<Pid> out;
    for (Pid p : pids) {
        if (p == self) continue;
        auto nm = notMine_.find(p);
        if (nm != notMine_.end() && t - nm->second < 10.0 && !instances.count(p)) continue;
        bool isMine = mine(p);
        if (!isMine) {
            Pid r = platform_.responsiblePid(p);
            if (r < 1) r = p;
            if (r != p) isMine = mine(r);
        }
        remember(p, isMine, t, out);
    }
    return out;
}

void AppScanner::remember(Pid pid, bool member, double t, std::vector<Pid>& members) {
    if (member) {
        members.push_back(pid);
        notMine_.erase(pid);
    } else {
        notMine_[pid] = t;
    }
}

bool AppScanner::launches(Pid launcher, const std::set<Pid>& runningPids,
                          const std::set<std::string>& runningTops) {
    auto it = launcherVerdict_.find(launcher);
    if (it != launcherVerdict_.end()) return it->second;
    bool verdict = false;
    if (auto exe = Launchers::eligibleExecutable(platform_, launcher, runningPids, runningTops))
        verdict = AppKey::forLauncher(*exe).text() == path_;
    launcherVerdict_[launcher] = verdict;
    return verdict;
}

std::vector<Pid> AppScanner::groupMembers() {
    std::set<Pid> runningPids;
    std::set<std::string> runningTops;
    for (const auto& app : context_.runningApps().all(0.5)) {
        if (!app.bundlePath || !isBundlePath(*app.bundlePath)) continue;
        runningPids.insert(app.pid);
        runningTops.insert(topBundle(*app.bundlePath));
    }

    const double t = now(platform_);
    const auto pids = allPids(platform_);
    const std::unordered_set<Pid> listed(pids.begin(), pids.end());
    std::erase_if(notMine_, [&](const auto& kv) { return !listed.count(kv.first); });
    std::erase_if(launcherVerdict_, [&](const auto& kv) { return !listed.count(kv.first); });

    const Pid self = myPid(platform_);
    std::vector<Pid> out;
    for (Pid p : pids) {
        if (p == self) continue;
        auto nm = notMine_.find(p);
        if (nm != notMine_.end() && t - nm->second < 10.0) continue;
        bool member = false;
        // The launcher itself (responsible for itself) is never a member;
        // what it started is.
        const Pid r = platform_.responsiblePid(p);
        if (r > 0 && r != p && !runningPids.count(p) && launches(r, runningPids, runningTops)) {
            member = true;
            // An executable inside a running app's bundle belongs to that app.
            if (auto bundle = enclosingBundle(exePath(platform_, p)); bundle && runningTops.count(*bundle)) member = false;
        }
        remember(p, member, t, out);
    }
    return out;
}

Role AppScanner::role(Pid pid, Pid owner, const std::string& exe, const std::string& cmd) const {
    const std::string name = lastPathComponent(exe);
    Role r;
    if (launcherExe_ && pid == owner) {
        r.label = "launcher";
        r.critical = true;
        return r;
    }
    if (contains(cmd, kChromiumTypeMarker)) return chromiumHelperRole(cmd);
    if (auto kind = firefoxContentKind(cmd)) return firefoxHelperRole(*kind, cmd);
    if (pid == owner || mainInstancePids_.count(pid)) {
        r.label = "app (main process)";
        r.isMain = true;
    } else if (isCriticalByName(name)) {
        r.label = name;
        r.critical = true;
    } else if (!cmd.empty()) {
        r.label = name;
    } else if (name.empty()) {
        r.label = "unknown";
        r.critical = true;
    } else {
        r.label = name;
        r.critical = true;
    }
    return r;
}

}  // namespace trevlin
