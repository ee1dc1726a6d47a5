// Watches the X server's active window (_NET_ACTIVE_WINDOW of the root
// window, then _NET_WM_PID of that window) and reports the pid of each newly
// activated app. Without an X server it reports nothing and the front pid is 0.
#pragma once

#include "Platform.h"

#include <atomic>
#include <functional>
#include <thread>

namespace trevlin::linux {

class X11FrontWatcher {
public:
    X11FrontWatcher() = default;
    ~X11FrontWatcher();
    X11FrontWatcher(const X11FrontWatcher&) = delete;
    X11FrontWatcher& operator=(const X11FrontWatcher&) = delete;

    /// Connects and starts the watching thread (once); returns the current
    /// front pid, 0 when there is no X server or no active window.
    Pid start(std::function<void(Pid)> onChange);

private:
    void run();

    std::function<void(Pid)> onChange_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    bool started_ = false;
    Pid initial_ = 0;
    void* connection_ = nullptr;
    uint32_t root_ = 0;
    uint32_t activeAtom_ = 0;
    uint32_t pidAtom_ = 0;
};

}  // namespace trevlin::linux
