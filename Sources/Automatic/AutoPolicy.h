// Automatic mode's decisions: which busy background apps to ask about, limit
// and release, judged afresh on every monitor snapshot. The policy touches no
// process; the app model turns its decisions into rules and questions.
#pragma once

#include "LimiterStatus.h"
#include "MonitorTypes.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace trevlin {

struct AutoConfig {
    /// An app is busy while its use is strictly above this many cores.
    double triggerCores = 2.0;
    /// How long it must stay busy before the policy acts.
    double triggerSeconds = 10.0;
    /// The cap given with a limit decision.
    double limitCores = 1.0;
    /// How long a limited app must stay quiet before it is released.
    double releaseQuietSeconds = 15.0;
    /// How long a question stays open, and how long after an ignored one the
    /// policy stays silent about the app.
    double askCooldownSeconds = 600.0;

    bool operator==(const AutoConfig&) const = default;
};

/// The user's standing wish for one app, as the caller reports it.
enum class AutoStance { ask, always, never, skip };

struct AutoQuestion {
    std::string path;
    std::string name;
    /// Use at the moment of asking.
    double cores = 0;
    /// How long the app has been above the trigger.
    double overSeconds = 0;

    bool operator==(const AutoQuestion&) const = default;
};

struct AutoDecision {
    enum class Kind { limit, release, ask };

    Kind kind = Kind::release;
    std::string path;
    /// `limit` only: display name and cap.
    std::string name;
    double cores = 0;
    /// `ask` only.
    AutoQuestion question;

    static AutoDecision limit(std::string path, std::string name, double cores);
    static AutoDecision release(std::string path);
    static AutoDecision ask(AutoQuestion question);

    bool operator==(const AutoDecision&) const = default;
};

class AutoPolicy {
public:
    using StanceFunction = std::function<AutoStance(const std::string& path)>;

    explicit AutoPolicy(AutoConfig initial = AutoConfig()) : config(initial) {}

    /// Read and written freely; the next evaluation uses it.
    AutoConfig config;

    /// Judges one snapshot's rows (in snapshot order) and returns the
    /// decisions: per-app decisions in row order, then the releases of
    /// limited apps that are no longer listed. `now` is monotonic seconds.
    /// While the desktop does not tell which app is in front (`frontKnown`
    /// false), any app may be the one in use: nothing new is asked about or
    /// limited, and what is held already keeps following its rules.
    std::vector<AutoDecision> evaluate(const std::vector<AppUsage>& apps,
                                       const std::map<std::string, LimiterStatus>& statuses,
                                       const StanceFunction& stance, double now, bool frontKnown = true);

    /// The user chose to limit the app.
    void markLimited(const std::string& path);
    /// The user ignored the question; the app must be busy for a new full
    /// trigger period before the cooldown is even looked at.
    void markIgnored(const std::string& path, double now);
    /// Drops the app's state; the next evaluation starts it afresh.
    void forget(const std::string& path);
    /// Returns the paths held limited, then drops all state.
    std::vector<std::string> reset();
    std::set<std::string> limitedPaths() const;

private:
    struct State {
        std::optional<double> overSince;
        bool limited = false;
        std::optional<double> quietSince;
        std::optional<double> askPendingSince;
        std::optional<double> lastIgnored;
    };

    /// The limiter has nothing to hold back right now.
    static bool isQuiet(const std::map<std::string, LimiterStatus>& statuses, const std::string& path);

    std::map<std::string, State> states_;
};

}  // namespace trevlin
