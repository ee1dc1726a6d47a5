#include "FrontmostTracker.h"

#include "MainThread.h"

#include <vector>

namespace trevlin {

FrontmostTracker& FrontmostTracker::shared() {
    static FrontmostTracker* tracker = new FrontmostTracker();  // lives for the whole program
    return *tracker;
}

Pid FrontmostTracker::pid() {
    std::lock_guard<std::mutex> g(lock_);
    return pid_;
}

int FrontmostTracker::addObserver(std::function<void(Pid)> callback) {
    std::lock_guard<std::mutex> g(lock_);
    int id = nextObserver_++;
    observers_[id] = std::move(callback);
    return id;
}

void FrontmostTracker::removeObserver(int id) {
    std::lock_guard<std::mutex> g(lock_);
    observers_.erase(id);
}

void FrontmostTracker::start() {
    uint64_t generation;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (started_) return;
        started_ = true;
        generation = generation_;
    }
    // The platform reports activations from its own thread; each one hops to
    // the main thread before the pid changes and observers run.
    Pid initial = platform().startFrontTracking([this, generation](Pid p) {
        runOnMainThread([this, generation, p] {
            {
                std::lock_guard<std::mutex> g(lock_);
                if (generation != generation_) return;
            }
            activated(p);
        });
    });
    // An activation may already have reached the main thread while the
    // platform was starting; it is newer than the initial answer.
    std::lock_guard<std::mutex> g(lock_);
    if (generation == generation_ && !activatedSinceStart_) pid_ = initial;
}

void FrontmostTracker::activated(Pid p) {
    std::vector<std::function<void(Pid)>> callbacks;
    {
        std::lock_guard<std::mutex> g(lock_);
        pid_ = p;
        activatedSinceStart_ = true;
        for (auto& [id, cb] : observers_) callbacks.push_back(cb);
    }
    for (auto& cb : callbacks) cb(p);
}

void FrontmostTracker::resetForTesting() {
    std::lock_guard<std::mutex> g(lock_);
    started_ = false;
    activatedSinceStart_ = false;
    pid_ = 0;
    ++generation_;
}

}  // namespace trevlin
