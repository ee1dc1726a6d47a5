// Why an app that would be paused in the background is spared: it plays
// audio or keeps the computer awake. The platform tells which; this turns the
// answer into the text the limiter's status shows.
#pragma once

#include "Platform.h"

#include <optional>
#include <set>
#include <string>

namespace trevlin::BusyReasons {

/// "playing audio" or "keeping the computer awake".
std::string text(BusyReason reason);

/// Asks the platform about the app's pids: the text of the reason, or absent
/// when none of them is busy.
std::optional<std::string> ask(Platform& platform, const std::set<Pid>& appPids);

}  // namespace trevlin::BusyReasons
