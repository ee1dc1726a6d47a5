// Pause mode's states and the moves between them.
//
//   inFront  – the app is in front, or the limiter is still taking its first
//              two looks; it runs.
//   paused   – in the background: its processes are held stopped.
//   catchUp  – held, but running for a few seconds every catch-up interval.
//   spared   – in the background but playing audio or keeping the machine
//              awake, or the desktop does not tell which app is in front
//              (the user may be using this one): not held.
//   none     – a command-line group: pause mode never holds one.
//
// Each turn the loop reports what it sees; the machine answers with the new
// state and what to do to the processes (let go of everything held, or hold
// whatever may be held). It keeps its own timers (next catch-up, end of the
// running one, last busy question) but reads no clock, process or desktop:
// the busy question is asked through the given function.
#pragma once

#include "Rule.h"

#include <functional>
#include <optional>
#include <string>

namespace trevlin {

class PauseMachine {
public:
    explicit PauseMachine(double catchUpInterval) : catchUpInterval_(catchUpInterval) {}

    struct Seen {
        double now = 0;
        bool isGroup = false;         ///< a command-line group
        bool inFront = false;         ///< the app is the front app
        /// The desktop does not tell which app is in front: why, completing
        /// "It is …". Absent while it tells.
        std::optional<std::string> frontUnknown;
        bool warmedUp = false;        ///< the first two scans are done
        bool sparesBusy = false;      ///< the rule spares an app that plays audio or keeps awake
        bool catchUpEnabled = false;  ///< the rule lets a held app catch up
    };
    struct Turn {
        bool release = false;  ///< let go of everything held
        bool hold = false;     ///< hold whatever may be held (new processes too)
        bool newHold = false;  ///< a hold begins after a release: take the saving estimate now
    };
    using BusyQuestion = std::function<std::optional<std::string>()>;

    /// One turn of the loop.
    Turn turn(const Seen& seen, const BusyQuestion& askBusy);
    /// The hold found the app in front by the time it had stopped it: it
    /// was let go at once.
    void cameToFront();

    PauseState state() const { return state_; }
    /// Held or catching up: the app is kept from running freely.
    bool holding() const { return state_ == PauseState::paused || state_ == PauseState::catchUp; }
    bool catchingUp() const { return state_ == PauseState::catchUp; }
    /// Why the app is spared (state `spared`).
    const std::optional<std::string>& sparedReason() const { return sparedReason_; }
    /// Spared because the front app is unknown (not for being busy).
    bool frontUnknown() const { return frontUnknown_; }

private:
    void forgetBusy();

    double catchUpInterval_;
    PauseState state_ = PauseState::inFront;
    double nextCatchUp_ = 0;
    double catchUpEnd_ = 0;
    std::optional<std::string> busyReason_;
    std::optional<double> lastBusyAsk_;
    std::optional<std::string> sparedReason_;
    bool frontUnknown_ = false;
};

}  // namespace trevlin
