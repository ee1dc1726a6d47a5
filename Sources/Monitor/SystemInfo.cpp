#include "SystemInfo.h"

#include <algorithm>
#include <map>

namespace trevlin {

const char* rawValue(CoreKind kind) { return kind == CoreKind::efficiency ? "efficiency" : "performance"; }

SystemInfo SystemInfo::read(Platform& platform) { return from(platform.machineFacts()); }

SystemInfo SystemInfo::from(const MachineFacts& facts) {
    SystemInfo s;
    s.chipName = facts.chipName && !facts.chipName->empty() ? *facts.chipName : "Unknown CPU";
    int logical = facts.logicalCores.value_or(1);
    s.logicalCores = logical < 2 ? 1 : logical;
    s.efficiencyCores = std::max(0, facts.efficiencyCores.value_or(0));
    s.performanceCores = facts.performanceCores ? *facts.performanceCores : s.logicalCores - s.efficiencyCores;

    // The per-core kinds count only when they cover 0..n-1 without a gap,
    // match the logical count and agree with the efficiency count.
    std::optional<std::vector<CoreKind>> fromSystem;
    if (facts.coreIsEfficiency && !facts.coreIsEfficiency->empty()) {
        std::map<int, bool> byCore(facts.coreIsEfficiency->begin(), facts.coreIsEfficiency->end());
        int smallest = byCore.begin()->first;
        int largest = byCore.rbegin()->first;
        if (smallest == 0 && largest + 1 == static_cast<int>(byCore.size())) {
            std::vector<CoreKind> v;
            for (auto& [core, e] : byCore) v.push_back(e ? CoreKind::efficiency : CoreKind::performance);
            fromSystem = v;
        }
    }
    if (fromSystem && static_cast<int>(fromSystem->size()) == s.logicalCores &&
        std::count(fromSystem->begin(), fromSystem->end(), CoreKind::efficiency) == s.efficiencyCores) {
        s.coreKinds = *fromSystem;
    } else {
        // Efficiency cores are numbered first.
        s.coreKinds.clear();
        for (int i = 0; i < s.logicalCores; ++i)
            s.coreKinds.push_back(i < s.efficiencyCores ? CoreKind::efficiency : CoreKind::performance);
    }
    return s;
}

CoreKind SystemInfo::kind(int index) const {
    if (index < 0 || index >= static_cast<int>(coreKinds.size())) return CoreKind::performance;
    return coreKinds[static_cast<size_t>(index)];
}

}  // namespace trevlin
