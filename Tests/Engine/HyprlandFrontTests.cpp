// The Hyprland watcher against a fake Hyprland: the event socket
// (.socket2.sock) that announces activations line by line, and the request
// socket (.socket.sock) that answers "j/activewindow" with JSON and closes.
#include "FrontReports.h"
#include "HyprlandFrontWatcher.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

using namespace trevlin;
using namespace trevlin::test;

namespace {

int listenAt(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

class FakeHyprland {
public:
    /// `withV2`: a Hyprland that sends "activewindowv2" (after "activewindow",
    /// as it does); without it, one from before that event existed. `pid`:
    /// the active window's process at start.
    FakeHyprland(const std::string& dir, bool withV2, Pid pid) : withV2_(withV2) {
        active_ = activeWindow("5641c2ad7c10", pid);
        std::filesystem::create_directories(dir);
        events_ = listenAt(dir + "/.socket2.sock");
        requests_ = listenAt(dir + "/.socket.sock");
        stopFd_ = ::eventfd(0, EFD_CLOEXEC);
        thread_ = std::thread([this] { loop(); });
    }
    ~FakeHyprland() { quit(); }

    bool listening() const { return events_ >= 0 && requests_ >= 0; }

    /// The window at `address` of process `pid` becomes active; an empty
    /// address: no window is.
    void activate(const std::string& address, Pid pid) {
        std::unique_lock<std::mutex> lk(lock_);
        active_ = activeWindow(address, pid);
        std::string lines = address.empty() ? "activewindow>>,\n" : "activewindow>>foot,some title\n";
        if (withV2_) lines += "activewindowv2>>" + address + "\n";
        send(lk, lines);
    }
    /// Lines of other events, as they come between activations.
    void other(const std::string& lines) {
        std::unique_lock<std::mutex> lk(lock_);
        send(lk, lines);
    }
    /// Hyprland exits: both sockets close.
    void quit() {
        if (!thread_.joinable()) return;
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
        thread_.join();
        for (int fd : {events_, requests_, client_, stopFd_})
            if (fd >= 0) ::close(fd);
    }

private:
    static std::string activeWindow(const std::string& address, Pid pid) {
        if (address.empty()) return "{}";
        return "{\"address\": \"0x" + address + "\", \"class\": \"foot\", \"pid\": " + std::to_string(pid) +
               ", \"xwayland\": false}";
    }

    void send(std::unique_lock<std::mutex>& lk, const std::string& lines) {
        connected_.wait_for(lk, std::chrono::seconds(20), [&] { return client_ >= 0; });
        if (client_ >= 0) writeAll(client_, lines);
    }

    void loop() {
        for (;;) {
            pollfd fds[3] = {{events_, POLLIN, 0}, {requests_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
            if (::poll(fds, 3, -1) < 0) continue;
            if (fds[2].revents) return;
            if (fds[0].revents) {
                int c = ::accept4(events_, nullptr, nullptr, SOCK_CLOEXEC);
                std::lock_guard<std::mutex> g(lock_);
                client_ = c;
                connected_.notify_all();
            }
            if (fds[1].revents) {
                int c = ::accept4(requests_, nullptr, nullptr, SOCK_CLOEXEC);
                char request[64] = {};
                pollfd p{c, POLLIN, 0};
                if (::poll(&p, 1, 5000) > 0 && ::read(c, request, sizeof request - 1) > 0) {
                    std::lock_guard<std::mutex> g(lock_);
                    writeAll(c, std::string(request) == "j/activewindow" ? active_ : "unknown request");
                }
                ::close(c);
            }
        }
    }

    bool withV2_;
    int events_ = -1, requests_ = -1, stopFd_ = -1;
    std::mutex lock_;
    std::condition_variable connected_;
    int client_ = -1;     // guarded by lock_
    std::string active_ = "{}";  // guarded by lock_
    std::thread thread_;
};

}  // namespace

TEST(HyprlandFront, ReportsEachActivationAndSurvivesHyprlandGoingAway) {
    for (bool withV2 : {true, false}) {
        SCOPED_TRACE(withV2 ? "activewindowv2" : "activewindow only");
        TempDir runtime;
        // The first folder has no sockets, as when XDG_RUNTIME_DIR/hypr is
        // not where this Hyprland keeps them: the second is used.
        FakeHyprland hyprland(runtime.path() + "/tmp-hypr/sig", withV2, 1111);
        ASSERT_TRUE(hyprland.listening());

        FrontReports reports;
        linux::HyprlandFrontWatcher watcher({runtime.path() + "/hypr/sig", runtime.path() + "/tmp-hypr/sig"});
        EXPECT_EQ(watcher.start(reports.callback()), FrontApp::of(1111));
        // One activation at a time, as a person makes them.
        hyprland.activate("5641c2ad8000", 2222);
        reports.waitFor(1);
        hyprland.activate("5641c2ad8000", 2222);  // the same window again: no report
        hyprland.other("openwindow>>5641c2ad9000,2,foot,a title\nworkspace>>2\nnot an event\n");
        hyprland.activate("", 0);  // no window active
        reports.waitFor(2);
        hyprland.activate("5641c2ad9000", 3333);
        reports.waitFor(3);
        hyprland.quit();
        EXPECT_EQ(reports.waitFor(4), (std::vector<FrontApp>{FrontApp::of(2222), FrontApp::none(), FrontApp::of(3333),
                                                              FrontApp::unknown()}));
        EXPECT_EQ(watcher.unknownReason(), linux::kFrontUntoldReason);
    }
}
