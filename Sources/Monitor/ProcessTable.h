// One walk of the process list a second, shared by every limiter.
//
// Each limiter asks which live processes belong to its app. Asking the
// system once per limiter made twenty rules for apps that were not even
// running walk every process twenty times a second. The table lists the
// processes at most once a second and keeps, per pid, the two facts that
// decide membership (its executable and its responsible process). A process
// changes them only by running another program or moving to another session
// or app unit, which happens in its first moments (a shell puts a job in its
// own group, a desktop moves a launched app into its unit) and rarely after.
// So the facts are read when the pid first appears, again 10 s later (as
// long as a scanner used to trust "not mine"), and then once a minute,
// spread over the minute so that no listing pays for them all: reading them
// every 10 s for life cost more than the listing itself. Scanners read their
// own members afresh on every pass and hand what they read back here.
// Command-line launchers are classified once per launcher pid, as long as
// it lives.
//
// A snapshot is immutable and shared: any number of scanners read it
// without locks. Its indexes answer "could this app or group have a process
// now?" without a pass over every process, so a rule whose app is not
// running costs a lookup a second.
#pragma once

#include "Platform.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace trevlin {

class RunningApps;

/// What decides whether a process belongs to an app or a group.
struct MembershipFacts {
    /// The responsible process as the platform reports it; 0 when unknown.
    Pid responsible = 0;
    /// Executable path; "" when unreadable.
    std::string exe;
    bool operator==(const MembershipFacts&) const = default;
};

class ProcessSnapshot {
public:
    ProcessSnapshot() = default;
    // Its indexes point into its own members: never copied.
    ProcessSnapshot(const ProcessSnapshot&) = delete;
    ProcessSnapshot& operator=(const ProcessSnapshot&) = delete;

    /// When the processes were listed (monotonic seconds).
    double time = 0;
    /// Every live pid above 0, in listing order.
    std::vector<Pid> pids;
    /// The desktop's running applications at that moment.
    std::vector<RunningAppInfo> apps;
    /// Pids of running apps with a bundle, and the outermost bundles they run from.
    std::set<Pid> runningPids;
    std::set<std::string> runningTops;

    /// The facts of a listed pid; absent for a pid not listed.
    const MembershipFacts* facts(Pid pid) const;
    /// The group key ("cli:…") of the processes `launcher` started, when it
    /// is a process that may launch a group; absent otherwise.
    const std::string* launcherKey(Pid launcher) const;

    /// False only when no process can belong to the app at `bundle`: no
    /// running app is at or inside it and no executable lies inside it.
    bool mayHaveAppProcesses(const std::string& bundle) const;
    /// False only when no launcher of group `key` has started a process.
    bool mayHaveGroupProcesses(const std::string& key) const;

private:
    friend class ProcessTable;
    /// Per listed pid, sorted by pid. Facts are shared with the table and
    /// with other snapshots: a steady process costs no copy per listing.
    std::vector<std::pair<Pid, std::shared_ptr<const MembershipFacts>>> facts_;
    std::unordered_map<Pid, std::string> launcherKeys_;
    // Built on first use: a listing that nobody asks about costs nothing more.
    mutable std::once_flag pathsOnce_;
    /// Every running app's bundle and every executable inside a bundle, sorted.
    mutable std::vector<std::string_view> paths_;
    mutable std::once_flag allPathsOnce_;
    /// The same with every executable, for a key that is no bundle path.
    mutable std::vector<std::string_view> allPaths_;
    mutable std::once_flag groupsOnce_;
    /// Every group key some listed process belongs to.
    mutable std::set<std::string> groups_;
};

class ProcessTable {
public:
    /// How old a snapshot may be before the next request lists anew.
    static constexpr double kMaxAgeSeconds = 1.0;
    /// A pid's facts are read again this long after it first appeared...
    static constexpr double kFactsRecheckSeconds = 10.0;
    /// ...and from then on once in this long.
    static constexpr double kFactsSettledSeconds = 60.0;

    ProcessTable(Platform& platform, RunningApps& runningApps);
    ProcessTable(const ProcessTable&) = delete;
    ProcessTable& operator=(const ProcessTable&) = delete;

    /// The current snapshot, listed anew first when it is a second old or
    /// more. Callers from several threads share one listing; the one that
    /// comes first pays for it.
    std::shared_ptr<const ProcessSnapshot> snapshot();

    /// Facts of `pid` read afresh by a scanner: the next snapshots use them.
    void remember(Pid pid, const MembershipFacts& facts);

    /// How many times the processes were listed (for tests and benchmarks).
    long listings();

private:
    std::shared_ptr<const ProcessSnapshot> refreshLocked(double t);

    Platform& platform_;
    RunningApps& runningApps_;
    std::mutex lock_;  // guards everything below
    std::shared_ptr<const ProcessSnapshot> current_;
    struct Cached {
        std::shared_ptr<const MembershipFacts> facts;
        double nextRead = 0;  ///< when to read them again
        bool rechecked = false;
    };
    std::unordered_map<Pid, Cached> cache_;
    /// Per launcher pid, its group key or nothing; kept while it is listed.
    std::unordered_map<Pid, std::optional<std::string>> launchers_;
    long listings_ = 0;
};

}  // namespace trevlin
