// Small blocking-free helpers for talking to a compositor over a Unix stream
// socket: every wait also wakes for a stop descriptor and has a deadline, so a
// compositor that hangs or goes away never holds Trevlin up.
#pragma once

#include <string>

namespace trevlin::linux {

/// Connects to the stream socket at `path`; the descriptor (close-on-exec),
/// or -1. Writes time out after a few seconds instead of blocking for good.
int connectUnixSocket(const std::string& path);

enum class SocketWait { ready, stopped, timedOut, failed };

/// Waits until `fd` is readable (or closed by the peer), `stopFd` is
/// readable, or `timeoutMs` passes (-1: no deadline).
SocketWait waitReadable(int fd, int stopFd, int timeoutMs);

/// Reads exactly `size` bytes. False when the peer closed, the stop
/// descriptor woke, the deadline passed (per wait) or reading failed.
bool readExactly(int fd, int stopFd, void* buffer, size_t size, int timeoutMs);

/// Writes all of `bytes`; false on any failure (EINTR is retried).
bool writeAll(int fd, const std::string& bytes);

}  // namespace trevlin::linux
