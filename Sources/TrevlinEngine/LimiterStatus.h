// One limiter's once-a-second account of what it does to its app.
#pragma once

#include "Rule.h"

#include <string>

namespace trevlin {

struct LimiterStatus {
    std::string appName;
    /// App key: bundle path or "cli:" group key.
    std::string appPath;
    double maxCores = 0;
    Method method = Method::smart;
    /// Smoothed current use, in cores.
    double currentCores = 0;
    int processCount = 0;
    /// The limiter is holding the app back right now.
    bool isThrottling = false;
    /// Processes under stop/continue control, or stopped in pause mode.
    int pausedProcessCount = 0;
    int demotedProcessCount = 0;
    /// Share of each period the duty-cycle candidates may run (0.03...1.0);
    /// in pause mode 0 while held, else 1.0.
    double allowedRunFraction = 1.0;
    std::string note;
    std::string summaryLine;
    double unthrottledCores = 0;
    double savedCores = 0;
    PauseState pauseState = PauseState::none;
    std::string pauseDetail;

    bool operator==(const LimiterStatus&) const = default;
};

}  // namespace trevlin
