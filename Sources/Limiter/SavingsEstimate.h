// How much an app would use without its limiter, bounded by what the machine
// could actually have given it: the two pieces behind "saving ~N cores".
#pragma once

#include "Platform.h"

#include <optional>
#include <vector>

namespace trevlin {

/// Smoothed number of busy cores of the whole machine, from the per-core
/// tick counters.
class SystemBusySampler {
public:
    explicit SystemBusySampler(Platform& platform) : platform_(platform) {}

    /// The smoothed busy-core count after a new reading `dt` seconds after the
    /// previous one; absent until two readings exist. A failed reading gives
    /// the stored value.
    std::optional<double> sample(double dt);

private:
    Platform& platform_;
    std::vector<CoreTicks> last_;
    std::optional<double> smoothed_;
};

namespace SavingsCap {

/// The most an app could use on `logicalCores` cores while the machine has
/// `systemBusyCores` busy, of which `appCurrentCores` are the app's and the
/// app asks for `appDemand`.
double ceiling(double logicalCores, double systemBusyCores, double appCurrentCores, double appDemand);

/// `unthrottled` bounded by that ceiling (never below `current`); unchanged
/// when the machine's load is unknown.
double cap(double unthrottled, double current, double logicalCores, std::optional<double> systemBusyCores);

}  // namespace SavingsCap

}  // namespace trevlin
