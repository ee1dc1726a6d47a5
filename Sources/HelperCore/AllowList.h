// The exact executables the privileged helper may ever touch, per group, and
// the scanner that finds their running processes. Nothing outside the list is
// matched, whatever its name.
#pragma once

#include "HelperGroup.h"

#include <sys/types.h>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace trevlin {

struct AllowList {
    std::map<HelperGroup, std::set<std::string>> paths;

    /// The list used in normal operation.
    static const AllowList& production();
    /// The same executable names under `directory` (with or without a trailing "/").
    static AllowList test(const std::string& directory);

    /// The group whose set holds exactly `path`, or none.
    std::optional<HelperGroup> group(const std::string& ofPath) const;
    /// True when the group's set holds exactly `path`.
    bool allows(const std::string& path, HelperGroup group) const;

    bool operator==(const AllowList&) const = default;
};

class AllowListScanner {
public:
    /// `procRoot` is where the process table is read from; `uptime` gives
    /// seconds on a clock that never jumps (the system's uptime when empty).
    explicit AllowListScanner(AllowList allow, std::string procRoot = "/proc", std::function<double()> uptime = {});

    const AllowList& allow() const { return allow_; }

    /// The pids of running processes whose executable is in the group's set,
    /// in the order the system lists them. One scan serves every group and
    /// at most one scan happens per half second.
    std::vector<pid_t> pids(HelperGroup group);

    /// The executable path of a process, or none.
    static std::optional<std::string> path(pid_t of, const std::string& procRoot = "/proc");

private:
    const AllowList allow_;
    const std::string procRoot_;
    const std::function<double()> uptime_;
    std::mutex lock_;
    std::map<HelperGroup, std::vector<pid_t>> cache_;
    double cacheTime_ = 0;
};

}  // namespace trevlin
