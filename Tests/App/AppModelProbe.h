// What the app model's tests look at beyond the model's public face: the
// engine objects inside it, the engine queue and the pending save, and a log
// of the calls the model makes into its limiter manager.
#pragma once

#include "AppModel.h"
#include "EngineBridge.h"
#include "LimiterManager.h"
#include "Monitor.h"
#include "SettingsModel.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace trevlin::testing {

class AppModelProbe {
public:
    explicit AppModelProbe(AppModel& model) : model_(model) {}

    Monitor& monitor() { return *model_.monitor_; }
    LimiterManager* limiter() { return model_.engine_->limiter(); }
    AutoPolicy& policy() { return model_.engine_->policy_; }
    /// Waits until everything posted to the engine queue so far has run.
    void waitForEngine() { model_.engine_->queue_->sync([] {}); }
    /// A save of the settings is scheduled and has not run yet.
    bool savePending() const { return model_.settings_->saveTimer_.isActive(); }

private:
    AppModel& model_;
};

/// The calls a model made into its limiter manager, as texts ("disable",
/// "remove KEY", "set KEY", "enable", "shutdown"), from the model's start on:
/// give `observer()` to the model's options. Safe to keep after the model.
class EngineCallLog {
public:
    EngineCallObserver observer() {
        return [state = state_](const EngineCall& call) {
            std::lock_guard<std::mutex> g(state->lock);
            state->calls.push_back(text(call));
        };
    }
    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> g(state_->lock);
        return state_->calls;
    }
    void clear() {
        std::lock_guard<std::mutex> g(state_->lock);
        state_->calls.clear();
    }

private:
    struct State {
        std::mutex lock;
        std::vector<std::string> calls;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace trevlin::testing
