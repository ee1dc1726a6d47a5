#include "MainLoop.h"

#include "MainThread.h"

#include <algorithm>
#include <chrono>

namespace trevlinctl {

MainLoop::MainLoop() {
    trevlin::setMainThreadHook([this](std::function<void()> work) { post(std::move(work)); });
}

MainLoop::~MainLoop() { trevlin::setMainThreadHook(nullptr); }

void MainLoop::post(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> g(lock_);
        items_.push_back(std::move(work));
    }
    cv_.notify_all();
}

void MainLoop::runFor(double seconds) {
    runUntil([] { return false; }, seconds);
}

bool MainLoop::runUntil(const std::function<bool()>& done, double seconds) {
    using clock = std::chrono::steady_clock;
    // At most a billion seconds (about 31 years), which the clock can still add.
    seconds = std::min(seconds, 1e9);
    const auto deadline = clock::now() + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(seconds));
    std::unique_lock<std::mutex> lk(lock_);
    for (;;) {
        while (!items_.empty()) {
            auto work = std::move(items_.front());
            items_.pop_front();
            lk.unlock();
            work();
            lk.lock();
        }
        lk.unlock();
        const bool finished = done();
        lk.lock();
        if (finished) return true;
        if (clock::now() >= deadline) return false;
        // Wake at least every 50 ms to look at `done()` again.
        cv_.wait_until(lk, std::min(deadline, clock::now() + std::chrono::milliseconds(50)));
    }
}

}  // namespace trevlinctl
