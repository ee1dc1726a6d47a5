// Collects what a front-app watcher reports, for tests: every call in order,
// and a wait (with a generous deadline, never a measure of speed) for a
// number of them.
#pragma once

#include "FrontApp.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <ostream>
#include <vector>

namespace trevlin {

inline std::ostream& operator<<(std::ostream& out, const FrontApp& app) {
    if (!app.known) return out << "unknown";
    if (app.pid == 0) return out << "none";
    return out << "pid " << app.pid;
}

}  // namespace trevlin

namespace trevlin::test {

class FrontReports {
public:
    std::function<void(FrontApp)> callback() {
        return [this](FrontApp app) {
            {
                std::lock_guard<std::mutex> g(lock_);
                seen_.push_back(app);
            }
            changed_.notify_all();
        };
    }

    /// Waits until at least `count` reports have come (or `seconds` passed)
    /// and returns all of them.
    std::vector<FrontApp> waitFor(size_t count, double seconds = 20) {
        std::unique_lock<std::mutex> lk(lock_);
        changed_.wait_for(lk, std::chrono::duration<double>(seconds), [&] { return seen_.size() >= count; });
        return seen_;
    }

    std::vector<FrontApp> seen() {
        std::lock_guard<std::mutex> g(lock_);
        return seen_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<FrontApp> seen_;
};

}  // namespace trevlin::test
