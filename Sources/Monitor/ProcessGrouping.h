// Attributes processes to rows: apps (through the app table) and
// command-line groups (through their launcher), with the per-program
// smoothing behind a group's detail text.
//
// Owned by the monitor and used only on its queue: no lock.
#pragma once

#include "AppTable.h"
#include "MonitorTypes.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace trevlin {

/// One live command-line group.
struct CliRec {
    std::string name;
    std::string exe;         ///< the launcher's executable path (or bare name)
    Pid launcherPid = 0;     ///< becomes the row's main pid
    std::map<std::string, double> ema;  ///< smoothed cores per program in the group
    std::map<std::string, int> count;   ///< processes per program in the latest pass
    bool operator==(const CliRec&) const = default;
};

/// What one pass measured for one row.
struct Acc {
    double total = 0;  ///< CPU seconds since the previous pass
    double p = 0;      ///< the part of it on performance cores
    int count = 0;     ///< the row's processes seen in this pass
    std::map<std::string, double> progs;  ///< CPU seconds per program (command-line groups)
    std::map<std::string, int> progCount; ///< processes per program (command-line groups)
};

class ProcessGrouping {
public:
    /// How long a launcher verdict for a pid stays valid.
    static constexpr double launcherRecheckSeconds = 10.0;
    /// Weight of the previous smoothed value of a program at each pass.
    static constexpr double emaDecay = 0.6;
    /// A program no longer running is forgotten below this many cores.
    static constexpr double emaDropBelow = 0.002;

    explicit ProcessGrouping(Platform& platform) : platform_(platform) {}

    /// Rebuilds the app table from the running applications; called at the
    /// start of every pass.
    void rebuildAppTable(const std::vector<RunningAppInfo>& running, const std::set<std::string>& hidden,
                         const std::set<std::string>& extra);
    const AppTable& appTable() const { return table_; }

    /// The row key of `pid`: its app, the app of its responsible process, the
    /// group it launched itself (a launcher verdict already cached for the
    /// pid), or the launcher group of its responsible process. Absent when
    /// none applies.
    std::optional<std::string> resolve(Pid pid);
    /// The same from facts the caller already has: the executable path of
    /// `pid` and its responsible process (0 when unknown).
    std::optional<std::string> resolve(Pid pid, const std::string& exe, Pid responsible);

    /// The "cli:" key when `pid` is a launcher (verdicts are cached for 10 s),
    /// registering the group or handing it to `pid` when its launcher is gone.
    std::optional<std::string> launcherKey(Pid pid);

    /// The group `pid` launched, when a launcher verdict names one.
    std::optional<std::string> launchedGroup(Pid pid) const {
        auto it = launcherCache_.find(pid);
        return it == launcherCache_.end() ? std::nullopt : it->second.key;
    }

    /// The command-line rows of one full pass; forgets groups without
    /// processes in it.
    std::vector<AppUsage> commandLineRows(const std::unordered_map<std::string, Acc>& accs, double dt);

    /// Drops cached verdicts of pids that are neither in `alive` nor exist.
    void pruneLauncherCache(const std::unordered_set<Pid>& alive);

    /// Up to two of the group's busiest programs, joined by ", ", never the
    /// launcher itself or Trevlin.
    static std::string detailText(const CliRec& rec);

    const std::map<std::string, CliRec>& cli() const { return cli_; }
    struct LauncherVerdict {
        std::optional<std::string> key;
        double checked = 0;
    };
    const std::unordered_map<Pid, LauncherVerdict>& launcherCache() const { return launcherCache_; }

private:
    /// Executable path of a responsible process, read once per pass: many
    /// processes share one responsible process.
    const std::string& responsibleExe(Pid pid);

    Platform& platform_;
    AppTable table_;
    std::unordered_map<Pid, std::string> responsibleExe_;
    std::map<std::string, CliRec> cli_;
    std::unordered_map<Pid, LauncherVerdict> launcherCache_;
};

}  // namespace trevlin
