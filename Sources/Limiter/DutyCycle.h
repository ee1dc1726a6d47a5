// The duty cycle: `smart` and `strict` stop and continue the app's busy
// processes so that they run only a share of every period; `ecores` moves
// the heaviest to the efficiency cores instead.
//
// One tick: sample every target, choose the candidates (the busy processes
// that may be stopped), ask the duty controller for the run fraction, once a
// second publish the status (and under `ecores` move one process), then run
// the candidates for their share of the period and stop them for the rest.
#pragma once

#include "DutyController.h"
#include "LoopContext.h"
#include "Rule.h"

#include <optional>
#include <string>
#include <vector>

namespace trevlin {

class DutyCycle {
public:
    explicit DutyCycle(LoopContext& loop) : loop_(loop) {}

    /// One tick of `periodMs` milliseconds; false when the loop must end at
    /// once (asked to quit while the candidates were stopped).
    bool tick(const Rule& rule, double periodMs);

private:
    struct Seen {
        Pid pid;
        double instant;  ///< use over this tick, cores
        bool fresh;      ///< a new record: nothing else happens to it this tick
    };
    /// Moves one process to or from the efficiency cores; the status note.
    std::string moveOneProcess(const std::vector<Seen>& seen, Pid front, double cap);
    void publish(const Rule& rule, const std::vector<Seen>& seen, size_t candidates, const std::string& note);

    LoopContext& loop_;
    std::optional<double> lastTick_;
    std::optional<double> lastScan_;
    std::vector<Pid> targets_;
    DutyController::History history_;
    DutyController::Estimate estimate_;
    double runSlice_ = 0;  ///< how long the candidates ran in the previous tick
    /// The app's use and demand by kind of process, smoothed over seconds.
    struct {
        double neverStopped = 0;  ///< use of the processes never stopped
        double lightDemand = 0;   ///< demand of those too light to be candidates
        double busyDemand = 0;    ///< demand of the busy candidates
    } group_;
    std::optional<double> busyCores_;  ///< the machine's busy cores, smoothed
    std::optional<double> lastBusySample_;
};

}  // namespace trevlin
