#include "ChartPoints.h"

#include <algorithm>
#include <cmath>

namespace trevlin::ui {

std::vector<Pt> chartPoints(const std::vector<float>& p, const std::vector<float>& e,
                            const std::vector<float>& saved, int minutes) {
    const int wanted = minutes * 60;
    const int n = std::min({static_cast<int>(p.size()), static_cast<int>(e.size()), wanted});
    if (n < 1) return {};
    const int b = (n + kMaxChartPoints - 1) / kMaxChartPoints;
    const int m = (n + b - 1) / b;
    // Index 0 of the newest n samples in each series (they may differ in length).
    const size_t p0 = p.size() - n, e0 = e.size() - n;
    const bool withSaved = static_cast<int>(saved.size()) >= n;
    const size_t s0 = withSaved ? saved.size() - n : 0;

    std::vector<Pt> points;
    points.reserve(m);
    for (int i = 0; i < m; ++i) {
        const int end = n - (m - 1 - i) * b;
        const int start = std::max(0, end - b);
        float sumE = 0, sumTop = 0, sumSaved = 0;
        for (int k = start; k < end; ++k) {
            sumE += e[e0 + k];
            sumTop += p[p0 + k] + e[e0 + k];
            if (withSaved) sumSaved += saved[s0 + k];
        }
        const float count = static_cast<float>(end - start);
        Pt pt;
        pt.id = i;
        pt.t = m == 1 ? 0.0 : -static_cast<double>(n - 1) * (m - 1 - i) / (m - 1);
        pt.e = sumE / count;
        pt.top = sumTop / count;
        pt.saved = sumSaved / count;
        points.push_back(pt);
    }
    return points;
}

std::vector<std::pair<int, int>> wouldHaveUsedRuns(const std::vector<Pt>& points) {
    std::vector<std::pair<int, int>> runs;
    int first = -1;
    for (int i = 0; i < static_cast<int>(points.size()); ++i) {
        if (points[i].saved > 0.005f) {
            if (first < 0) first = i;
        } else if (first >= 0) {
            runs.emplace_back(first, i - 1);
            first = -1;
        }
    }
    if (first >= 0) runs.emplace_back(first, static_cast<int>(points.size()) - 1);
    return runs;
}

double wouldHaveUsed(const Pt& point, int totalCores) {
    return std::min<double>(point.top + point.saved, totalCores);
}

int tickStep(int minutes) { return minutes <= 1 ? 15 : minutes <= 5 ? 60 : 300; }

std::string tickLabel(int t, int minutes) {
    if (t == 0) return "now";
    const int ago = -t;
    if (minutes <= 1) return std::to_string(ago) + " s ago";
    return std::to_string(ago / 60) + " min ago";
}

std::string chartCaption(int samples, int minutes, bool sampleData, bool marketingApps) {
    if (sampleData) return marketingApps ? "" : "SAMPLE DATA: render-only illustration, not measured";
    if (samples >= minutes * 60) return "";
    if (samples > 1)
        return "History starts when Trevlin launches: showing the last " + std::to_string(samples) + " s";
    return "Collecting history…";
}

std::string ageText(int secondsAgo) {
    if (secondsAgo < 1) return "now";
    if (secondsAgo < 60) return std::to_string(secondsAgo) + " s ago";
    return std::to_string(secondsAgo / 60) + " min ago";
}

std::optional<int> hoveredSecondsAgo(std::optional<double> value) {
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return std::max(0, static_cast<int>(std::lround(-*value)));
}

}  // namespace trevlin::ui
