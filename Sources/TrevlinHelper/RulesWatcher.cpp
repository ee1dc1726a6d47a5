#include "RulesWatcher.h"

namespace trevlin::helper {

std::optional<HelperRules::RuleMap> RulesWatcher::poll() {
    HelperRules::RuleMap rules;
    if (auto bytes = HelperRules::read(path_)) rules = HelperRules::parse(*bytes, logicalCores_);
    if (last_ && *last_ == rules) return std::nullopt;
    last_ = rules;
    return rules;
}

}  // namespace trevlin::helper
