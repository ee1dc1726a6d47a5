#include "FrontmostTracker.h"

#include <vector>

namespace trevlin {

FrontmostTracker::FrontmostTracker(Platform& platform, MainThreadHook mainThread)
    : platform_(platform), state_(std::make_shared<State>()) {
    state_->mainThread = std::move(mainThread);
}

FrontApp FrontmostTracker::app() {
    std::lock_guard<std::mutex> g(state_->lock);
    return state_->app;
}

std::string FrontmostTracker::unknownReason() {
    if (known()) return {};
    std::string reason = platform_.frontUnknownReason();
    // A platform that cannot say why still has to give the user a reason.
    return reason.empty() ? kFrontUntoldReason : reason;
}

int FrontmostTracker::addObserver(std::function<void(FrontApp)> callback) {
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
    FrontApp initial = platform_.startFrontTracking([weak](FrontApp app) {
        auto state = weak.lock();
        if (!state) return;
        auto deliver = [weak, app] {
            if (auto s = weak.lock()) activated(*s, app);
        };
        if (state->mainThread) state->mainThread(deliver);
        else deliver();
    });
    // An activation may already have reached the main thread while the
    // platform was starting; it is newer than the initial answer.
    std::lock_guard<std::mutex> g(state_->lock);
    if (!state_->activatedSinceStart) state_->app = initial;
}

void FrontmostTracker::activated(State& state, FrontApp app) {
    std::vector<std::function<void(FrontApp)>> callbacks;
    {
        std::lock_guard<std::mutex> g(state.lock);
        state.app = app;
        state.activatedSinceStart = true;
        for (auto& [id, cb] : state.observers) callbacks.push_back(cb);
    }
    for (auto& cb : callbacks) cb(app);
}

}  // namespace trevlin
