// The numbers that tune the limiter, each with the reason for its value.
//
// Changing one changes how every rule behaves; the tests of the duty
// controller and of the limiter pin most of them.
#pragma once

namespace trevlin::LimiterTuning {

// Duty cycle -----------------------------------------------------------------

/// A process is "busy", and so worth stopping and continuing, once its demand
/// (smoothed use while it runs) is above this many cores. Below it the
/// signals would cost more than they save, unless the group is over its cap
/// only because of many such processes (see `DutyController::holdLight`).
inline constexpr double kBusyDemand = 0.05;

/// Whether a group's light processes must be held too is decided on its
/// figures smoothed by this weight per tick (a time constant of about 2 s):
/// a process using 0.01 cores shows 0 in nine ticks of ten and 0.1 in the
/// tenth, as the kernel counts CPU time in 10 ms steps.
inline constexpr double kGroupSmoothing = 0.05;

/// The allowed run fraction never goes below this: even far over the cap the
/// candidates run 3 % of each period, so a held app still answers its
/// window manager, finishes its writes and notices a signal to quit.
inline constexpr double kMinFraction = 0.03;

/// Smoothing of the app's total use, per tick: new = 0.8 old + 0.2 sample.
/// At 10 ticks a second the figure follows a change within about half a
/// second, yet a single long tick does not move the run fraction much.
inline constexpr double kUseSmoothing = 0.2;

/// The gain corrects the run fraction for what the demand figures miss
/// (threads that wake late, work that starts during the slice). It shrinks
/// by 2 % per tick while the smoothed use is above the cap and grows by 1 %
/// while it is below 97 % of it: down quickly, up carefully, and still in
/// the 97–100 % band, so the use settles just under the cap.
inline constexpr double kGainDown = 0.98;
inline constexpr double kGainUp = 1.01;
inline constexpr double kGainBand = 0.97;
/// Bounds of the gain. A quarter keeps a long stretch far over the cap from
/// driving it so low that the app stays at the floor long after the load is
/// gone; 1.3 lets the fraction overshoot the plain ratio when the demand
/// figures over-estimate.
inline constexpr double kMinGain = 0.25;
inline constexpr double kMaxGain = 1.3;

/// A fraction this close to 1 counts as running freely when learning what
/// a process uses unthrottled.
inline constexpr double kFreeFraction = 0.999;

/// Nothing is stopped during this long after a limiter starts: the first
/// second only measures, so a process is never stopped on a guess.
inline constexpr double kGraceSeconds = 1.0;

/// How often the app's processes are looked up again.
inline constexpr double kScanSeconds = 1.0;

/// Demand: the rate while running is smoothed half and half per tick, and
/// capped at 32 cores so that one mis-measured slice cannot dominate.
inline constexpr double kDemandSmoothing = 0.5;
inline constexpr double kMaxRate = 32.0;
/// The slowly decaying peak of demand loses 1.5 % a tick (a half-life of
/// about 4.6 s at 10 ticks a second), and a single reading may raise it by
/// at most 10 % (or to 1.1 cores while it is at most one core).
inline constexpr double kPeakDecay = 0.985;
inline constexpr double kPeakStep = 1.1;
/// The mean use while unthrottled averages its samples equally until ten
/// have been seen, then keeps a 10 % weight for the newest.
inline constexpr double kFreeMinWeight = 0.1;

/// Scheduler priority (0..63, 31 normal) below which a process counts as
/// background work: `smart` holds such processes even in the front app.
inline constexpr int kBackgroundPriority = 11;

// Efficiency cores (`ecores`) ------------------------------------------------

/// Only a process using more than this many cores is worth moving.
inline constexpr double kMoveUsage = 0.2;
/// A process at or below this priority is already background work.
inline constexpr int kMovePriorityFloor = 10;
/// A moved process using less than this for more than `kQuietSeconds`
/// consecutive seconds goes back at once.
inline constexpr double kQuietUsage = 0.1;
inline constexpr int kQuietSeconds = 4;
/// Otherwise one goes back when the app would stay under 90 % of its cap
/// with that process at the use it had when moved.
inline constexpr double kRoomShare = 0.9;

// Estimates and notes ----------------------------------------------------------

/// The machine's busy cores, which bound the unthrottled estimate, are read
/// once a second.
inline constexpr double kBusySampleSeconds = 1.0;

/// The unthrottled estimate is smoothed with a 5 s time constant, after the
/// first five ticks have been averaged equally.
inline constexpr double kEstimateSeconds = 5.0;
inline constexpr int kEstimateWarmUpTicks = 5;
/// The saving is the lowest of the last ten once-a-second estimates minus
/// the current use: ten seconds of history keep one high estimate from
/// claiming a saving that never was.
inline constexpr int kEstimateHistory = 10;
/// The "over the cap" note appears above 110 % of the cap, and only while
/// the fraction is at its floor (at most 3.1 %) or nothing can be stopped.
inline constexpr double kNoteOverCap = 1.1;
inline constexpr double kNoteFloorFraction = 0.031;

// Pause mode -----------------------------------------------------------------

/// The first two scans come 0.4 s apart, so a hold can begin half a second
/// after the limiter starts; afterwards one scan a second.
inline constexpr double kFirstScansSeconds = 0.4;
inline constexpr int kWarmUpScans = 2;
/// The loop turns four times a second: an activation is handled at once by
/// the front-app callback, the rest (new processes, catch-up) can wait that long.
inline constexpr double kPauseTurnSeconds = 0.25;
/// Whether the app plays audio or keeps the machine awake is asked at most
/// every 2 s (the question walks every assertion of the desktop).
inline constexpr double kBusyAskSeconds = 2.0;
/// Catch-up: a held app runs this long every `kCatchUpIntervalSeconds`, so
/// that mail and chat apps still fetch what arrived.
inline constexpr double kCatchUpSeconds = 5.0;
inline constexpr double kCatchUpIntervalSeconds = 300.0;
/// While held, the saving estimate decays by this factor a second: a
/// half-life of about ten minutes, because what a background app would do
/// becomes less certain the longer it is held.
inline constexpr double kHeldEstimateDecay = 0.998845;
/// Smoothing of the pause loop's use figures, per scan.
inline constexpr double kPauseSmoothing = 0.2;

// Sleeping limiters ----------------------------------------------------------

/// A limiter whose app has had no process for this long ends its thread
/// until the app has processes again: a rule for an app that is not running
/// then costs no thread and no wake-ups. Long enough that a build's
/// compilers coming and going, or an app restarting, keep their limiter.
inline constexpr double kIdleSecondsBeforeSleep = 5.0;

/// Stopping waits this long in all for limiters to restore their processes.
inline constexpr double kStopWaitSeconds = 5.0;

}  // namespace trevlin::LimiterTuning
