// A gtest fixture that runs the engine on a `SimulatedPlatform`: installs a
// fresh one, forgets the running-apps and front-app caches, runs main-thread
// work inline, and puts the previous platform back afterwards.
#pragma once

#include "FrontmostTracker.h"
#include "MainThread.h"
#include "Platform/SimulatedPlatform.h"
#include "RunningApps.h"

#include <gtest/gtest.h>

#include <memory>

namespace trevlin::test {

class SimulatedEngine : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = currentPlatform();
        sim = std::make_shared<SimulatedPlatform>();
        setPlatform(sim);
        resetCaches();
        setMainThreadHook(nullptr);
    }
    void TearDown() override {
        resetCaches();
        setPlatform(previous_);
    }
    static void resetCaches() {
        FrontmostTracker::shared().resetForTesting();
        RunningApps::resetForTesting();
    }
    /// Registers `pid` as a running app with a bundle.
    void app(Pid pid, const std::string& bundle, const std::string& name,
             ActivationPolicy policy = ActivationPolicy::regular) {
        if (!sim->has(pid)) sim->spawn(pid, "/usr/lib/" + name + "/" + name);
        sim->setApp(RunningAppInfo{pid, bundle, name, "org.example." + name, policy});
    }

    std::shared_ptr<SimulatedPlatform> sim;

private:
    std::shared_ptr<Platform> previous_;
};

}  // namespace trevlin::test
