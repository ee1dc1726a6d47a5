#include "HyprlandFrontWatcher.h"

#include "UnixSocket.h"

#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cerrno>

namespace trevlin::linux {

namespace {

// A reply larger than this is no "activewindow" answer.
constexpr size_t kMaxReply = 1u << 20;
// How long a request may take before Hyprland counts as not answering.
constexpr int kReplyTimeoutMs = 2000;
// A line longer than this (window titles are part of some events) is cut.
constexpr size_t kMaxLine = 64u << 10;

bool isSocket(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

}  // namespace

HyprlandFrontWatcher::HyprlandFrontWatcher(std::vector<std::string> socketDirs) : socketDirs_(std::move(socketDirs)) {}

HyprlandFrontWatcher::~HyprlandFrontWatcher() { stop(); }

std::vector<std::string> HyprlandFrontWatcher::socketDirs(const std::string& runtimeDir, const std::string& signature) {
    std::vector<std::string> dirs;
    // The signature names a folder: one with a slash or "." / ".." in it names
    // something else.
    if (signature.empty() || signature.find('/') != std::string::npos || signature == "." || signature == "..")
        return dirs;
    if (!runtimeDir.empty()) dirs.push_back(runtimeDir + "/hypr/" + signature);
    dirs.push_back("/tmp/hypr/" + signature);
    return dirs;
}

FrontApp HyprlandFrontWatcher::frontOfReply(const std::string& json) {
    auto reply = nlohmann::json::parse(json, nullptr, false);
    if (!reply.is_object()) return FrontApp::unknown();
    if (reply.empty()) return FrontApp::none();
    auto pid = reply.find("pid");
    if (pid == reply.end() || !pid->is_number_integer()) return FrontApp::unknown();
    int64_t value = pid->get<int64_t>();
    if (value <= 0 || value > INT32_MAX) return FrontApp::unknown();
    return FrontApp::of(static_cast<Pid>(value));
}

FrontApp HyprlandFrontWatcher::askActiveWindow(const std::string& dir) {
    // One connection per request: Hyprland answers and closes.
    int fd = connectUnixSocket(dir + "/.socket.sock");
    if (fd < 0) return FrontApp::unknown();
    std::string reply;
    if (writeAll(fd, "j/activewindow")) {
        char buffer[4096];
        while (reply.size() <= kMaxReply) {
            if (waitReadable(fd, stopFd(), kReplyTimeoutMs) != SocketWait::ready) {
                reply.clear();
                break;
            }
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) reply.clear();
            if (n <= 0) break;
            reply.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return frontOfReply(reply);
}

void HyprlandFrontWatcher::run() {
    std::string dir;
    for (const auto& candidate : socketDirs_) {
        if (isSocket(candidate + "/.socket2.sock")) {
            dir = candidate;
            break;
        }
    }
    int events = dir.empty() ? -1 : connectUnixSocket(dir + "/.socket2.sock");
    if (events < 0) {
        publish(FrontApp::unknown());
        return;
    }
    // Listening first, asking second: an activation between the two is
    // announced on the event socket, so none is missed.
    publish(askActiveWindow(dir));
    settle();

    std::string pending;
    bool sawV2 = false;
    char buffer[4096];
    while (!stopRequested()) {
        if (waitReadable(events, stopFd(), -1) != SocketWait::ready) break;
        ssize_t n = ::read(events, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            // Each activation is a cue to ask, never an answer by itself: by the
            // time a line is read the focus may have moved on, and the request
            // socket tells how things are now. Hyprland sends "activewindow"
            // then "activewindowv2"; versions before the v2 event only the first.
            static const std::string v2 = "activewindowv2>>", v1 = "activewindow>>";
            bool cue = false;
            if (line.compare(0, v2.size(), v2) == 0) cue = sawV2 = true;
            else if (line.compare(0, v1.size(), v1) == 0) cue = !sawV2;
            if (!cue) continue;
            FrontApp answer = askActiveWindow(dir);
            // An answer cut short by stopping is no answer.
            if (stopRequested()) break;
            publish(answer);
        }
        if (pending.size() > kMaxLine) pending.clear();
    }
    // Hyprland went away or the stream broke: nobody tells the front app now.
    if (!stopRequested()) publish(FrontApp::unknown());
    ::close(events);
}

}  // namespace trevlin::linux
