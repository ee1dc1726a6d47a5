// The one thread that watches for the apps of sleeping limiters.
//
// A limiter whose app has no process ends its thread and is handed here.
// Once a second this thread takes the shared process table's snapshot (the
// same listing every scanner reads) and wakes each limiter whose app or
// group has a process in it; the check is a lookup in the snapshot's
// indexes, so thousands of sleeping rules cost next to nothing. The thread
// exists only while some limiter sleeps.
#pragma once

#include "AppLimiter.h"
#include "EngineContext.h"

#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace trevlin {

class LimiterWaker {
public:
    explicit LimiterWaker(std::shared_ptr<EngineContext> context);
    /// Stops the thread.
    ~LimiterWaker();
    LimiterWaker(const LimiterWaker&) = delete;
    LimiterWaker& operator=(const LimiterWaker&) = delete;

    /// Watches for a sleeping limiter's app; wakes it when it appears.
    void add(const std::shared_ptr<AppLimiter>& limiter);
    /// Stops watching for it (it is being stopped).
    void remove(const AppLimiter* limiter);
    /// Stops watching for good: later `add` calls are ignored.
    void stop();
    /// How many limiters sleep here.
    size_t sleeping();

private:
    void run();

    const std::shared_ptr<EngineContext> context_;
    std::mutex lock_;  // guards everything below
    std::map<const AppLimiter*, std::weak_ptr<AppLimiter>> sleeping_;
    bool running_ = false;
    bool stopped_ = false;
    std::thread thread_;
};

}  // namespace trevlin
