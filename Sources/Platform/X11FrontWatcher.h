// Watches the X server's active window (_NET_ACTIVE_WINDOW of the root
// window, then _NET_WM_PID of that window) and reports the pid of each newly
// activated app. Used in X11 sessions, where an active window of 0 means no
// app is in front. Without an X server the answer is unknown.
#pragma once

#include "FrontWatcher.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace trevlin::linux {

class X11FrontWatcher : public FrontWatcher {
public:
    /// `display`: the X display to watch; empty: $DISPLAY.
    explicit X11FrontWatcher(std::string display = {}) : display_(std::move(display)) {}
    ~X11FrontWatcher() override;
    X11FrontWatcher(const X11FrontWatcher&) = delete;
    X11FrontWatcher& operator=(const X11FrontWatcher&) = delete;

    /// Connects and starts the watching thread (once); returns the current
    /// front app, none when no window is active, unknown without an X server.
    /// Reports each newly activated app; losing the X server reports unknown.
    FrontApp start(std::function<void(FrontApp)> onChange) override;
    std::string unknownReason() const override;

private:
    void run();

    std::string display_;
    std::function<void(FrontApp)> onChange_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> connected_{false};
    bool started_ = false;
    FrontApp initial_;
    void* connection_ = nullptr;
    uint32_t root_ = 0;
    uint32_t activeAtom_ = 0;
    uint32_t pidAtom_ = 0;
};

}  // namespace trevlin::linux
