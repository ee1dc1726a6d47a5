// A real app model on the simulated platform for the model's and the interface's tests:
// samples are handed to it directly and the virtual clock moves only when the
// test says so. Include before any Qt header (the simulated platform has a
// member named like Qt's `signals` keyword).
#pragma once

#include "SimulatedPlatform.h"

#include "AppModel.h"
#include "AppModelProbe.h"
#include "EngineContext.h"
#include "QtTestApp.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace trevlin::testing {

inline AppUsage appRow(const std::string& key, const std::string& name, double cores, bool userFacing = true,
                       AppKind kind = AppKind::app) {
    AppUsage a;
    a.name = name;
    a.bundlePath = key;
    a.cores = cores;
    a.pCores = cores;
    a.isUserFacing = userFacing;
    a.kind = kind;
    a.processCount = 1;
    return a;
}

/// A sample with its rows in the monitor's order (busiest first).
inline MonitorSnapshot sampleOf(std::vector<AppUsage> apps, double pCores = -1, double eCores = 0) {
    std::stable_sort(apps.begin(), apps.end(), [](const AppUsage& a, const AppUsage& b) {
        return a.cores != b.cores ? a.cores > b.cores : a.name < b.name;
    });
    MonitorSnapshot s;
    s.apps = apps;
    double sum = 0;
    for (const auto& a : apps) sum += a.cores;
    s.pCores = pCores >= 0 ? pCores : sum;
    s.eCores = eCores;
    s.totalCores = s.pCores + s.eCores;
    s.other.name = "Other / system";
    return s;
}

class UiModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        qtApp();
        sim_ = std::make_shared<SimulatedPlatform>();
        sim_->setDataDirectory(dir_.path() + "/data");
    }
    void TearDown() override { model_.reset(); }

    /// A model with these settings (JSON; none: the defaults).
    AppModel& makeModel(const std::string& settingsJson = "") {
        if (!settingsJson.empty()) dir_.write("data/settings.json", settingsJson);
        AppModelOptions o;
        o.context = EngineContext::make(sim_);
        o.dataDirectory = dir_.path() + "/data";
        o.journalDirectory = dir_.mkdir("journal");
        o.monitorTimer = false;
        o.notifications = false;
        o.engineCallObserver = engineCalls_.observer();
        model_ = std::make_unique<AppModel>(o);
        return *model_;
    }

    /// One sample per virtual second for `seconds` seconds.
    void feed(const MonitorSnapshot& s, int seconds) {
        for (int i = 0; i < seconds; ++i) {
            sim_->advance(1.0);
            model_->receive(s);
        }
    }

    test::TempDir dir_;
    std::shared_ptr<SimulatedPlatform> sim_;
    /// The calls the model made into its limiter manager.
    EngineCallLog engineCalls_;
    std::unique_ptr<AppModel> model_;
};

}  // namespace trevlin::testing
