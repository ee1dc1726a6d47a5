#include "DutyController.h"

#include "LimiterTuning.h"

#include <algorithm>
#include <cmath>

namespace trevlin::DutyController {

using namespace LimiterTuning;

History step(const History& previous, const Demand& demand, double cap, bool inGrace) {
    History next = previous;
    next.smoothedUse = (1.0 - kUseSmoothing) * previous.smoothedUse + kUseSmoothing * demand.totalUse;
    const bool over = next.smoothedUse > cap;
    if (previous.fraction < 1.0 || over) {
        if (over) next.gain *= kGainDown;
        else if (next.smoothedUse < kGainBand * cap) next.gain *= kGainUp;
        next.gain = std::clamp(next.gain, kMinGain, kMaxGain);
    } else {
        // Running freely and under the cap: the next hold starts from the
        // plain ratio, not from a correction learnt long ago.
        next.gain = 1.0;
    }
    const double budget = std::max(cap - demand.untouchableUse, 0.0);
    next.fraction = demand.candidateDemand <= 0
                        ? 1.0
                        : std::clamp(next.gain * budget / demand.candidateDemand, kMinFraction, 1.0);
    if (inGrace) next.fraction = 1.0;
    return next;
}

double observe(ProcessLoad& load, double delta, double dt, double ranFor, bool unthrottled) {
    load.usage = (1.0 - kUseSmoothing) * load.usage + kUseSmoothing * delta / dt;
    // A stopped process's use is what it did while it ran, not spread over
    // the whole tick: that is what it asks for.
    const double rate = std::min(delta / ranFor, kMaxRate);
    load.demand = (1.0 - kDemandSmoothing) * load.demand + kDemandSmoothing * rate;
    const double step = load.demandHi <= 1 ? kPeakStep : kPeakStep * load.demandHi;
    load.demandHi = std::max({kPeakDecay * load.demandHi, load.demand, std::min(rate, step)});
    const double instant = delta / dt;
    if (unthrottled) {
        load.freeN += 1;
        // The first sample after a hold may still carry the hold: skip it.
        if (load.freeN >= 2) {
            const double w = std::max(1.0 / (load.freeN - 1), kFreeMinWeight);
            load.free = load.free > 0 ? (1 - w) * load.free + w * instant : instant;
        }
    }
    return instant;
}

double unthrottledEstimate(const ProcessLoad& load) {
    return load.free > 0 ? std::min(load.free, std::max(load.demand, load.demandHi)) : load.demand;
}

bool holdLight(double neverStopped, double lightDemand, double busyDemand, double cap) {
    if (neverStopped >= cap || lightDemand <= 0) return false;
    return neverStopped + lightDemand + kMinFraction * busyDemand > cap;
}

void Estimate::tick(double estimate, double dt) {
    ticks_ += 1;
    if (ticks_ < kEstimateWarmUpTicks) return;
    // The first ticks are averaged equally, then the weight settles to a
    // 5 s time constant.
    const double w = std::max(1.0 / static_cast<double>(ticks_ - (kEstimateWarmUpTicks - 1)),
                              1.0 - std::exp(-dt / kEstimateSeconds));
    smoothed_ = (1 - w) * smoothed_ + w * estimate;
}

void Estimate::second(bool active) {
    if (!active) {
        history_.clear();
        return;
    }
    history_.push_back(smoothed_);
    if (history_.size() > static_cast<size_t>(kEstimateHistory)) history_.pop_front();
}

double Estimate::lowest() const {
    return history_.empty() ? 0.0 : *std::min_element(history_.begin(), history_.end());
}

}  // namespace trevlin::DutyController
