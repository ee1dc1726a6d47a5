// An engine context around a fresh simulated platform. Each instance has its
// own platform, running-apps cache and front-app tracker, so nothing carries
// over from one test to the next; main-thread work runs inline unless a hook
// is given.
#pragma once

#include "EngineContext.h"
#include "SimulatedPlatform.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace trevlin::test {

template <class Sim = SimulatedPlatform>
struct SimulatedContext {
    explicit SimulatedContext(MainThreadHook mainThread = {})
        : sim(std::make_shared<Sim>()), context(EngineContext::make(sim, std::move(mainThread))) {}

    /// Registers `pid` as a running app with a bundle.
    void app(Pid pid, const std::string& bundle, const std::string& name,
             ActivationPolicy policy = ActivationPolicy::regular) {
        if (!sim->has(pid)) sim->spawn(pid, "/usr/lib/" + name + "/" + name);
        sim->setApp(RunningAppInfo{pid, bundle, name, "org.example." + name, policy});
    }

    std::shared_ptr<Sim> sim;
    std::shared_ptr<EngineContext> context;
};

/// The gtest fixture over a `SimulatedContext`.
class SimulatedEngine : public ::testing::Test {
protected:
    void app(Pid pid, const std::string& bundle, const std::string& name,
             ActivationPolicy policy = ActivationPolicy::regular) {
        engine_.app(pid, bundle, name, policy);
    }

    SimulatedContext<> engine_;
    std::shared_ptr<SimulatedPlatform> sim = engine_.sim;
    std::shared_ptr<EngineContext> context = engine_.context;
};

}  // namespace trevlin::test
