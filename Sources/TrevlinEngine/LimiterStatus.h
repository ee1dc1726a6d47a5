// One limiter's once-a-second account of what it does to its app.
#pragma once

#include "Rule.h"

#include <string>

namespace trevlin {

struct LimiterStatus {
    std::string appName;
    std::string appPath;
    double maxCores = 0;
    Method method = Method::smart;
    double currentCores = 0;
    int processCount = 0;
    bool isThrottling = false;
    int pausedProcessCount = 0;
    int demotedProcessCount = 0;
    double allowedRunFraction = 1.0;
    std::string note;
    std::string summaryLine;
    double unthrottledCores = 0;
    double savedCores = 0;
    PauseState pauseState = PauseState::none;
    std::string pauseDetail;

    /// The value a limiter starts with: name, key, cap and method of its rule.
    static LimiterStatus initial(const std::string& name, const std::string& path, double maxCores, Method method);
    bool operator==(const LimiterStatus&) const = default;
};

}  // namespace trevlin
