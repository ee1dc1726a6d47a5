// Which executables count as command-line launchers, and how a launcher's
// group is keyed and named.
//
// Work started from a terminal (a build, a script, a coding assistant) belongs
// to no app. Such processes are grouped under the launcher that started them:
// the group's key is "cli:" followed by the launcher's executable name.
#pragma once

#include "Platform.h"

#include <optional>
#include <string>
#include <set>

namespace trevlin::Launchers {

/// Key prefix of every command-line group.
inline constexpr const char* kKeyPrefix = "cli:";

/// The executable path of `pid` when that process may act as a launcher:
/// another process than this program and init, not a running app's own
/// process (`runningPids`), run by this user, with a readable executable
/// outside the system's own folders and the libraries' helper folders, and
/// outside the bundle of a running app (`runningTops`: the outermost bundle
/// paths of the running apps).
std::optional<std::string> eligibleExecutable(Platform& platform, Pid pid, const std::set<Pid>& runningPids,
                                              const std::set<std::string>& runningTops);

/// The group key for a launcher's executable path: "cli:" + its file name,
/// except that Claude Code's "claude" (in a "/claude-code/" folder) is
/// "cli:claude-code".
std::string key(const std::string& executable);

/// The name shown for a group key: "Claude Code" for "cli:claude-code",
/// otherwise the key without its "cli:" prefix.
std::string displayName(const std::string& key);

/// Whether `key` names a command-line group.
bool isGroupKey(const std::string& key);

}  // namespace trevlin::Launchers
