// The exact executables the privileged helper may ever touch, per group, and
// the scanner that finds their running processes. Nothing outside the list is
// matched, whatever its name.
//
// A program that is a script is listed by its script path: the kernel shows
// its interpreter as the process's executable, so for an interpreter
// (`python3*`, `perl` from the system's own folders) the script named on its
// command line is what is compared with the list.
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

    /// The list used in normal operation: the file indexers and backup tools
    /// as Debian installs them.
    static const AllowList& production();
    /// The test names ("mds_stores", "mdworker", "mdworker_shared",
    /// "mdbulkimport"; "backupd") under `directory` (with or without a
    /// trailing "/").
    static AllowList test(const std::string& directory);

    /// The group whose set holds exactly `path`, or none.
    std::optional<HelperGroup> group(const std::string& ofPath) const;
    /// True when the group's set holds exactly `path`.
    bool allows(const std::string& path, HelperGroup group) const;

    /// The group of a process with executable `exe` and command line
    /// `arguments` (argv[0] first): its script's when `exe` is an
    /// interpreter, else its executable's.
    std::optional<HelperGroup> groupOfProcess(const std::string& exe, const std::vector<std::string>& arguments) const;

    /// The group of a process known only by its task name, as the kernel keeps it
    /// (the executable's file name, cut by the kernel to 15 bytes): the group
    /// holding a path with that file name. It tells which rows the helper
    /// could hold; the helper itself matches by path only.
    std::optional<HelperGroup> groupOfTaskName(const std::string& name) const;

    /// Whether `exe` is an interpreter whose script is matched instead:
    /// python3 of any version or perl, in /usr/bin or /bin.
    static bool isInterpreter(const std::string& exe);
    /// The script an interpreter runs: its first argument that is not an
    /// option, skipping the values of the options that take one. None when it
    /// runs no script file (python's -c and -m, perl's -e, "-" for standard
    /// input) or `exe` is no interpreter.
    static std::optional<std::string> scriptPath(const std::string& exe, const std::vector<std::string>& arguments);

    bool operator==(const AllowList&) const = default;
};

class AllowListScanner {
public:
    /// `procRoot` is where the process table is read from; `uptime` gives
    /// seconds on a clock that never jumps (the system's uptime when empty).
    explicit AllowListScanner(AllowList allow, std::string procRoot = "/proc", std::function<double()> uptime = {});

    const AllowList& allow() const { return allow_; }

    /// The pids of running processes whose executable (or, for an
    /// interpreter, script) is in the group's set, in the order the system
    /// lists them. One scan serves every group and at most one scan happens
    /// per half second.
    std::vector<pid_t> pids(HelperGroup group);

    /// The executable path of a process, or none.
    static std::optional<std::string> path(pid_t of, const std::string& procRoot = "/proc");
    /// The command line of a process (argv[0] first), or none.
    static std::optional<std::vector<std::string>> arguments(pid_t of, const std::string& procRoot = "/proc");

private:
    const AllowList allow_;
    const std::string procRoot_;
    const std::function<double()> uptime_;
    std::mutex lock_;
    std::map<HelperGroup, std::vector<pid_t>> cache_;
    double cacheTime_ = 0;
};

}  // namespace trevlin
