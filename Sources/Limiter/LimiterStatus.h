// One limiter's once-a-second account of what it does to its app.
#pragma once

#include "Rule.h"

#include <optional>
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
    /// Spared because the desktop does not tell which app is in front.
    bool pauseFrontUnknown = false;
    /// Processes of the app someone else stopped (Ctrl-Z, a debugger), which
    /// the limiter leaves stopped.
    int stoppedByUserCount = 0;
    /// Why new processes are not held: the journal cannot be written (its
    /// line is the summary then); empty otherwise.
    std::string notHolding;

    /// The value a limiter starts with: name, key, cap and method of its rule.
    static LimiterStatus initial(const std::string& name, const std::string& path, double maxCores, Method method);

    /// What a duty-cycle limiter (smart, strict, ecores) measured this second.
    struct DutyCycleFacts {
        double currentCores = 0;   ///< smoothed use
        int processCount = 0;      ///< live processes seen
        int candidateCount = 0;    ///< processes under stop/continue control
        int demotedCount = 0;
        double fraction = 1.0;     ///< allowed run fraction
        std::string note;
        double unthrottledCores = 0;
        double savedCores = 0;
        int stoppedByUserCount = 0;
        std::optional<int> journalRefusal;  ///< errno of the journal write that failed
    };
    static LimiterStatus dutyCycle(const std::string& name, const std::string& path, double maxCores, Method method,
                                   const DutyCycleFacts& facts);

    /// What the pause loop knows this second.
    struct PauseFacts {
        PauseState state = PauseState::inFront;
        double currentCores = 0;
        int processCount = 0;      ///< process records
        int stoppedCount = 0;      ///< records stopped right now
        std::string reason;        ///< why the app is spared (state `spared`)
        bool frontUnknown = false; ///< spared because the desktop does not tell which app is in front
        double cappedEstimate = 0; ///< unthrottled estimate, bounded by what the machine could give
        int stoppedByUserCount = 0;
        std::optional<int> journalRefusal;  ///< errno of the journal write that failed
    };
    static LimiterStatus pause(const std::string& name, const std::string& path, double maxCores,
                               const PauseFacts& facts);

    bool operator==(const LimiterStatus&) const = default;
};

namespace LimiterNotes {
/// `ecores` over its cap with nothing left to move.
extern const char* const ecoresNothingLeft;
/// `smart` over its cap with what is left spared because it is in front.
extern const char* const smartRestInFront;
/// `strict` over its cap with what is left in processes never stopped.
extern const char* const strictRestUntouchable;
/// `smart` while the desktop does not tell which app is in front.
extern const char* const smartFrontUnknown;
}  // namespace LimiterNotes

}  // namespace trevlin
