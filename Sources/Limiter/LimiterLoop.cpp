#include "LimiterLoop.h"

#include "LimiterTuning.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace trevlin {

namespace {

/// Seconds between two pause-mode catch-up windows: the usual interval, or
/// a number above 0 from TREVLIN_CATCHUP_TEST_SECONDS.
double catchUpIntervalFromEnvironment() {
    const double usual = LimiterTuning::kCatchUpIntervalSeconds;
    const char* text = std::getenv("TREVLIN_CATCHUP_TEST_SECONDS");
    if (!text || !*text || std::isspace(static_cast<unsigned char>(*text))) return usual;
    char* end = nullptr;
    double v = std::strtod(text, &end);
    // The whole text must be the number: "10s" is not ten seconds.
    if (end == text || *end != '\0' || !std::isfinite(v) || v <= 0) return usual;
    return v;
}

}  // namespace

LimiterLoop::LimiterLoop(EngineContext& context, LimiterShared& shared, AppMatch app, Journal& journal,
                         LoopContext::TargetProvider customTargets, LoopContext::StatusCallback onStatus,
                         std::function<double()> periodMs, Semaphore& wake)
    : loop_(context, shared, std::move(app), journal, std::move(customTargets), std::move(onStatus)),
      duty_(loop_),
      pause_(loop_, catchUpIntervalFromEnvironment()),
      periodMs_(std::move(periodMs)),
      wake_(wake) {
    const Rule rule = shared.rule();
    previousMethod_ = rule.method;
    previousAlwaysEfficiency_ = rule.alwaysEfficiency;
}

bool LimiterLoop::run(bool maySleep) {
    bool sleeps = false;
    for (;;) {
        if (loop_.shared.quitRequested()) break;
        const double periodMs = periodMs_ ? periodMs_() : 100.0;
        const Rule rule = loop_.shared.rule();
        adaptTo(rule);
        if (rule.method == Method::pause) {
            pause_.turn(rule);
            if (loop_.shared.quitRequested()) break;
            wake_.wait(LimiterTuning::kPauseTurnSeconds);
        } else if (!duty_.tick(rule, periodMs)) {
            break;
        }
        if (maySleep && loop_.records.empty() &&
            loop_.now() - loop_.lastSeenProcess() >= LimiterTuning::kIdleSecondsBeforeSleep) {
            sleeps = true;
            break;
        }
    }
    restore();
    return sleeps;
}

void LimiterLoop::adaptTo(const Rule& rule) {
    ProcessRecords& records = loop_.records;
    if (rule.method != previousMethod_) {
        // A new method starts from a clean slate: everything runs again at
        // normal priority before the new method takes over. The duty
        // cycle's smoothing carries over; pause mode starts over.
        for (Pid pid : records.pids()) records.letGo(pid, ProcessRecords::kEverything);
        records.flush();
        loop_.shared.clearHeld();
        pause_.reset();
    } else if (previousAlwaysEfficiency_ && !rule.alwaysEfficiency) {
        for (Pid pid : records.pids())
            if (records.find(pid)->pinned) records.letGo(pid, ProcessRecords::kPromote);
        records.flush();
    }
    previousMethod_ = rule.method;
    previousAlwaysEfficiency_ = rule.alwaysEfficiency;
}

void LimiterLoop::restore() {
    loop_.records.restoreAll();
    loop_.shared.clearHeld();
    loop_.shared.setFrontSet({});
    loop_.shared.clearStatusFigures();
}

}  // namespace trevlin
