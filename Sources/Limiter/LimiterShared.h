// What a limiter's thread shares with the threads around it: the manager
// (rule, quit flag, status) and the front-app tracker (which pids are the
// app's, which ones the hold stopped). One lock guards all of it; it is held
// only to copy values in and out, never while signalling, journaling or
// calling back.
#pragma once

#include "LimiterStatus.h"
#include "Platform.h"
#include "Rule.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace trevlin {

class LimiterShared {
public:
    /// A process stopped by pause mode's hold, with its start time.
    using Held = std::pair<Pid, uint64_t>;

    LimiterShared(Rule rule, LimiterStatus status) : rule_(rule), status_(std::move(status)) {}

    Rule rule() {
        std::lock_guard<std::mutex> g(lock_);
        return rule_;
    }
    void setRule(const Rule& rule) {
        std::lock_guard<std::mutex> g(lock_);
        rule_ = rule;
    }

    bool quitRequested() {
        std::lock_guard<std::mutex> g(lock_);
        return quit_;
    }
    void requestQuit() {
        std::lock_guard<std::mutex> g(lock_);
        quit_ = true;
    }

    LimiterStatus status() {
        std::lock_guard<std::mutex> g(lock_);
        return status_;
    }
    void setStatus(const LimiterStatus& status) {
        std::lock_guard<std::mutex> g(lock_);
        status_ = status;
    }
    /// What stays of the status once the limiter has let everything go: its
    /// texts, with no use, no hold and no process counted.
    void clearStatusFigures() {
        std::lock_guard<std::mutex> g(lock_);
        status_.currentCores = 0;
        status_.isThrottling = false;
        status_.pausedProcessCount = 0;
        status_.demotedProcessCount = 0;
    }

    // Pause mode --------------------------------------------------------------
    /// Every pid of the app and its main instances: the app is in front when
    /// the front pid is one of them.
    void setFrontSet(std::set<Pid> pids) {
        std::lock_guard<std::mutex> g(lock_);
        frontSet_ = std::move(pids);
    }
    std::set<Pid> frontSet() {
        std::lock_guard<std::mutex> g(lock_);
        return frontSet_;
    }
    bool inFrontSet(Pid pid) {
        if (pid == 0) return false;
        std::lock_guard<std::mutex> g(lock_);
        return frontSet_.count(pid) != 0;
    }
    void setHeld(std::vector<Held> held) {
        std::lock_guard<std::mutex> g(lock_);
        held_ = std::move(held);
    }
    void clearHeld() { setHeld({}); }
    /// For a new answer about the front app: the held processes when the
    /// app may be the one in use (one of its processes came to the front, or
    /// the desktop no longer tells), nothing otherwise.
    std::optional<std::vector<Held>> heldIfActivated(FrontApp front) {
        std::lock_guard<std::mutex> g(lock_);
        if (front.known && !frontSet_.count(front.pid)) return std::nullopt;
        return held_;
    }
    /// Set when an activation continued the held processes behind the
    /// loop's back; the loop takes it on its next turn.
    void noteContinuedByActivation() { continuedByActivation_ = true; }
    bool takeContinuedByActivation() { return continuedByActivation_.exchange(false); }

private:
    std::mutex lock_;
    Rule rule_;
    bool quit_ = false;
    LimiterStatus status_;
    std::set<Pid> frontSet_;
    std::vector<Held> held_;
    std::atomic<bool> continuedByActivation_{false};
};

}  // namespace trevlin
