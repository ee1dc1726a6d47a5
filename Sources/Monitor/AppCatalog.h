// Which live processes belong to a limited app or command-line group, and
// what each of them is within it.
//
// One `AppScanner` exists per limited key and is called repeatedly by one
// thread (its limiter); it remembers for 10 s which pids were found not to
// belong, and per launcher pid whether it launches this group, so a steady
// system costs one pid listing and a few path reads per pass.
#pragma once

#include "Platform.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace trevlin {

class EngineContext;

/// What one process is within its app.
struct Role {
    std::string label;
    bool isMain = false;
    /// A helper process of a multi-process browser: Chromium's (its command
    /// line carries " --type=") or Firefox's (" -contentproc"). Its browser's
    /// main process is never stopped.
    bool isChromiumHelper = false;
    /// Never touched by a limiter.
    bool critical = false;
    bool operator==(const Role&) const = default;
};

/// The target of one limiter: its display name and its key (a `.desktop`
/// path or a "cli:" group key).
struct AppMatch {
    std::string name;
    std::string path;
    bool operator==(const AppMatch&) const = default;
};

class AppScanner {
public:
    AppScanner(EngineContext& context, std::string path);

    const std::string& path() const { return path_; }
    /// Set for a command-line group: the key itself.
    const std::optional<std::string>& launcherExe() const { return launcherExe_; }
    /// Pids of running apps whose bundle path equals the key (refreshed by every app scan).
    const std::set<Pid>& mainInstancePids() const { return mainInstancePids_; }

    /// When set, replaces all scanning.
    std::function<std::vector<Pid>()> customTargets;

    /// Live pids of the target, in listing order, never the program's own.
    std::vector<Pid> targetPids();

    /// Classifies one process from its pid, responsible pid, executable path
    /// and flattened command line.
    Role role(Pid pid, Pid owner, const std::string& exe, const std::string& cmd) const;

private:
    std::vector<Pid> appMembers();
    std::vector<Pid> groupMembers();
    /// Adds a member to `members`; a non-member is skipped for the next 10 s.
    void remember(Pid pid, bool member, double t, std::vector<Pid>& members);
    bool launches(Pid launcher, const std::set<Pid>& runningPids,
                  const std::set<std::string>& runningTops);

    EngineContext& context_;
    Platform& platform_;
    std::string path_;
    std::string prefix_;
    std::set<Pid> mainInstancePids_;
    std::map<Pid, double> notMine_;
    std::optional<std::string> launcherExe_;
    std::map<Pid, bool> launcherVerdict_;
};

}  // namespace trevlin

template <>
struct std::hash<trevlin::AppMatch> {
    size_t operator()(const trevlin::AppMatch& m) const noexcept {
        size_t a = std::hash<std::string>()(m.name), b = std::hash<std::string>()(m.path);
        return a ^ (b + 0x9e3779b97f4a7c15ull + (a << 6) + (a >> 2));
    }
};
