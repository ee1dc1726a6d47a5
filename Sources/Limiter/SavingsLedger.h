// Core-hours kept away from held apps, per app and per local calendar day,
// for the last seven days, kept in savings.json.
//
// Every limiter reports once a second how many cores it keeps away from its
// app right now; the ledger turns consecutive reports into core-seconds
// (never more than 3 s per report, so a gap in reports never counts as
// saving) and writes the file at most every 30 s while savings accrue.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace trevlin {

struct SavingsSummary {
    /// Live savings reported within the last 3 s, in cores.
    double nowCores = 0;
    std::map<std::string, double> nowByKey;
    double todayCoreHours = 0;
    std::map<std::string, double> todayByKey;
    double last7DaysCoreHours = 0;
    /// Seven entries, oldest first, today last: day key and core-hours.
    std::vector<std::pair<std::string, double>> days;
};

class SavingsLedger {
public:
    struct Day {
        double total = 0;                     ///< core-seconds saved that day by all apps
        std::map<std::string, double> apps;   ///< app key → core-seconds
        bool operator==(const Day&) const = default;
    };

    /// The file holds seven days of core-seconds per app, some 80 bytes per
    /// app and day: this is room for about 15,000 apps every day. A larger
    /// file is none this program wrote; it is moved aside unread.
    static constexpr size_t maxFileBytes = 8 * 1024 * 1024;

    /// Custom clocks: `uptime` in seconds (report intervals, write interval),
    /// `wallClock` in seconds since 1970 (calendar days).
    SavingsLedger(std::function<double()> uptime, std::function<double()> wallClock);

    /// One limiter's once-a-second report of the cores it keeps away now.
    void record(const std::string& key, double savedCores);
    /// Forgets the app's live value (its limiter stopped).
    void stop(const std::string& key);
    /// Sum of the live values reported within the last 3 s.
    double currentSavedCores();
    /// Totals for the local calendar day of `wallSeconds` and the six before it.
    SavingsSummary summary(double wallSeconds);
    /// Loads `path` (merging its days over those in memory) and writes there
    /// from now on. A file that does not decode or is above `maxFileBytes`
    /// is moved aside (never over an earlier one) and never read again.
    void enablePersistence(const std::string& path);
    /// Writes the file when something changed since the last write.
    void flush();

    std::map<std::string, Day> days();
    bool isDirty();
    int writes();

    /// The local calendar day of a wall-clock time, "2026-03-07".
    static std::string dayKey(double wallSeconds);

    /// Decodes the text of a savings file into its days; absent when it is not one.
    static std::optional<std::map<std::string, Day>> decode(const std::string& text);

private:
    void writeLocked();
    void pruneLocked(double wallSeconds);

    std::mutex lock_;
    std::function<double()> uptime_;
    std::function<double()> wallClock_;
    std::map<std::string, Day> days_;
    std::map<std::string, std::pair<double, double>> live_;  // key → (uptime, cores)
    std::optional<std::string> path_;
    bool dirty_ = false;
    double lastWrite_ = 0;
    const double writeInterval_ = 30.0;
    int writes_ = 0;
};

}  // namespace trevlin
