#include "LimiterWaker.h"

#include "ProcessUtil.h"

#include <pthread.h>

#include <vector>

namespace trevlin {

LimiterWaker::LimiterWaker(std::shared_ptr<EngineContext> context) : context_(std::move(context)) {}

LimiterWaker::~LimiterWaker() { stop(); }

void LimiterWaker::add(const std::shared_ptr<AppLimiter>& limiter) {
    std::thread finished;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (stopped_) return;
        sleeping_[limiter.get()] = limiter;
        if (running_) return;
        // A thread that left because nobody slept has nothing more to do.
        finished = std::move(thread_);
        running_ = true;
        thread_ = std::thread([this] { run(); });
    }
    if (finished.joinable()) finished.join();
}

void LimiterWaker::remove(const AppLimiter* limiter) {
    {
        std::lock_guard<std::mutex> g(lock_);
        if (!sleeping_.erase(limiter) || !sleeping_.empty()) return;
    }
    // Nobody sleeps any more: the thread leaves now rather than at its
    // next look.
    context_->platform().notifyWaiters();
}

void LimiterWaker::stop() {
    std::thread thread;
    {
        std::lock_guard<std::mutex> g(lock_);
        stopped_ = true;
        sleeping_.clear();
        thread = std::move(thread_);
    }
    context_->platform().notifyWaiters();
    if (thread.joinable()) thread.join();
}

size_t LimiterWaker::sleeping() {
    std::lock_guard<std::mutex> g(lock_);
    return sleeping_.size();
}

void LimiterWaker::run() {
    ::pthread_setname_np(::pthread_self(), "Trevlin waker");
    Platform& platform = context_->platform();
    auto nobody = [this] {
        std::lock_guard<std::mutex> g(lock_);
        return stopped_ || sleeping_.empty();
    };
    for (;;) {
        platform.waitUntil(ticksFromSeconds(platform, now(platform) + 1.0), nobody);
        std::vector<std::pair<const AppLimiter*, std::shared_ptr<AppLimiter>>> limiters;
        {
            std::lock_guard<std::mutex> g(lock_);
            if (stopped_ || sleeping_.empty()) {
                running_ = false;
                return;
            }
            for (auto it = sleeping_.begin(); it != sleeping_.end();) {
                if (auto l = it->second.lock()) {
                    limiters.emplace_back(it->first, std::move(l));
                    ++it;
                } else {
                    it = sleeping_.erase(it);
                }
            }
        }
        const auto snapshot = context_->processes().snapshot();
        std::vector<const AppLimiter*> done;
        for (const auto& [key, limiter] : limiters) {
            // Woken, or no longer asleep (stopping, or woken elsewhere).
            if (!limiter->asleep() || (limiter->mayHaveProcesses(*snapshot) && limiter->wake())) done.push_back(key);
        }
        std::lock_guard<std::mutex> g(lock_);
        for (const AppLimiter* key : done) sleeping_.erase(key);
    }
}

}  // namespace trevlin
