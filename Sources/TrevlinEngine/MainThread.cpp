#include "MainThread.h"

#include <mutex>

namespace trevlin {

namespace {
std::mutex gHookLock;
MainThreadHook gHook;
}  // namespace

void setMainThreadHook(MainThreadHook hook) {
    std::lock_guard<std::mutex> g(gHookLock);
    gHook = std::move(hook);
}

void runOnMainThread(std::function<void()> work) {
    MainThreadHook hook;
    {
        std::lock_guard<std::mutex> g(gHookLock);
        hook = gHook;
    }
    if (hook) hook(std::move(work));
    else work();
}

}  // namespace trevlin
