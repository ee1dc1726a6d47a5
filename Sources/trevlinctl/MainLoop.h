// A plain main-thread loop for a command-line tool: work the engine posts to
// the main thread is queued and run while the tool waits.
#pragma once

#include "MainThread.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace trevlinctl {

class MainLoop {
public:
    MainLoop() = default;
    /// Queued work that never ran is dropped.
    ~MainLoop() = default;
    MainLoop(const MainLoop&) = delete;
    MainLoop& operator=(const MainLoop&) = delete;

    /// The engine's main-thread hook: posts work to this loop.
    trevlin::MainThreadHook hook() const;

    /// Runs posted work until `seconds` have passed.
    void runFor(double seconds);
    /// Runs posted work until `done()` holds or `seconds` have passed;
    /// returns whether `done()` held.
    bool runUntil(const std::function<bool()>& done, double seconds);

private:
    /// Shared with the hook, so that work another thread posts while the
    /// loop is going away lands in a queue that still exists.
    struct Queue {
        std::mutex lock;
        std::condition_variable cv;
        std::deque<std::function<void()>> items;
        void post(std::function<void()> work);
    };
    std::shared_ptr<Queue> queue_ = std::make_shared<Queue>();
};

}  // namespace trevlinctl
