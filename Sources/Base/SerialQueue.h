// A serial work queue on a thread of its own: work posted with `async` runs
// in order, one item at a time; `sync` waits for its item. A queue can carry
// one repeating timer whose handler runs on the queue like any other item.
// Timers run on the real monotonic clock.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace trevlin {

class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void async(std::function<void()> work);
    /// Runs `work` on the queue and waits for it. Called on the queue's own
    /// thread it runs at once.
    void sync(const std::function<void()>& work);
    /// Starts (or replaces) the repeating timer: first run after `first`
    /// seconds, then every `interval` seconds, to absolute deadlines.
    void startTimer(double first, double interval, std::function<void()> handler);
    void cancelTimer();
    bool hasTimer();
    bool isCurrent() const;
    const std::string& label() const { return label_; }

private:
    void run();

    std::string label_;
    std::mutex lock_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> items_;
    bool quit_ = false;
    bool timerOn_ = false;
    uint64_t timerGeneration_ = 0;
    std::chrono::steady_clock::time_point nextFire_;
    std::chrono::nanoseconds interval_{0};
    std::function<void()> timerHandler_;
    std::thread thread_;
};

}  // namespace trevlin
