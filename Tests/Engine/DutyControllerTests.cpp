// The duty controller's arithmetic, case by case: no threads, no processes.
#include "DutyController.h"
#include "LimiterTuning.h"

#include <gtest/gtest.h>

using namespace trevlin;
using namespace trevlin::DutyController;

namespace {

TEST(DutyController, FractionAndGainPerTick) {
    struct Case {
        const char* what;
        History before;
        Demand demand;
        double cap;
        bool grace;
        double gain;      // expected
        double fraction;  // expected
    };
    const std::vector<Case> cases = {
        // Two cores asked of a one-core cap: half the time, less 2 % gain.
        {"demand above the cap", {2.0, 1.0, 1.0}, {2.0, 0.0, 2.0}, 1.0, false, 0.98, 0.49},
        // Running freely under the cap: the gain resets, nothing is held.
        {"demand below the cap, free", {0.5, 1.2, 1.0}, {0.5, 0.0, 0.5}, 1.0, false, 1.0, 1.0},
        // Held and now well under the cap: the gain rises 1 %.
        {"held and under the band", {0.5, 1.0, 0.5}, {0.5, 0.0, 2.0}, 1.0, false, 1.01, 0.505},
        // Held and within 97–100 % of the cap: the gain stays.
        {"held within the band", {0.98, 0.9, 0.5}, {0.98, 0.0, 2.0}, 1.0, false, 0.9, 0.45},
        // The others alone use more than the cap: 3 %, never 0.
        {"floor", {2.0, 1.0, 0.03}, {2.5, 1.5, 1.0}, 0.5, false, 0.98, LimiterTuning::kMinFraction},
        // Long over the cap: the gain stops at a quarter.
        {"gain lower bound", {3.0, 0.25, 0.2}, {3.0, 0.0, 2.0}, 1.0, false, 0.25, 0.125},
        // Long under the cap while held: the gain stops at 1.3.
        {"gain upper bound", {0.2, 1.3, 0.5}, {0.2, 0.0, 4.0}, 1.0, false, 1.3, 0.325},
        // Over the cap with nothing that may be stopped: nothing is held.
        {"no candidates", {2.0, 1.0, 1.0}, {2.0, 2.0, 0.0}, 1.0, false, 0.98, 1.0},
        // The first second only measures.
        {"grace", {2.0, 1.0, 1.0}, {2.0, 0.0, 2.0}, 1.0, true, 0.98, 1.0},
    };
    for (const auto& c : cases) {
        const History after = step(c.before, c.demand, c.cap, c.grace);
        EXPECT_NEAR(after.smoothedUse, 0.8 * c.before.smoothedUse + 0.2 * c.demand.totalUse, 1e-12) << c.what;
        EXPECT_NEAR(after.gain, c.gain, 1e-12) << c.what;
        EXPECT_NEAR(after.fraction, c.fraction, 1e-12) << c.what;
    }
}

TEST(DutyController, HeldAtTheCapTheUseSettlesJustUnderIt) {
    // Two busy cores under a one-core cap, with a plant that runs exactly
    // what it is allowed: the use ends in the band just under the cap.
    History h;
    for (int tick = 0; tick < 600; ++tick) {
        const double used = 2.0 * h.fraction;
        h = step(h, {used, 0.0, 2.0}, 1.0, false);
    }
    EXPECT_GE(h.smoothedUse, 0.96);
    EXPECT_LE(h.smoothedUse, 1.0);
    EXPECT_GE(h.gain, LimiterTuning::kMinGain);
    EXPECT_LE(h.gain, LimiterTuning::kMaxGain);
}

TEST(DutyController, DemandIsWhatAProcessAsksWhileItRuns) {
    ProcessLoad load;
    // Stopped for most of a 0.1 s tick, it used 0.02 s in its 0.02 s slice:
    // one core while running, a fifth of one over the tick.
    const double instant = observe(load, 0.02, 0.1, 0.02, false);
    EXPECT_NEAR(instant, 0.2, 1e-12);
    EXPECT_NEAR(load.demand, 0.5, 1e-12);  // half of the new rate
    EXPECT_NEAR(load.usage, 0.04, 1e-12);
    EXPECT_NEAR(load.demandHi, 1.0, 1e-12);
    EXPECT_EQ(load.freeN, 0);
    // A mis-measured slice counts as at most 32 cores.
    ProcessLoad spike;
    observe(spike, 1.0, 0.1, 0.001, false);
    EXPECT_NEAR(spike.demand, 16.0, 1e-12);

    // Running freely: the first sample is skipped, then averaged.
    ProcessLoad free;
    for (double use : {0.9, 0.4, 0.6}) observe(free, use * 0.1, 0.1, 0.1, true);
    EXPECT_EQ(free.freeN, 3);
    EXPECT_NEAR(free.free, 0.5, 1e-12);
    // The estimate trusts what it ran freely, bounded by the peak.
    EXPECT_NEAR(unthrottledEstimate(free), 0.5, 1e-12);
    EXPECT_NEAR(unthrottledEstimate(load), 0.5, 1e-12);
}

TEST(DutyController, LightProcessesAreHeldOnlyWhenTheBusyOnesCannotHoldTheCap) {
    struct Case {
        const char* what;
        double neverStopped, lightDemand, busyDemand, cap;
        bool hold;  // expected
    };
    const std::vector<Case> cases = {
        // A busy process held at the floor carries the excess: the light
        // ones run.
        {"busy ones suffice", 0.1, 0.04, 2.0, 0.5, false},
        {"under the cap", 0.1, 0.08, 0.0, 0.5, false},
        // Fifty at 0.03 cores under a 0.5-core cap.
        {"spread thin", 0.0, 1.5, 0.0, 0.5, true},
        // Light ones and a busy one that alone could not get there.
        {"busy ones fall short", 0.0, 0.45, 2.0, 0.5, true},
        // What is never stopped uses the cap already: holding the rest
        // could not meet it.
        {"over the cap without them", 1.5, 0.08, 0.0, 0.5, false},
        {"nothing light", 0.2, 0.0, 40.0, 0.5, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(holdLight(c.neverStopped, c.lightDemand, c.busyDemand, c.cap), c.hold) << c.what;
}

}  // namespace
