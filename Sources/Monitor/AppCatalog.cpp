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
    if (customTargets) {
        std::vector<Pid> out = customTargets();
        out.erase(std::remove(out.begin(), out.end(), myPid(platform_)), out.end());
        return out;
    }
    return targetPids(*context_.processes().snapshot());
}

std::vector<Pid> AppScanner::targetPids(const ProcessSnapshot& snapshot) {
    std::vector<Pid> out;
    if (customTargets) {
        out = customTargets();
    } else if (launcherExe_) {
        out = groupMembers(snapshot);
    } else {
        out = appMembers(snapshot);
    }
    const Pid self = myPid(platform_);
    out.erase(std::remove(out.begin(), out.end(), self), out.end());
    if (!customTargets) members_ = std::set<Pid>(out.begin(), out.end());
    return out;
}

bool AppScanner::mayHaveProcesses(const ProcessSnapshot& snapshot) const {
    if (customTargets) {
        const Pid self = myPid(platform_);
        for (Pid pid : customTargets())
            if (pid != self) return true;
        return false;
    }
    return launcherExe_ ? snapshot.mayHaveGroupProcesses(path_) : snapshot.mayHaveAppProcesses(path_);
}

// A pid's executable and responsible process for one pass: from the shared
// snapshot, except for the previous pass's members, which are read afresh
// (once per pass) so that one that runs another program or changes session
// leaves at once. What is read afresh replaces the snapshot's facts for the
// rest of this snapshot, and the table keeps it for the next ones, so a
// process that left does not come back on older facts.
class AppScanner::Facts {
public:
    Facts(AppScanner& scanner, const ProcessSnapshot& snapshot) : scanner_(scanner), snapshot_(snapshot) {
        if (scanner_.readFor_ != snapshot.time) {
            scanner_.readNow_.clear();
            scanner_.readFor_ = snapshot.time;
        }
    }

    const MembershipFacts& of(Pid pid) {
        if (scanner_.members_.count(pid) && read_.insert(pid).second) {
            MembershipFacts f{scanner_.platform_.responsiblePid(pid), scanner_.platform_.exePath(pid)};
            scanner_.context_.processes().remember(pid, f);
            return scanner_.readNow_[pid] = std::move(f);
        }
        if (auto it = scanner_.readNow_.find(pid); it != scanner_.readNow_.end()) return it->second;
        const MembershipFacts* f = snapshot_.facts(pid);
        return f ? *f : none_;
    }

private:
    AppScanner& scanner_;
    const ProcessSnapshot& snapshot_;
    std::set<Pid> read_;
    const MembershipFacts none_{};
};

std::vector<Pid> AppScanner::appMembers(const ProcessSnapshot& snapshot) {
    std::set<Pid> instances;
    std::set<Pid> mainInstances;
    for (const auto& app : snapshot.apps) {
        if (!app.bundlePath) continue;
        if (*app.bundlePath == path_ || startsWith(*app.bundlePath, prefix_)) instances.insert(app.pid);
        if (*app.bundlePath == path_) mainInstances.insert(app.pid);
    }
    mainInstancePids_ = std::move(mainInstances);

    Facts facts(*this, snapshot);
    auto mine = [&](Pid p) { return instances.count(p) || startsWith(facts.of(p).exe, prefix_); };
    const Pid self = myPid(platform_);
    std::vector<Pid> out;
    for (Pid p : snapshot.pids) {
        if (p == self) continue;
        bool isMine = mine(p);
        if (!isMine) {
            // A helper, service or child that the app is responsible for.
            Pid r = facts.of(p).responsible;
            if (r < 1) r = p;
            if (r != p) isMine = mine(r);
        }
        if (isMine) out.push_back(p);
    }
    return out;
}

std::vector<Pid> AppScanner::groupMembers(const ProcessSnapshot& snapshot) {
    Facts facts(*this, snapshot);
    const Pid self = myPid(platform_);
    std::vector<Pid> out;
    for (Pid p : snapshot.pids) {
        if (p == self) continue;
        // The launcher itself (responsible for itself) is never a member;
        // what it started is.
        const Pid r = facts.of(p).responsible;
        if (r <= 0 || r == p || snapshot.runningPids.count(p)) continue;
        const std::string* key = snapshot.launcherKey(r);
        if (!key || *key != path_) continue;
        // An executable inside a running app's bundle belongs to that app.
        if (auto bundle = enclosingBundle(facts.of(p).exe); bundle && snapshot.runningTops.count(*bundle)) continue;
        out.push_back(p);
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
