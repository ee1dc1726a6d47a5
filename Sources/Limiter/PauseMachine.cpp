#include "PauseMachine.h"

#include "LimiterTuning.h"

namespace trevlin {

using namespace LimiterTuning;

void PauseMachine::forgetBusy() {
    // The next time the app is in the background the question is asked at once.
    busyReason_.reset();
    lastBusyAsk_.reset();
}

PauseMachine::Turn PauseMachine::turn(const Seen& seen, const BusyQuestion& askBusy) {
    Turn out;
    const double t = seen.now;
    sparedReason_.reset();
    frontUnknown_ = false;
    if (seen.isGroup) {
        out.release = true;
        state_ = PauseState::none;
        return out;
    }
    if (seen.inFront || !seen.warmedUp) {
        out.release = true;
        forgetBusy();
        state_ = PauseState::inFront;
        return out;
    }
    if (seen.frontUnknown) {
        // Unknown is not "in the background": the user may be typing into
        // this very app.
        out.release = true;
        forgetBusy();
        sparedReason_ = seen.frontUnknown;
        frontUnknown_ = true;
        state_ = PauseState::spared;
        return out;
    }
    if (!seen.sparesBusy) {
        forgetBusy();
    } else if (!lastBusyAsk_ || t - *lastBusyAsk_ >= kBusyAskSeconds) {
        busyReason_ = askBusy ? askBusy() : std::nullopt;
        lastBusyAsk_ = t;
    }
    if (seen.sparesBusy && busyReason_) {
        out.release = true;
        sparedReason_ = busyReason_;
        state_ = PauseState::spared;
        return out;
    }

    // In the background, to be held.
    if (!holding()) {
        out.newHold = true;
        nextCatchUp_ = t + catchUpInterval_;
        state_ = PauseState::paused;
    }
    if (state_ == PauseState::catchUp && (!seen.catchUpEnabled || t >= catchUpEnd_)) {
        // The window is over (or catch-up was switched off): held again.
        state_ = PauseState::paused;
        nextCatchUp_ = t + catchUpInterval_;
    } else if (state_ == PauseState::paused && seen.catchUpEnabled && t >= nextCatchUp_) {
        out.release = true;
        state_ = PauseState::catchUp;
        catchUpEnd_ = t + kCatchUpSeconds;
    }
    out.hold = state_ == PauseState::paused;
    return out;
}

void PauseMachine::cameToFront() { state_ = PauseState::inFront; }

}  // namespace trevlin
