// What render mode shows besides the live measurements: the sample
// command-line group, a sample system process breakdown, an illustrated
// history chart, and the fixed figures of the marketing pictures. Plain data,
// the same on every run (the chart from a seed).
#pragma once

#include "AppModel.h"
#include "HelperClient.h"
#include "HelperRules.h"
#include "SystemProcesses.h"

#include <cstdint>
#include <string>
#include <vector>

namespace trevlin::RenderSamples {

/// The sample group every render shows, so that the command-line section
/// and its editor have something to show.
inline constexpr const char* kLauncherKey = "cli:sample-launcher";
inline constexpr const char* kLauncherName = "rustc, cargo (sample)";

/// The sample launcher's row.
AppUsage launcherRow();
/// An app row for pictures where the machine runs no desktop app at all.
AppUsage sampleAppRow();

/// `live` with the sample rows added (and re-sorted busiest first); without
/// any desktop app in it, a sample app too. The totals grow by the sample
/// rows' use, up to the machine's `cores`.
MonitorSnapshot withSampleRows(const MonitorSnapshot& live, int cores);

/// A history of 300 seconds drawn from `seed` for a machine of `cores`
/// logical cores, `eCores` of them efficiency cores.
ChartData chartIllustration(uint32_t seed, int cores, int eCores);

/// A breakdown of system processes as the sampler would give it, with a file
/// indexer and a backup that only the helper could hold back.
SystemBreakdown systemBreakdown(double now);
/// The helper's rules and the status it reports for them.
HelperRules::RuleMap helperRules();
HelperStatusFile helperStatus(double now);

/// Five well-known desktop apps with fixed figures, for promotional pictures.
struct Marketing {
    MonitorSnapshot snapshot;
    SavingsSummary savings;
    /// The stored rules that give the pills their states.
    std::vector<std::pair<std::string, StoredRule>> rules;
    /// What the limiters report for them.
    std::vector<LimiterStatus> statuses;
};
Marketing marketing(int cores);

}  // namespace trevlin::RenderSamples
