#include "InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace trevlin::helper {

InstanceLock::InstanceLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
        error_ = path + ": " + std::strerror(errno);
        return;
    }
    int rc;
    while ((rc = ::flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc == 0) {
        held_ = true;
    } else {
        error_ = errno == EWOULDBLOCK ? "another helper is running (" + path + " is locked)"
                                      : path + ": " + std::strerror(errno);
    }
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace trevlin::helper
