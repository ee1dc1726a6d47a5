// A counting semaphore whose timed wait runs on the platform's monotonic
// clock, so that waits follow the virtual clock of a simulated platform too.
#pragma once

#include "Platform.h"

#include <atomic>

namespace trevlin {

class Semaphore {
public:
    explicit Semaphore(Platform& platform, int initial = 0) : platform_(platform), count_(initial) {}
    void signal();
    /// Waits at most `seconds`; true when a signal was taken.
    bool wait(double seconds);

private:
    bool tryTake();
    Platform& platform_;
    std::atomic<int> count_;
};

}  // namespace trevlin
