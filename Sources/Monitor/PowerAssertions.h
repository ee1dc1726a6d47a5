// Whether an app keeps the machine awake or plays audio.
#pragma once

#include "Platform.h"

#include <optional>
#include <set>
#include <string>

namespace trevlin::PowerAssertions {

/// The assertion types that count as keeping the machine awake.
const std::set<std::string>& awakeTypes();

/// "playing audio", "keeping the Mac awake", or absent. Audio held on behalf
/// of one of the pids wins over any other assertion.
std::optional<std::string> busyReason(Platform& platform, const std::set<Pid>& appPids);

}  // namespace trevlin::PowerAssertions
