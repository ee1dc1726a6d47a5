// Notices a changed rules file. The file is small (at most 4096 bytes) and
// is read whole, through the rules reader's checks, at every look; what
// counts is whether the rules in it changed, so a rewrite that keeps size
// and time, or a file replaced within one tick of the clock, is not missed.
#pragma once

#include "HelperRules.h"

#include <optional>
#include <string>

namespace trevlin::helper {

class RulesWatcher {
public:
    RulesWatcher(std::string path, int logicalCores) : path_(std::move(path)), logicalCores_(logicalCores) {}

    /// The rules now in the file when they differ from those of the last
    /// look (always at the first look); none when nothing changed. A missing,
    /// refused or unreadable file holds no rules.
    std::optional<HelperRules::RuleMap> poll();

private:
    const std::string path_;
    const int logicalCores_;
    std::optional<HelperRules::RuleMap> last_;
};

}  // namespace trevlin::helper
