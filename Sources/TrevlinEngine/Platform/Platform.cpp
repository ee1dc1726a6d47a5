#include "Platform.h"

#include "LinuxPlatform.h"

#include <atomic>
#include <mutex>

namespace trevlin {

namespace {
std::mutex gPlatformLock;
std::shared_ptr<Platform> gPlatform;
std::atomic<Platform*> gPlatformRaw{nullptr};
}  // namespace

Platform& platform() {
    Platform* p = gPlatformRaw.load(std::memory_order_acquire);
    if (p) return *p;
    std::lock_guard<std::mutex> g(gPlatformLock);
    if (!gPlatform) {
        gPlatform = std::make_shared<LinuxPlatform>();
        gPlatformRaw.store(gPlatform.get(), std::memory_order_release);
    }
    return *gPlatform;
}

void setPlatform(std::shared_ptr<Platform> p) {
    std::lock_guard<std::mutex> g(gPlatformLock);
    // The previous platform is kept alive on purpose: threads that already
    // hold a reference (a front tracker, a late waiter) must never see it
    // destroyed under them.
    static std::vector<std::shared_ptr<Platform>> retired;
    if (gPlatform) retired.push_back(gPlatform);
    gPlatform = std::move(p);
    gPlatformRaw.store(gPlatform.get(), std::memory_order_release);
}

std::shared_ptr<Platform> currentPlatform() {
    platform();
    std::lock_guard<std::mutex> g(gPlatformLock);
    return gPlatform;
}

}  // namespace trevlin
