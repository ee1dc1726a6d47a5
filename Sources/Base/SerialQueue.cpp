#include "SerialQueue.h"

#include <pthread.h>

#include <future>

namespace trevlin {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
    thread_ = std::thread([this] { run(); });
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard<std::mutex> g(lock_);
        quit_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) thread_.detach();
        else thread_.join();
    }
}

bool SerialQueue::isCurrent() const { return thread_.get_id() == std::this_thread::get_id(); }

void SerialQueue::async(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> g(lock_);
        items_.push_back(std::move(work));
    }
    cv_.notify_all();
}

void SerialQueue::sync(const std::function<void()>& work) {
    if (isCurrent()) {
        work();
        return;
    }
    std::promise<void> done;
    auto f = done.get_future();
    async([&] {
        work();
        done.set_value();
    });
    f.wait();
}

void SerialQueue::startTimer(double first, double interval, std::function<void()> handler) {
    {
        std::lock_guard<std::mutex> g(lock_);
        timerOn_ = true;
        ++timerGeneration_;
        nextFire_ = std::chrono::steady_clock::now() +
                    std::chrono::nanoseconds(static_cast<int64_t>(first * 1e9));
        interval_ = std::chrono::nanoseconds(static_cast<int64_t>(interval * 1e9));
        timerHandler_ = std::move(handler);
    }
    cv_.notify_all();
}

void SerialQueue::cancelTimer() {
    {
        std::lock_guard<std::mutex> g(lock_);
        timerOn_ = false;
        ++timerGeneration_;
        timerHandler_ = nullptr;
    }
    cv_.notify_all();
}

bool SerialQueue::hasTimer() {
    std::lock_guard<std::mutex> g(lock_);
    return timerOn_;
}

void SerialQueue::run() {
    std::string name = label_.substr(0, 15);
    pthread_setname_np(pthread_self(), name.c_str());
    std::unique_lock<std::mutex> lk(lock_);
    for (;;) {
        if (!items_.empty()) {
            auto work = std::move(items_.front());
            items_.pop_front();
            lk.unlock();
            work();
            lk.lock();
            continue;
        }
        if (quit_) return;
        if (timerOn_) {
            auto nowTp = std::chrono::steady_clock::now();
            if (nowTp >= nextFire_) {
                // Skip missed firings instead of running them in a burst.
                if (interval_.count() <= 0) timerOn_ = false;
                else
                    while (nextFire_ <= nowTp) nextFire_ += interval_;
                auto handler = timerHandler_;
                uint64_t gen = timerGeneration_;
                lk.unlock();
                if (handler) handler();
                lk.lock();
                (void)gen;
                continue;
            }
            cv_.wait_until(lk, nextFire_);
        } else {
            cv_.wait(lk);
        }
    }
}

}  // namespace trevlin
