// The app's side of the files shared with the privileged helper: writing the
// rules, reading the helper's status and judging whether it is alive.
#pragma once

#include "HelperRules.h"

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace trevlin {

/// One group's entry in the status file.
struct HelperGroupStatus {
    /// Current use of the group's processes, in cores.
    double cores = 0;
    /// The cap being applied, in cores.
    double cap = 0;
    /// "strict" or "ecores".
    std::string method;
    double savedCores = 0;
    int processCount = 0;
    /// Seconds since 1970 of this group's last update.
    double updated = 0;

    bool operator==(const HelperGroupStatus&) const = default;
};

struct HelperStatusFile {
    int version = 0;
    pid_t pid = 0;
    /// Seconds since 1970 when the helper last wrote the file.
    double updated = 0;
    /// By group id; a group without a rule in force has no entry.
    std::map<std::string, HelperGroupStatus> groups;

    const HelperGroupStatus* group(HelperGroup g) const {
        auto it = groups.find(id(g));
        return it == groups.end() ? nullptr : &it->second;
    }

    bool operator==(const HelperStatusFile&) const = default;
};

enum class HelperState { notInstalled, running, notResponding };

const char* rawValue(HelperState state);

namespace HelperClient {

/// How old a status file may be before the helper counts as not responding.
inline constexpr double staleSeconds = 8.0;

/// The status file holds a few hundred bytes; anything far larger is not the
/// helper's and is not read.
inline constexpr size_t maxStatusBytes = 64 * 1024;

/// Writes the rules file atomically through `path` + ".tmp-" + pid (created
/// afresh, never through a symbolic link). Throws std::system_error (generic
/// category, the failing call's errno) when the temporary file cannot be
/// written or renamed; it is removed then.
void writeRules(const HelperRules::RuleMap& rules, const std::string& path);

/// The decoded status file; none when it is missing, no regular file, larger
/// than `maxStatusBytes`, or any key is missing or of the wrong type.
std::optional<HelperStatusFile> readStatus(const std::string& path);
std::optional<HelperStatusFile> decodeStatus(const std::string& bytes);

/// `now` in seconds since 1970.
HelperState state(const std::optional<HelperStatusFile>& status, bool binaryInstalled, double now);

/// Whether a file exists at `path` (the installed helper executable).
bool binaryInstalled(const std::string& path);

}  // namespace HelperClient

}  // namespace trevlin
