// The values through which the rest of the program sees the monitor: one
// snapshot per tick with a row per app or command-line group, and a copy of
// the last 30 minutes of history.
#pragma once

#include "Platform/Platform.h"
#include "SystemInfo.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace trevlin {

/// Busy fraction of one core over the last tick.
struct CoreLoad {
    int index = 0;
    CoreKind kind = CoreKind::performance;
    double load = 0;  // 0 to 1

    bool operator==(const CoreLoad&) const = default;
};

enum class AppKind { app, commandLine };

/// One row of the snapshot; its identity is `bundlePath`.
struct AppUsage {
    std::string name;
    /// Row key: the outermost bundle path, an extra path, or a "cli:" key;
    /// empty for "Other / system".
    std::string bundlePath;
    /// Absent for command-line groups, extra paths and "Other / system".
    std::optional<std::string> bundleIdentifier;
    /// The app's main process; the launcher pid for a command-line group; 0 when none.
    Pid mainPid = 0;
    int processCount = 0;
    double cores = 0;
    /// Part of `cores` on performance cores, never above `cores`.
    double pCores = 0;
    /// `cores` - `pCores`, never below 0.
    double eCores = 0;
    bool isFrontmost = false;
    bool isUserFacing = false;
    AppKind kind = AppKind::app;
    /// For a command-line group up to two busy program names joined by ", ".
    std::string detail;

    bool operator==(const AppUsage&) const = default;
};

struct MonitorSnapshot {
    /// Wall-clock seconds since 1970 when the tick published it.
    double timestamp = 0;
    std::vector<CoreLoad> coreLoads;
    double totalCores = 0;
    double pCores = 0;
    double eCores = 0;
    /// Sorted by cores descending, then name ascending.
    std::vector<AppUsage> apps;
    /// The "Other / system" row (not in `apps`).
    AppUsage other;

    bool operator==(const MonitorSnapshot&) const = default;
};

/// A copy of the monitor's history; every series runs oldest first.
struct MonitorHistory {
    static constexpr int capacity = 1800;

    double interval = 1.0;
    /// Wall-clock seconds since 1970 of the newest point.
    double endTime = 0;
    std::vector<float> systemTotal;
    std::vector<float> systemP;
    std::vector<float> systemE;
    std::vector<float> saved;
    std::vector<float> other;
    std::map<std::string, std::vector<float>> apps;

    bool operator==(const MonitorHistory&) const = default;
};

inline const char* rawValue(AppKind kind) { return kind == AppKind::app ? "app" : "commandLine"; }

}  // namespace trevlin
