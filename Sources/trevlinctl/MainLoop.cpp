#include "MainLoop.h"

#include <algorithm>
#include <chrono>

namespace trevlinctl {

trevlin::MainThreadHook MainLoop::hook() const {
    return [q = queue_](std::function<void()> work) { q->post(std::move(work)); };
}

void MainLoop::Queue::post(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> g(lock);
        items.push_back(std::move(work));
    }
    cv.notify_all();
}

void MainLoop::runFor(double seconds) {
    runUntil([] { return false; }, seconds);
}

bool MainLoop::runUntil(const std::function<bool()>& done, double seconds) {
    using clock = std::chrono::steady_clock;
    // At most a billion seconds (about 31 years), which the clock can still add.
    seconds = std::min(seconds, 1e9);
    const auto deadline = clock::now() + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(seconds));
    Queue& q = *queue_;
    std::unique_lock<std::mutex> lk(q.lock);
    for (;;) {
        while (!q.items.empty()) {
            auto work = std::move(q.items.front());
            q.items.pop_front();
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
        q.cv.wait_until(lk, std::min(deadline, clock::now() + std::chrono::milliseconds(50)));
    }
}

}  // namespace trevlinctl
