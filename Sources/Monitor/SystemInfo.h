// The processor, described once per run: its name, core counts and the kind
// of each core index in the order the per-core load counters number them.
#pragma once

#include "Platform.h"

#include <string>
#include <vector>

namespace trevlin {

enum class CoreKind { performance, efficiency };

const char* rawValue(CoreKind kind);

struct SystemInfo {
    std::string chipName = "Unknown CPU";
    int logicalCores = 1;
    int performanceCores = 1;
    int efficiencyCores = 0;
    std::vector<CoreKind> coreKinds{CoreKind::performance};

    /// The machine's description, computed once on first use.
    /// The facts of the machine `platform` runs on.
    static SystemInfo read(Platform& platform);
    /// Builds the description from the platform's facts.
    static SystemInfo from(const MachineFacts& facts);

    /// `coreKinds[index]` for a valid index, otherwise performance.
    CoreKind kind(int index) const;

    bool operator==(const SystemInfo&) const = default;
};

}  // namespace trevlin
