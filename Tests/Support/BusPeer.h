// A program on a test's session bus, played by the test: a connection of its
// own with a thread that answers calls, so a watcher's blocking calls to it
// are served. Work given to `run()` happens on that thread, the only one that
// touches the connection.
#pragma once

#include <systemd/sd-bus.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace trevlin::test {

class BusPeer {
public:
    /// Connects to the bus at `address`; `connected()` says whether it worked.
    explicit BusPeer(const std::string& address);
    /// Leaves the bus (names it owns go with it) and ends the thread.
    ~BusPeer();
    BusPeer(const BusPeer&) = delete;
    BusPeer& operator=(const BusPeer&) = delete;

    bool connected() const { return connected_; }
    /// Runs `work` on the peer's thread and waits until it is done.
    void run(const std::function<void(sd_bus*)>& work);
    /// Leaves the bus now; later `run()` calls do nothing.
    void leave();

private:
    void loop();

    sd_bus* bus_ = nullptr;  // guarded by lock_ once the thread runs
    bool connected_ = false;
    int wakeFd_ = -1;
    std::mutex lock_;
    std::condition_variable done_;
    std::deque<std::function<void(sd_bus*)>> work_;  // guarded by lock_
    uint64_t posted_ = 0, finished_ = 0;             // guarded by lock_
    bool leaving_ = false;                           // guarded by lock_
    bool ended_ = false;                             // guarded by lock_
    std::thread thread_;
};

}  // namespace trevlin::test
