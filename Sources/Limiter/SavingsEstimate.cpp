#include "SavingsEstimate.h"

#include <algorithm>
#include <cmath>

namespace trevlin {

std::optional<double> SystemBusySampler::sample(double dt) {
    auto ticks = platform_.coreTicks();
    if (!ticks) return smoothed_;
    if (ticks->size() != last_.size()) {
        last_ = std::move(*ticks);
        return smoothed_;
    }
    // Counters only grow; a smaller value (a core that went offline and came
    // back) counts as no progress.
    auto delta = [](uint64_t now, uint64_t before) { return now > before ? static_cast<double>(now - before) : 0.0; };
    double busy = 0;
    for (size_t i = 0; i < ticks->size(); ++i) {
        const CoreTicks& a = (*ticks)[i];
        const CoreTicks& b = last_[i];
        double user = delta(a.user, b.user), sys = delta(a.system, b.system), idle = delta(a.idle, b.idle),
               nice = delta(a.nice, b.nice);
        double sum = user + sys + idle + nice;
        busy += sum > 0 ? (user + sys + nice) / sum : 0.0;
    }
    if (smoothed_) {
        double g = std::exp(-std::max(dt, 0.1) / 3.0);
        smoothed_ = (1 - g) * busy + g * *smoothed_;
    } else {
        smoothed_ = busy;
    }
    last_ = std::move(*ticks);
    return smoothed_;
}

namespace SavingsCap {

double ceiling(double logicalCores, double systemBusyCores, double appCurrentCores, double appDemand) {
    const double others = std::max(systemBusyCores - appCurrentCores, 0.0);
    const double fair = appDemand + others > 0 ? logicalCores * appDemand / (appDemand + others) : logicalCores;
    return std::max({fair, appCurrentCores, logicalCores - others});
}

double cap(double unthrottled, double current, double logicalCores, std::optional<double> systemBusyCores) {
    if (!systemBusyCores) return unthrottled;
    return std::max(current, std::min(unthrottled, ceiling(logicalCores, *systemBusyCores, current, unthrottled)));
}

}  // namespace SavingsCap

}  // namespace trevlin
