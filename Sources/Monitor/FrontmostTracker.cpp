#include "FrontmostTracker.h"

#include <vector>

namespace trevlin {

FrontmostTracker::FrontmostTracker(Platform& platform, MainThreadHook mainThread)
    : platform_(platform), state_(std::make_shared<State>()) {
    state_->mainThread = std::move(mainThread);
}

Pid FrontmostTracker::pid() {
    std::lock_guard<std::mutex> g(state_->lock);
    return state_->pid;
}

int FrontmostTracker::addObserver(std::function<void(Pid)> callback) {
    std::lock_guard<std::mutex> g(state_->lock);
    int id = state_->nextObserver++;
    state_->observers[id] = std::move(callback);
    return id;
}

void FrontmostTracker::removeObserver(int id) {
    std::lock_guard<std::mutex> g(state_->lock);
    state_->observers.erase(id);
}

void FrontmostTracker::start() {
    {
        std::lock_guard<std::mutex> g(state_->lock);
        if (state_->started) return;
        state_->started = true;
    }
    // The platform reports activations from its own thread; each one hops to
    // the main thread before the pid changes and observers run.
    std::weak_ptr<State> weak = state_;
    Pid initial = platform_.startFrontTracking([weak](Pid p) {
        auto state = weak.lock();
        if (!state) return;
        auto deliver = [weak, p] {
            if (auto s = weak.lock()) activated(*s, p);
        };
        if (state->mainThread) state->mainThread(deliver);
        else deliver();
    });
    // An activation may already have reached the main thread while the
    // platform was starting; it is newer than the initial answer.
    std::lock_guard<std::mutex> g(state_->lock);
    if (!state_->activatedSinceStart) state_->pid = initial;
}

void FrontmostTracker::activated(State& state, Pid p) {
    std::vector<std::function<void(Pid)>> callbacks;
    {
        std::lock_guard<std::mutex> g(state.lock);
        state.pid = p;
        state.activatedSinceStart = true;
        for (auto& [id, cb] : state.observers) callbacks.push_back(cb);
    }
    for (auto& cb : callbacks) cb(p);
}

}  // namespace trevlin
