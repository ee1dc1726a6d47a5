// The duty cycle's arithmetic, free of processes, threads and clocks.
//
// Every tick the limiter measures its app and hands the figures here: what
// each process used, what the processes it may stop ask for, what the others
// use. Out come the share of the next period those processes may run and
// the gain that corrects it from tick to tick. The same inputs always give
// the same outputs, so the controller is tested with a table of cases.
#pragma once

#include "Platform.h"

#include <deque>
#include <vector>

namespace trevlin::DutyController {

/// What the controller carries from one tick to the next.
struct History {
    double smoothedUse = 0;  ///< the app's smoothed total use, cores
    double gain = 1.0;       ///< correction applied to the plain ratio
    double fraction = 1.0;   ///< the run fraction of the previous tick
    bool operator==(const History&) const = default;
};

/// What the app used and asks for this tick, in cores.
struct Demand {
    double totalUse = 0;         ///< everything its processes used
    double untouchableUse = 0;   ///< the part used by processes that are not stopped
    double candidateDemand = 0;  ///< what the processes it may stop ask for while running
};

/// One tick: the new history, whose `fraction` is the share of the next
/// period the candidates may run (1 while nothing needs holding, never below
/// `kMinFraction` otherwise) and whose `gain` nudges that share until the
/// smoothed use sits just under the cap. During the grace period after a
/// start the fraction is 1 whatever the figures.
History step(const History& previous, const Demand& demand, double cap, bool inGrace);

/// One process's figures, updated from each sample.
struct ProcessLoad {
    double demand = 0;    ///< smoothed use while running, cores
    double demandHi = 0;  ///< slowly decaying peak of demand
    double usage = 0;     ///< smoothed use over wall time, cores
    int freeN = 0;        ///< samples taken while the app ran unthrottled
    double free = 0;      ///< mean use while unthrottled, cores
};

/// Takes a sample: `delta` CPU seconds over `dt` seconds of wall time, of
/// which the process ran `ranFor` seconds (less than `dt` when it was
/// stopped for part of the tick). `unthrottled`: the app ran freely during
/// the tick (counts toward `free`). Returns the use over the tick, cores.
double observe(ProcessLoad& load, double delta, double dt, double ranFor, bool unthrottled);

/// What a candidate would use without the limiter.
double unthrottledEstimate(const ProcessLoad& load);

/// Whether a group's light processes (each under the busy threshold) must
/// be held too. A group can spread its work so thinly (200 compilers on two
/// cores each get 0.01 cores) that none of its processes is busy while the
/// group is far over its cap: then, when even the busy candidates held at
/// the floor would leave the group over its cap, every light process is
/// held as well. Not when the processes that are never stopped
/// (`neverStopped`) use the cap already: holding the rest could not meet it.
/// The figures are the group's, smoothed over seconds: one light process's
/// use is too small to measure tick by tick (the kernel counts CPU time in
/// 10 ms steps).
bool holdLight(double neverStopped, double lightDemand, double busyDemand, double cap);

/// The estimate of what the app would use unthrottled, smoothed per tick
/// and remembered per second, from which the saving is read.
class Estimate {
public:
    /// Adds one tick's estimate, `dt` seconds after the previous one.
    void tick(double estimate, double dt);
    /// Once a second: while the limiter holds the app back (`active`) the
    /// smoothed estimate joins a short history; otherwise it is forgotten.
    void second(bool active);
    /// The lowest estimate of the history; 0 when empty.
    double lowest() const;
    bool empty() const { return history_.empty(); }

private:
    long ticks_ = 0;
    double smoothed_ = 0;
    std::deque<double> history_;
};

}  // namespace trevlin::DutyController
