// The history chart's numbers: the plotted points of a window, the runs of
// the would-have-used line, the axis ticks and labels, the caption and the
// tooltip's age. Pure functions, so each is tested as a table.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace trevlin::ui {

/// One plotted point.
struct Pt {
    int id = 0;
    /// Seconds relative to now (0 = newest, negative = past).
    double t = 0;
    /// Average efficiency-core load over the bucket.
    float e = 0;
    /// Average p + e over the bucket.
    float top = 0;
    /// Average saved cores over the bucket.
    float saved = 0;
};

/// At most this many points are drawn, whatever the window.
inline constexpr int kMaxChartPoints = 200;

/// The points of the newest `minutes` × 60 samples (one per second, newest last).
std::vector<Pt> chartPoints(const std::vector<float>& p, const std::vector<float>& e,
                            const std::vector<float>& saved, int minutes);

/// Runs of consecutive points whose saved figure is above 0.005, as
/// [first, last] indices into `points`.
std::vector<std::pair<int, int>> wouldHaveUsedRuns(const std::vector<Pt>& points);

/// The dashed line's height at a point: never above the machine.
double wouldHaveUsed(const Pt& point, int totalCores);

/// Seconds between x-axis ticks for the window.
int tickStep(int minutes);
/// The tick label at `t` (≤ 0) seconds.
std::string tickLabel(int t, int minutes);

/// The text under the chart; empty for none.
std::string chartCaption(int samples, int minutes, bool sampleData, bool marketingApps);

/// The age of a point: "now", "N s ago" or "N min ago".
std::string ageText(int secondsAgo);

/// The seconds ago under a chart value (time axis, ≤ 0); absent when none.
std::optional<int> hoveredSecondsAgo(std::optional<double> value);

}  // namespace trevlin::ui
