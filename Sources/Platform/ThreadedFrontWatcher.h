// The part every compositor watcher shares: a thread that talks to the
// desktop, the current answer under a lock, reporting each change once, and a
// stop that never waits on the desktop.
//
// The derived class writes `run()`, the watching loop. Everything it blocks on
// must also wake for `stopFd()`, and each derived destructor calls `stop()`
// first, before its own members go away under the running thread.
#pragma once

#include "FrontWatcher.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace trevlin::linux {

class ThreadedFrontWatcher : public FrontWatcher {
public:
    ThreadedFrontWatcher();
    ~ThreadedFrontWatcher() override;
    ThreadedFrontWatcher(const ThreadedFrontWatcher&) = delete;
    ThreadedFrontWatcher& operator=(const ThreadedFrontWatcher&) = delete;

    /// Starts the thread (once) and waits, at most `settleSeconds`, for its
    /// first answer.
    FrontApp start(std::function<void(FrontApp)> onChange) final;
    std::string unknownReason() const final;

    /// How long `start()` waits for the desktop's first answer. A desktop that
    /// takes longer is taken for unknown until it answers.
    static constexpr double settleSeconds = 2.0;

protected:
    /// The watching loop, on the thread. Returns when `stopFd()` is readable
    /// or the desktop is gone (after publishing unknown).
    virtual void run() = 0;

    /// Records the answer; `reason` tells why when it is unknown. Once
    /// `start()` has returned, each change is reported to `onChange`.
    void publish(FrontApp answer, const std::string& reason = kFrontUntoldReason);
    /// The first answer is in: `start()` returns without waiting longer.
    void settle();
    /// Readable once the watcher is stopping.
    int stopFd() const { return stopFd_; }
    /// Whether `stop()` has been asked for: a loop that ends on a failed wait
    /// tells a stop from a desktop that went away.
    bool stopRequested() const;
    /// Wakes the thread and joins it. Idempotent.
    void stop();

private:
    mutable std::mutex lock_;
    std::condition_variable settledChanged_;
    bool started_ = false;    // guarded by lock_
    bool settled_ = false;    // guarded by lock_
    bool delivered_ = false;  // guarded by lock_: start() has returned `reported_`
    FrontApp answer_;         // guarded by lock_
    FrontApp reported_;       // guarded by lock_: the last answer the owner has seen
    std::string reason_ = kFrontUntoldReason;  // guarded by lock_
    std::function<void(FrontApp)> onChange_;  // set before the thread starts
    int stopFd_ = -1;
    std::thread thread_;
};

}  // namespace trevlin::linux
