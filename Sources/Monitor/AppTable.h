// The table of running apps the monitor shows as rows, rebuilt at every full
// pass from the desktop's list of running applications.
//
// Every app is keyed by its outermost bundle, so a helper app inside another
// app's bundle counts as that app. Background-only and hidden apps give no
// row, but their pids and bundles are still remembered: their processes are
// app processes, never command-line launchers.
#pragma once

#include "Platform.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace trevlin {

/// One app row's facts.
struct AppRec {
    std::string name;
    std::optional<std::string> bundleID;
    Pid mainPid = 0;   ///< lowest pid whose own bundle is the top bundle; 0 = none
    Pid anyPid = 0;    ///< lowest pid seen for the bundle; 0 for an extra path with nothing running
    bool isRow = true;
    bool regular = false;  ///< the top bundle's own process has the regular activation policy
    bool operator==(const AppRec&) const = default;
};

struct AppTable {
    /// Top bundle path → app.
    std::map<std::string, AppRec> apps;
    /// Pid of a running app → its top bundle path, for apps in `apps`.
    std::unordered_map<Pid, std::string> pidToApp;
    /// Pids of every running app with a bundle, rows or not.
    std::set<Pid> runningAppPids;
    /// Top bundle paths of those apps.
    std::set<std::string> runningAppTops;

    /// Builds the table from `running` (the desktop's running applications).
    /// Bundles in `hidden` give no row; bundles in `extra` always give one.
    static AppTable build(const std::vector<RunningAppInfo>& running, const std::set<std::string>& hidden,
                          const std::set<std::string>& extra);

    /// The top bundle in the table that holds the executable at `exePath`.
    std::optional<std::string> bundleKeyForExecutable(const std::string& exePath) const;
};

}  // namespace trevlin
