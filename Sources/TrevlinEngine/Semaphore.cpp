#include "Semaphore.h"

#include "ProcessUtil.h"

namespace trevlin {

void Semaphore::signal() {
    count_.fetch_add(1);
    platform().notifyWaiters();
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
    auto& p = platform();
    uint64_t deadline = p.monotonicTicks() + ticksFromSeconds(seconds);
    return p.waitUntil(deadline, [this] { return tryTake(); });
}

}  // namespace trevlin
