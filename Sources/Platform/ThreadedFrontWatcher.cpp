#include "ThreadedFrontWatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cassert>
#include <chrono>
#include <cstdint>

namespace trevlin::linux {

ThreadedFrontWatcher::ThreadedFrontWatcher() { stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

ThreadedFrontWatcher::~ThreadedFrontWatcher() {
    // The derived destructor has stopped the thread already; this is for a
    // watcher whose derived part never started one.
    assert(!thread_.joinable());
    stop();
    if (stopFd_ >= 0) ::close(stopFd_);
}

FrontApp ThreadedFrontWatcher::start(std::function<void(FrontApp)> onChange) {
    std::unique_lock<std::mutex> lk(lock_);
    if (started_) return reported_;
    started_ = true;
    onChange_ = std::move(onChange);
    if (stopFd_ < 0) {
        delivered_ = true;
        return reported_;
    }
    thread_ = std::thread([this] {
        run();
        settle();
    });
    settledChanged_.wait_for(lk, std::chrono::duration<double>(settleSeconds), [this] { return settled_; });
    delivered_ = true;
    reported_ = answer_;
    return reported_;
}

std::string ThreadedFrontWatcher::unknownReason() const {
    std::lock_guard<std::mutex> g(lock_);
    return answer_.known ? std::string() : reason_;
}

void ThreadedFrontWatcher::publish(FrontApp answer, const std::string& reason) {
    {
        std::lock_guard<std::mutex> g(lock_);
        answer_ = answer;
        if (!answer.known) reason_ = reason;
        if (!delivered_ || answer == reported_) return;
        reported_ = answer;
    }
    // Only the watcher's thread publishes, so reports cannot overtake each
    // other once the lock is let go.
    if (onChange_) onChange_(answer);
}

void ThreadedFrontWatcher::settle() {
    {
        std::lock_guard<std::mutex> g(lock_);
        settled_ = true;
    }
    settledChanged_.notify_all();
}

bool ThreadedFrontWatcher::stopRequested() const {
    pollfd p{stopFd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

void ThreadedFrontWatcher::stop() {
    if (stopFd_ >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
}

}  // namespace trevlin::linux
