// Pause mode: the app's processes are held stopped while it is in the
// background, and run while it is in front. `PauseMachine` decides; this
// loop scans, measures, holds and lets go, and publishes the status.
#pragma once

#include "LoopContext.h"
#include "PauseMachine.h"
#include "Rule.h"

#include <optional>

namespace trevlin {

class PauseLoop {
public:
    PauseLoop(LoopContext& loop, double catchUpInterval);

    /// One turn (the loop turns four times a second).
    void turn(const Rule& rule);
    /// Starts over, as after a change of method: no scans, no figures.
    void reset();

private:
    void scan(double t);
    void hold(Pid front);
    void releaseHeld();
    void publish(const Rule& rule, double t);

    LoopContext& loop_;
    const double catchUpInterval_;
    PauseMachine machine_;
    int scans_ = 0;
    std::optional<double> lastScan_;
    double latestCores_ = 0;
    /// What the app uses when it runs freely, overall and in the background.
    std::optional<double> total_;
    std::optional<double> background_;
    /// What the app would use if not held, taken when a hold begins.
    double estimate_ = 0;
    double current_ = 0;
};

}  // namespace trevlin
