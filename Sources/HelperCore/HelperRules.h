// The rules file the app writes and the privileged helper reads: one JSON
// object with "version" 1 and, per group with a rule, {"cores", "method"}.
#pragma once

#include "HelperGroup.h"

#include <map>
#include <optional>
#include <string>

namespace trevlin::HelperRules {

inline constexpr double minCores = 0.25;
inline constexpr size_t maxFileBytes = 4096;

using RuleMap = std::map<HelperGroup, HelperRule>;

/// The bytes of the rules file, indented with sorted keys; empty when the
/// rules cannot be serialised.
std::string encode(const RuleMap& rules);

/// The file's bytes, for a reader running as root: a symbolic link in the
/// last component, anything but a regular file, a file above `maxFileBytes`
/// or a read error all give nothing.
std::optional<std::string> read(const std::string& path);

/// The rules in `data`; never fails. Unusable data gives no rules, a bad
/// group entry skips that group alone. Caps are raised to `minCores` and
/// lowered to the machine's core count (1.0 on a single-core machine).
RuleMap parse(const std::string& data, int logicalCores);

}  // namespace trevlin::HelperRules
