// The front app on sway and other compositors that speak i3's IPC protocol
// (SWAYSOCK, I3SOCK): subscribes to window events and takes the pid of each
// container that gains the focus; the first answer is the focused node of the
// layout tree. sway puts the client's pid in every view's container; a
// container without one (i3's X11 windows) leaves the answer unknown.
#pragma once

#include "ThreadedFrontWatcher.h"

#include <cstdint>
#include <optional>
#include <string>

namespace trevlin::linux {

class SwayFrontWatcher : public ThreadedFrontWatcher {
public:
    explicit SwayFrontWatcher(std::string socketPath);
    ~SwayFrontWatcher() override;

    /// The answer of a GET_TREE reply (the layout tree as JSON): that of its
    /// focused node: a view's pid; "none" for an empty workspace; unknown for
    /// anything else.
    static FrontApp frontOfTree(const std::string& json);

private:
    void run() override;

    struct Message {
        uint32_t type = 0;
        std::string payload;
    };
    bool send(int fd, uint32_t type, const std::string& payload);
    /// The next message; absent when the socket closed, stop was asked for,
    /// the message is malformed, or `timeoutMs` passed without a byte.
    std::optional<Message> receive(int fd, int timeoutMs);
    /// The reply of the given type, skipping events that arrive before it.
    std::optional<Message> replyOf(int fd, uint32_t type);

    std::string socketPath_;
};

}  // namespace trevlin::linux
