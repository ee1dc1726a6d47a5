// `trevlinctl apps`: runs a monitor for a few seconds and prints its latest
// snapshot, as a table or as JSON.

#include "Commands.h"
#include "MainLoop.h"

#include "Journal.h"
#include "LinuxPlatform.h"
#include "Monitor.h"
#include "Platform.h"
#include "Utf8.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

namespace trevlinctl {

using namespace trevlin;
using json = nlohmann::json;

namespace {

json rowJSON(const AppUsage& row) {
    return json{
        {"name", row.name},
        {"key", row.bundlePath},
        {"kind", rawValue(row.kind)},
        {"bundleIdentifier", row.bundleIdentifier ? json(*row.bundleIdentifier) : json(nullptr)},
        {"mainPid", row.mainPid},
        {"processCount", row.processCount},
        {"cores", row.cores},
        {"pCores", row.pCores},
        {"eCores", row.eCores},
        {"isFrontmost", row.isFrontmost},
        {"isUserFacing", row.isUserFacing},
        {"detail", row.detail},
    };
}

json snapshotJSON(const MonitorSnapshot& snap) {
    json loads = json::array();
    for (const auto& c : snap.coreLoads) loads.push_back({{"index", c.index}, {"kind", rawValue(c.kind)}, {"load", c.load}});
    json apps = json::array();
    for (const auto& row : snap.apps) apps.push_back(rowJSON(row));
    return json{{"timestamp", snap.timestamp}, {"totalCores", snap.totalCores}, {"pCores", snap.pCores},
                {"eCores", snap.eCores},       {"coreLoads", loads},              {"apps", apps},
                {"other", rowJSON(snap.other)}};
}

void printTable(const MonitorSnapshot& snap) {
    // Names and keys are whatever bytes a file or process has: a newline in
    // one would start a row of its own.
    struct Row {
        std::string name, key, detail;
        const AppUsage* usage;
    };
    std::vector<Row> rows;
    for (const auto& row : snap.apps) rows.push_back({escapeControls(row.name), escapeControls(row.bundlePath), escapeControls(row.detail), &row});
    rows.push_back({escapeControls(snap.other.name), escapeControls(snap.other.bundlePath), escapeControls(snap.other.detail), &snap.other});
    size_t nameWidth = 4, keyWidth = 3;
    for (const auto& row : rows) {
        nameWidth = std::max(nameWidth, row.name.size());
        keyWidth = std::max(keyWidth, row.key.size());
    }
    const int nw = static_cast<int>(std::min<size_t>(nameWidth, 40));
    const int kw = static_cast<int>(std::min<size_t>(keyWidth, 70));
    std::printf("Total %.2f cores (performance %.2f, efficiency %.2f) on %zu cores\n\n", snap.totalCores, snap.pCores,
                snap.eCores, snap.coreLoads.size());
    std::printf("%-*s  %-*s  %5s  %6s  %6s  %6s  %s\n", nw, "NAME", kw, "KEY", "PROCS", "CORES", "PERF", "EFF",
                "DETAIL");
    for (const auto& row : rows) {
        const AppUsage& u = *row.usage;
        std::printf("%-*s  %-*s  %5d  %6.2f  %6.2f  %6.2f  %s\n", nw, row.name.c_str(), kw, row.key.c_str(),
                    u.processCount, u.cores, u.pCores, u.eCores, row.detail.c_str());
    }
}

/// The paths of TREVLIN_EXTRA_APPS, split on ":" with empty pieces dropped.
std::set<std::string> extraAppsFromEnvironment() {
    std::set<std::string> out;
    const char* v = std::getenv("TREVLIN_EXTRA_APPS");
    if (!v) return out;
    std::string s = v;
    size_t start = 0;
    while (start <= s.size()) {
        size_t end = s.find(':', start);
        if (end == std::string::npos) end = s.size();
        if (end > start) out.insert(s.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

}  // namespace

int runApps(const Args& args) {
    double seconds = 2;
    bool asJSON = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") {
            asJSON = true;
        } else if (a == "--seconds") {
            if (i + 1 >= args.size()) return usageError("apps: --seconds needs a number");
            const std::string& v = args[++i];
            char* end = nullptr;
            seconds = std::strtod(v.c_str(), &end);
            if (v.empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0)
                return usageError("apps: --seconds needs a positive number, not \"" + v + "\"");
        } else {
            return usageError("apps: unknown option \"" + a + "\"");
        }
    }

    MainLoop loop;
    auto context = EngineContext::make(std::make_shared<LinuxPlatform>(), loop.hook());
    Platform& platform = context->platform();
    // What an earlier run left stopped is resumed before anything is
    // measured, so no figure is that of a frozen process.
    Journal::recoverOrphans(platform, platform.dataDirectory());
    Monitor monitor(context, SystemInfo::read(platform));
    monitor.setHiddenAppPaths({platform.ownBundlePath()});
    monitor.setExtraAppPaths(extraAppsFromEnvironment());
    monitor.start();
    loop.runFor(seconds);
    // Under a second there is no tick yet: wait for the first one.
    loop.runUntil([&] { return monitor.latest().has_value(); }, 5.0);
    monitor.stop();
    auto snap = monitor.latest();
    if (!snap) {
        std::fprintf(stderr, "trevlinctl: apps: the monitor published nothing\n");
        return 1;
    }
    if (asJSON) std::printf("%s\n", snapshotJSON(*snap).dump(2).c_str());
    else printTable(*snap);
    return 0;
}

}  // namespace trevlinctl
