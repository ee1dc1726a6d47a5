// One helper at a time per journal folder: two would hold the same
// processes with two duty cycles and take turns at the status file. The
// lock is an flock on a file in the journal folder, released by the kernel
// however the process ends.
#pragma once

#include <string>

namespace trevlin::helper {

class InstanceLock {
public:
    /// Tries to take the lock on `path`; see `held()`.
    explicit InstanceLock(const std::string& path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    bool held() const { return held_; }
    /// Why the lock is not held ("" when it is).
    const std::string& error() const { return error_; }

private:
    int fd_ = -1;
    bool held_ = false;
    std::string error_;
};

}  // namespace trevlin::helper
