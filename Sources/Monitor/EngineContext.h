// What every part of the engine shares: the platform it runs on, the cache of
// running desktop apps, the process table the limiters scan and the
// front-app tracker. The app, trevlinctl and the
// tests each build one and hand it down; nothing in the engine is global.
//
// Parts that keep a thread hold the context by `shared_ptr`, so it outlives
// the last of them.
#pragma once

#include "FrontmostTracker.h"
#include "MainThread.h"
#include "Platform.h"
#include "ProcessTable.h"
#include "RunningApps.h"

#include <memory>

namespace trevlin {

class EngineContext {
public:
    /// A context over `platform`; front-app observers run through `mainThread`.
    static std::shared_ptr<EngineContext> make(std::shared_ptr<Platform> platform, MainThreadHook mainThread = {}) {
        return std::shared_ptr<EngineContext>(new EngineContext(std::move(platform), std::move(mainThread)));
    }
    EngineContext(const EngineContext&) = delete;
    EngineContext& operator=(const EngineContext&) = delete;

    Platform& platform() const { return *platform_; }
    RunningApps& runningApps() { return runningApps_; }
    ProcessTable& processes() { return processes_; }
    FrontmostTracker& front() { return front_; }

private:
    EngineContext(std::shared_ptr<Platform> platform, MainThreadHook mainThread)
        : platform_(std::move(platform)),
          runningApps_(*platform_),
          processes_(*platform_, runningApps_),
          front_(*platform_, std::move(mainThread)) {}

    // Declared first so it is destroyed last: the other members use it.
    const std::shared_ptr<Platform> platform_;
    RunningApps runningApps_;
    ProcessTable processes_;
    FrontmostTracker front_;
};

}  // namespace trevlin
