// The monitor's published values: one snapshot per tick with a row per app or
// command-line group, and the history of the last 30 minutes.
#pragma once

#include "Platform.h"
#include "SystemInfo.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace trevlin {

struct CoreLoad {
    int index = 0;
    CoreKind kind = CoreKind::performance;
    double load = 0;  ///< busy fraction over the last tick, 0 to 1
    bool operator==(const CoreLoad&) const = default;
};

enum class AppKind { app, commandLine };
const char* rawValue(AppKind kind);

/// One row of a snapshot. Its identity is `bundlePath`.
struct AppUsage {
    std::string name;
    std::string bundlePath;                 ///< row key; empty for "Other / system"
    std::optional<std::string> bundleIdentifier;
    Pid mainPid = 0;
    int processCount = 0;
    double cores = 0;
    double pCores = 0;
    double eCores = 0;
    bool isFrontmost = false;
    bool isUserFacing = false;
    AppKind kind = AppKind::app;
    std::string detail;
    bool operator==(const AppUsage&) const = default;
};

struct MonitorSnapshot {
    double timestamp = 0;  ///< wall-clock seconds since 1970
    std::vector<CoreLoad> coreLoads;
    double totalCores = 0;
    double pCores = 0;
    double eCores = 0;
    std::vector<AppUsage> apps;  ///< sorted by cores descending, then name ascending
    AppUsage other;              ///< "Other / system", not in `apps`
    /// Whether the desktop told which app was in front (`isFrontmost`);
    /// while it does not, no app may be taken for one in the background.
    bool frontKnown = true;
};

/// A copy of the history; every series oldest first.
struct MonitorHistory {
    static constexpr int capacity = 1800;
    double interval = 1.0;
    double endTime = 0;  ///< wall-clock seconds since 1970 of the newest point
    std::vector<float> systemTotal;
    std::vector<float> systemP;
    std::vector<float> systemE;
    std::vector<float> saved;
    std::vector<float> other;
    std::map<std::string, std::vector<float>> apps;
};

}  // namespace trevlin
