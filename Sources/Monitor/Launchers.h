// Which executables count as command-line launchers.
//
// Work started from a terminal (a build, a script, a coding assistant) belongs
// to no app. Such processes are grouped under the launcher that started them;
// the group's key is built by `AppKey::forLauncher`.
#pragma once

#include "Platform.h"

#include <optional>
#include <string>
#include <set>

namespace trevlin::Launchers {

/// The executable path of `pid` when that process may act as a launcher:
/// another process than this program and init, not a running app's own
/// process (`runningPids`), run by this user, with a readable executable
/// outside the system's own folders and the libraries' helper folders, and
/// outside the bundle of a running app (`runningTops`: the outermost bundle
/// paths of the running apps).
std::optional<std::string> eligibleExecutable(Platform& platform, Pid pid, const std::set<Pid>& runningPids,
                                              const std::set<std::string>& runningTops);

}  // namespace trevlin::Launchers
