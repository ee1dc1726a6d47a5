#include "UnixSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace trevlin::linux {

int connectUnixSocket(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) return -1;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // Requests are a few bytes, but a compositor that stops reading must not
    // block the watcher's thread for good.
    timeval sendTimeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    int r;
    do {
        r = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

SocketWait waitReadable(int fd, int stopFd, int timeoutMs) {
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        int r = ::poll(fds, stopFd >= 0 ? 2 : 1, timeoutMs);
        if (r < 0) {
            if (errno == EINTR) continue;
            return SocketWait::failed;
        }
        if (r == 0) return SocketWait::timedOut;
        if (stopFd >= 0 && fds[1].revents) return SocketWait::stopped;
        // POLLHUP and POLLERR count as readable: the read that follows sees
        // the end or the error.
        return SocketWait::ready;
    }
}

bool readExactly(int fd, int stopFd, void* buffer, size_t size, int timeoutMs) {
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < size) {
        if (waitReadable(fd, stopFd, timeoutMs) != SocketWait::ready) return false;
        ssize_t n = ::read(fd, out + done, size - done);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace trevlin::linux
