#include "LimiterStatus.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace trevlin {

namespace LimiterNotes {
const char* const ecoresNothingLeft = "over the cap, but what's left is the part you're using or already on efficiency cores";
const char* const smartRestInFront = "over the cap: the rest is what you're using right now, which smart mode won't pause";
const char* const strictRestUntouchable = "over the cap: the rest is in processes that are never paused";
const char* const smartFrontUnknown =
    "this desktop doesn't tell which app is in front, so smart mode holds the cap like strict";
}  // namespace LimiterNotes

namespace {

std::string format(const char* fmt, auto... args) {
    int n = std::snprintf(nullptr, 0, fmt, args...);
    if (n <= 0) return "";
    std::string out(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), fmt, args...);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string savingSuffix(double savedCores) {
    return savedCores > 0.005 ? format(", saving ~%.2f cores (est.)", savedCores) : "";
}

/// "; 2 process(es) stopped by you", or nothing.
std::string userStops(int count) {
    return count > 0 ? "; " + std::to_string(count) + " process(es) stopped by you" : "";
}

/// The one line that replaces the summary while the journal cannot be
/// written: nothing new is stopped or moved then.
void explainRefusal(LimiterStatus& s, const std::optional<int>& refusal) {
    if (!refusal) return;
    s.notHolding = std::string("Not holding: the journal cannot be written: ") + std::strerror(*refusal);
    s.summaryLine = s.notHolding;
}

/// The fraction as a whole percentage, truncated: 0.999 is 99 %. The small
/// allowance keeps 0.29 at 29 rather than the 28 its binary value would give.
long percentTruncated(double fraction) { return static_cast<long>(std::floor(fraction * 100.0 + 1e-9)); }

}  // namespace

LimiterStatus LimiterStatus::initial(const std::string& name, const std::string& path, double maxCores,
                                     Method method) {
    LimiterStatus s;
    s.appName = name;
    s.appPath = path;
    s.maxCores = maxCores;
    s.method = method;
    s.allowedRunFraction = 1.0;
    return s;
}

LimiterStatus LimiterStatus::dutyCycle(const std::string& name, const std::string& path, double maxCores,
                                       Method method, const DutyCycleFacts& f) {
    LimiterStatus s = initial(name, path, maxCores, method);
    s.currentCores = f.currentCores;
    s.processCount = f.processCount;
    s.demotedProcessCount = f.demotedCount;
    const bool cycling = method != Method::ecores && f.fraction < 1.0;
    s.isThrottling = cycling || f.demotedCount > 0;
    s.pausedProcessCount = cycling ? f.candidateCount : 0;
    s.unthrottledCores = f.unthrottledCores;
    s.savedCores = f.savedCores;
    s.allowedRunFraction = f.fraction;
    s.note = f.note;

    std::string detail;
    if (f.processCount == 0) {
        detail = "not running";
    } else if (method == Method::ecores) {
        detail = f.demotedCount > 0 ? std::to_string(f.demotedCount) + " process(es) on efficiency cores"
                                    : "nothing demoted";
    } else if (f.fraction < 1.0) {
        detail = "pausing " + std::to_string(f.candidateCount) + " busy process(es), allowed " +
                 std::to_string(percentTruncated(f.fraction)) + "% run time";
    } else {
        detail = "not pausing anything";
    }
    const std::string note = f.note.empty() ? "" : "; " + f.note;
    s.summaryLine = format("%s is using %.2f of %.2f cores (%d processes): %s%s", name.c_str(), f.currentCores,
                           maxCores, f.processCount, detail.c_str(), note.c_str()) +
                    userStops(f.stoppedByUserCount) + savingSuffix(f.savedCores);
    s.stoppedByUserCount = f.stoppedByUserCount;
    explainRefusal(s, f.journalRefusal);
    s.pauseState = PauseState::none;
    return s;
}

LimiterStatus LimiterStatus::pause(const std::string& name, const std::string& path, double maxCores,
                                   const PauseFacts& f) {
    LimiterStatus s = initial(name, path, maxCores, Method::pause);
    s.pauseState = f.state;
    s.currentCores = f.currentCores;
    s.processCount = f.processCount;
    s.pausedProcessCount = f.stoppedCount;
    s.demotedProcessCount = 0;
    const bool held = f.state == PauseState::paused && f.stoppedCount > 0;
    s.isThrottling = held;
    s.allowedRunFraction = held ? 0.0 : 1.0;
    s.unthrottledCores = held ? std::max(f.cappedEstimate, f.currentCores) : f.currentCores;
    s.savedCores = held ? std::max(f.cappedEstimate - f.currentCores, 0.0) : 0.0;
    s.pauseDetail = f.state == PauseState::spared ? f.reason : "";
    s.pauseFrontUnknown = f.state == PauseState::spared && f.frontUnknown;

    const std::string cores = format("%.2f", f.currentCores);
    switch (f.state) {
        case PauseState::none: s.summaryLine = name + ": pause is not available for command-line groups"; break;
        case PauseState::inFront:
            s.summaryLine = f.processCount > 0 ? name + " in front, running (using " + cores + " cores)"
                                               : name + " not running";
            break;
        case PauseState::paused:
            s.summaryLine = name + " paused in background (" + std::to_string(f.stoppedCount) + " of " +
                            std::to_string(f.processCount) + " processes stopped)";
            break;
        case PauseState::spared:
            // Unknown is not "in the background": the line says only what is known.
            s.summaryLine = f.frontUnknown ? name + " not paused: it is " + f.reason
                                           : name + " in background, not paused: " + f.reason;
            break;
        case PauseState::catchUp:
            s.summaryLine = name + " catching up for a few seconds (using " + cores + " cores), then paused again";
            break;
    }
    s.summaryLine += userStops(f.stoppedByUserCount) + savingSuffix(s.savedCores);
    s.stoppedByUserCount = f.stoppedByUserCount;
    explainRefusal(s, f.journalRefusal);
    return s;
}

}  // namespace trevlin
