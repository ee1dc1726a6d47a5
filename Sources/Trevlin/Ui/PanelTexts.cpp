#include "PanelTexts.h"

#include "AppKey.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace trevlin::ui::PanelTexts {

namespace {

std::string format(const char* fmt, double value) {
    char text[64];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

}  // namespace

std::string limitingSummary(bool masterEnabled, bool autoEnabled) {
    if (!masterEnabled) return "Limiting is off, monitoring only";
    if (autoEnabled) return "On: Automatic, asks before limiting an app";
    return "On: custom rules only";
}

std::string questionHeadline(const std::string& name, double cores) {
    return name + " is using " + format("%.1f", cores) + " cores";
}

std::string questionDetail(double triggerCores, double overSeconds) {
    const double seconds = std::isfinite(overSeconds) ? std::round(overSeconds) : 0.0;
    return "Over " + format("%g", triggerCores) + " cores in the background for " + format("%.0f", seconds) + " s.";
}

std::string limitAnswerTitle(const std::string& autoAction, const std::string& path) {
    return autoAction == "pause" && !AppKey::isGroupKey(path) ? "Pause" : "Limit";
}

std::string loadFigure(double totalCores) { return format("%.1f", totalCores); }

std::string loadCaption(int coreCount) { return "of " + std::to_string(coreCount) + " cores in use"; }

std::optional<std::string> savingsLine(const SavingsSummary& savings) {
    if (!(savings.todayCoreHours >= 0.05)) return std::nullopt;
    std::string line = savings.nowCores >= 0.05 ? "Saving " + format("%.1f", savings.nowCores) + " cores now"
                                                : format("%.1f", savings.todayCoreHours) + " core-h today";
    return line + " est.";
}

std::string appCores(double cores) { return format("%.2f", cores); }

std::string editRuleTooltip(const std::string& name) { return "Edit the rule for " + name; }

std::string trayFigure(const std::string& labelText) {
    char* end = nullptr;
    const double value = std::strtod(labelText.c_str(), &end);
    if (end != labelText.c_str() && value >= 100) return format("%.0f", std::floor(value));
    return labelText;
}

std::string trayTooltip(const std::string& labelText) { return "Trevlin: " + labelText + " cores in use"; }

}  // namespace trevlin::ui::PanelTexts
