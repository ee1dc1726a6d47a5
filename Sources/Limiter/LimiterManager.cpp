#include "LimiterManager.h"

#include "LimiterTuning.h"
#include "ProcessUtil.h"

#include <algorithm>

namespace trevlin {

// The part of the manager that its limiters call back into from their own
// threads. Limiters hold it weakly, so a limiter that outlives its manager
// falls back to the default period and reports to nobody.
struct LimiterManager::Shared {
    std::mutex lock;  // the period
    double periodMs = 100.0;
    std::mutex callbackLock;
    std::function<void(const LimiterStatus&)> onStatus;
    std::shared_ptr<SavingsLedger> ledger;
};

LimiterManager::LimiterManager(std::shared_ptr<EngineContext> context, const std::string& journalDirectory)
    : context_(std::move(context)) {
    Platform& platform = context_->platform();
    journal_ = std::make_shared<Journal>(platform, journalDirectory);
    Journal::recoverOrphans(platform, journalDirectory);
    // The ledger's clocks keep the context alive: limiters report to it from
    // their own threads.
    ledger_ = std::make_shared<SavingsLedger>([c = context_] { return now(c->platform()); },
                                              [c = context_] { return c->platform().wallClock(); });
    shared_ = std::make_shared<Shared>();
    shared_->ledger = ledger_;
    waker_ = std::make_shared<LimiterWaker>(context_);
    context_->front().start();
}

LimiterManager::~LimiterManager() {
    shutdown();
    waker_->stop();
}

double LimiterManager::periodMs() {
    std::lock_guard<std::mutex> g(shared_->lock);
    return shared_->periodMs;
}

void LimiterManager::setPeriodMs(double ms) {
    std::lock_guard<std::mutex> g(shared_->lock);
    shared_->periodMs = std::clamp(ms, 20.0, 500.0);
}

bool LimiterManager::isEnabled() {
    std::lock_guard<std::mutex> g(lock_);
    return enabled_;
}

void LimiterManager::setEnabled(bool on) {
    std::vector<std::pair<std::string, std::shared_ptr<AppLimiter>>> stopping;
    {
        std::lock_guard<std::mutex> g(lock_);
        const bool was = enabled_;
        enabled_ = on;
        if (on && !was) {
            for (const auto& [key, entry] : rules_) startLimiterLocked(key);
        } else if (!on && was) {
            for (auto& [key, limiter] : limiters_) stopping.emplace_back(key, limiter);
            limiters_.clear();
        }
    }
    stopAll(std::move(stopping));
}

void LimiterManager::setRule(const Rule& rule, const std::string& appPath, std::optional<std::string> name) {
    std::lock_guard<std::mutex> g(lock_);
    rules_.insert_or_assign(appPath, Entry{rule, name ? *name : deletingPathExtension(lastPathComponent(appPath))});
    if (auto it = limiters_.find(appPath); it != limiters_.end()) {
        it->second->setRule(rule);
    } else if (enabled_) {
        startLimiterLocked(appPath);
    }
}

void LimiterManager::setRule(const Rule& rule, const std::string& group, const std::string& name,
                             std::function<std::vector<Pid>()> targets) {
    {
        std::lock_guard<std::mutex> g(lock_);
        targetProviders_[group] = std::move(targets);
    }
    setRule(rule, group, name);
}

void LimiterManager::startLimiterLocked(const std::string& key) {
    const Entry& entry = rules_.at(key);
    std::weak_ptr<Shared> weak = shared_;
    auto period = [weak] {
        if (auto s = weak.lock()) {
            std::lock_guard<std::mutex> g(s->lock);
            return s->periodMs;
        }
        return 100.0;
    };
    auto onStatus = [weak](const LimiterStatus& status) {
        auto s = weak.lock();
        if (!s) return;
        s->ledger->record(status.appPath, status.savedCores);
        std::function<void(const LimiterStatus&)> callback;
        {
            std::lock_guard<std::mutex> g(s->callbackLock);
            callback = s->onStatus;
        }
        if (callback) callback(status);
    };
    std::function<std::vector<Pid>()> targets;
    if (auto it = targetProviders_.find(key); it != targetProviders_.end()) targets = it->second;
    auto limiter = AppLimiter::make(context_, AppMatch{entry.name, key}, entry.rule, journal_, period, onStatus, targets);
    limiter->setStatus(LimiterStatus::initial(entry.name, key, entry.rule.maxCores, entry.rule.method));
    std::weak_ptr<LimiterWaker> waker = waker_;
    limiter->setSleepHandler([waker](std::shared_ptr<AppLimiter> l) {
        if (auto w = waker.lock()) w->add(l);
    });
    limiters_[key] = limiter;
    // A rule for an app that is not running starts no thread.
    if (limiter->mayHaveProcesses(*context_->processes().snapshot())) {
        limiter->start();
    } else {
        limiter->startAsleep();
        waker_->add(limiter);
    }
}

void LimiterManager::stopAll(std::vector<std::pair<std::string, std::shared_ptr<AppLimiter>>> stopping) {
    // Every limiter is asked first, then all are waited for against one
    // deadline: they restore their processes side by side, and stopping
    // takes as long as the slowest of them rather than the sum. (One after
    // the other, ten thousand limiters had not stopped after twenty minutes.)
    for (auto& [key, limiter] : stopping) {
        waker_->remove(limiter.get());
        limiter->requestStop();
    }
    const double deadline = now(context_->platform()) + LimiterTuning::kStopWaitSeconds;
    for (auto& [key, limiter] : stopping) {
        limiter->waitStopped(deadline);
        ledger_->stop(key);
    }
}

void LimiterManager::removeRule(const std::string& appPath) {
    std::shared_ptr<AppLimiter> limiter;
    {
        std::lock_guard<std::mutex> g(lock_);
        rules_.erase(appPath);
        if (auto it = limiters_.find(appPath); it != limiters_.end()) {
            limiter = it->second;
            limiters_.erase(it);
        }
    }
    if (limiter) {
        waker_->remove(limiter.get());
        limiter->stop();
    }
    ledger_->stop(appPath);
}

void LimiterManager::removeAllRules() {
    std::vector<std::pair<std::string, std::shared_ptr<AppLimiter>>> stopping;
    {
        std::lock_guard<std::mutex> g(lock_);
        rules_.clear();
        for (auto& [key, limiter] : limiters_) stopping.emplace_back(key, limiter);
        limiters_.clear();
    }
    stopAll(std::move(stopping));
}

std::map<std::string, Rule> LimiterManager::rules() {
    std::lock_guard<std::mutex> g(lock_);
    std::map<std::string, Rule> out;
    for (const auto& [key, entry] : rules_) out.emplace(key, entry.rule);
    return out;
}

std::optional<LimiterStatus> LimiterManager::status(const std::string& appPath) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = limiters_.find(appPath);
    if (it == limiters_.end()) return std::nullopt;
    return it->second->status();
}

std::map<std::string, LimiterStatus> LimiterManager::statuses() {
    std::lock_guard<std::mutex> g(lock_);
    std::map<std::string, LimiterStatus> out;
    for (const auto& [key, limiter] : limiters_) out.emplace(key, limiter->status());
    return out;
}

void LimiterManager::setOnStatus(std::function<void(const LimiterStatus&)> callback) {
    std::lock_guard<std::mutex> g(shared_->callbackLock);
    shared_->onStatus = std::move(callback);
}

void LimiterManager::shutdown() {
    removeAllRules();
    ledger_->flush();
}

}  // namespace trevlin
