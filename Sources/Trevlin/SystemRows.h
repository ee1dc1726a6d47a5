// The system process rows of the Apps page, built from a sampler breakdown:
// the eight busiest processes by name, then one row for everything else.
#pragma once

#include "AllowList.h"
#include "SystemProcesses.h"

#include <optional>
#include <string>
#include <vector>

namespace trevlin {

struct SystemRow {
    std::string id;
    std::string name;
    double cores = 0;
    std::string hint;
    std::optional<HelperGroup> group;

    bool operator==(const SystemRow&) const = default;
};

/// `otherHistory` is the monitor history's "other" series (oldest first);
/// `latestOtherCores` the latest snapshot's "other" cores, which stands for
/// the average while that series is empty (0 without a snapshot).
std::vector<SystemRow> buildSystemRows(const SystemBreakdown& breakdown, const std::vector<float>& otherHistory,
                                       std::optional<double> latestOtherCores, bool systemLimitsEnabled,
                                       const AllowList& allowList);

}  // namespace trevlin
