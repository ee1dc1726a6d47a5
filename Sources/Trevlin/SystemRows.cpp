#include "SystemRows.h"

#include "ProcessUtil.h"

#include <algorithm>
#include <cmath>

namespace trevlin {

std::vector<SystemRow> buildSystemRows(const SystemBreakdown& breakdown, const std::vector<float>& otherHistory,
                                       std::optional<double> latestOtherCores, bool systemLimitsEnabled,
                                       const AllowList& allowList) {
    constexpr size_t kNamedRows = 8;
    std::vector<SystemRow> rows;
    double namedSum = 0;
    double restSum = 0;
    size_t named = 0;
    for (const SystemProcess& p : breakdown.processes) {
        if (lastPathComponent(p.command) == "Trevlin") continue;  // our own processes
        if (named == kNamedRows) {
            restSum += p.cores;
            continue;
        }
        ++named;
        namedSum += p.cores;
        SystemRow row;
        row.id = "pid" + std::to_string(p.pid);
        row.name = p.name;
        row.cores = p.cores;
        // A process is known by its task name, which carries no folder to
        // compare; a command that is a path is matched exactly.
        if (systemLimitsEnabled)
            row.group = p.command.rfind('/', 0) == 0 ? allowList.group(p.command) : allowList.groupOfTaskName(p.command);
        row.hint = p.needsHelper && (!systemLimitsEnabled || row.group) ? "needs helper" : "can't limit";
        rows.push_back(std::move(row));
    }

    double otherAverage = latestOtherCores.value_or(0);
    if (!otherHistory.empty()) {
        const size_t wanted = static_cast<size_t>(std::max(1.0, std::round(breakdown.interval)));
        const size_t n = std::min(wanted, otherHistory.size());
        double sum = 0;
        for (size_t i = otherHistory.size() - n; i < otherHistory.size(); ++i) sum += otherHistory[i];
        otherAverage = sum / static_cast<double>(n);
    }
    rows.push_back(SystemRow{"else", "everything else", std::max(restSum, otherAverage - namedSum), "can't limit",
                             std::nullopt});
    return rows;
}

}  // namespace trevlin
