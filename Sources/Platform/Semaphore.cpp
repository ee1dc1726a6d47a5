#include "Semaphore.h"

#include "ProcessUtil.h"

namespace trevlin {

void Semaphore::signal() {
    count_.fetch_add(1);
    platform_.notifyWaiters();
}

bool Semaphore::tryTake() {
    int c = count_.load();
    while (c > 0) {
        if (count_.compare_exchange_weak(c, c - 1)) return true;
    }
    return false;
}

bool Semaphore::wait(double seconds) {
    if (tryTake()) return true;
    if (!(seconds > 0)) return false;
    uint64_t deadline = platform_.monotonicTicks() + ticksFromSeconds(platform_, seconds);
    return platform_.waitUntil(deadline, [this] { return tryTake(); });
}

}  // namespace trevlin
