// The work of one limiter's thread: the duty cycle or pause mode, as the
// rule's method says, switching cleanly when it changes, and letting every
// process go when it ends.
#pragma once

#include "DutyCycle.h"
#include "LoopContext.h"
#include "PauseLoop.h"
#include "Semaphore.h"

#include <functional>

namespace trevlin {

class LimiterLoop {
public:
    LimiterLoop(EngineContext& context, LimiterShared& shared, AppMatch app, Journal& journal,
                LoopContext::TargetProvider customTargets, LoopContext::StatusCallback onStatus,
                std::function<double()> periodMs, Semaphore& wake);

    /// Loops until asked to quit, then restores every process. With
    /// `maySleep` it also ends once the app has had no process for a few
    /// seconds; returns whether it ended for that.
    bool run(bool maySleep);

private:
    /// Takes in a changed method or `alwaysEfficiency` before the next step.
    void adaptTo(const Rule& rule);
    void restore();

    LoopContext loop_;
    DutyCycle duty_;
    PauseLoop pause_;
    const std::function<double()> periodMs_;
    Semaphore& wake_;
    Method previousMethod_;
    bool previousAlwaysEfficiency_;
};

}  // namespace trevlin
