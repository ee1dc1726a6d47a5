#include "BusPeer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace trevlin::test {

BusPeer::BusPeer(const std::string& address) {
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) return;
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0) {
        sd_bus_unref(bus);
        return;
    }
    bus_ = bus;
    connected_ = true;
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { loop(); });
}

BusPeer::~BusPeer() {
    leave();
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void BusPeer::run(const std::function<void(sd_bus*)>& work) {
    std::unique_lock<std::mutex> lk(lock_);
    if (ended_ || !bus_) return;
    work_.push_back(work);
    uint64_t ticket = ++posted_;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    done_.wait(lk, [&] { return finished_ >= ticket || ended_; });
}

void BusPeer::leave() {
    {
        std::lock_guard<std::mutex> g(lock_);
        leaving_ = true;
    }
    if (wakeFd_ >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
}

void BusPeer::loop() {
    for (;;) {
        int r;
        while ((r = sd_bus_process(bus_, nullptr)) > 0) {
        }
        std::function<void(sd_bus*)> next;
        {
            std::lock_guard<std::mutex> g(lock_);
            if (leaving_ || r < 0) break;
            if (!work_.empty()) {
                next = std::move(work_.front());
                work_.pop_front();
            }
        }
        if (next) {
            next(bus_);
            {
                std::lock_guard<std::mutex> g(lock_);
                ++finished_;
            }
            done_.notify_all();
            continue;
        }
        uint64_t timeout = UINT64_MAX;
        sd_bus_get_timeout(bus_, &timeout);
        pollfd fds[2] = {{sd_bus_get_fd(bus_), static_cast<short>(sd_bus_get_events(bus_)), 0}, {wakeFd_, POLLIN, 0}};
        // sd-bus's own deadlines are short here; a 50 ms tick covers them.
        ::poll(fds, 2, timeout == UINT64_MAX ? -1 : 50);
        uint64_t drained;
        [[maybe_unused]] ssize_t n = ::read(wakeFd_, &drained, sizeof drained);
    }
    sd_bus_flush_close_unref(bus_);
    {
        std::lock_guard<std::mutex> g(lock_);
        ended_ = true;
        bus_ = nullptr;
    }
    done_.notify_all();
}

}  // namespace trevlin::test
