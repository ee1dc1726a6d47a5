// The app model's logic with the engine on the simulated platform: samples
// are handed to the model directly and the virtual clock moves only when the
// test says so, so every 5-second rule and every policy period is exact.
#include "UiModelFixture.h"

#include "Appearance.h"
#include "LimiterManager.h"
#include "Monitor.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>
#include <signal.h>
#include <sys/stat.h>

using namespace trevlin;
using namespace trevlin::testing;

namespace {

const std::string kEditor = "/usr/share/applications/editor.desktop";
const std::string kBrowser = "/usr/share/applications/browser.desktop";
const std::string kIndexer = "/usr/share/applications/indexer.desktop";

/// A row as the monitor gives it; not user-facing unless said.
AppUsage row(const std::string& key, const std::string& name, double cores, bool userFacing = false,
             AppKind kind = AppKind::app) {
    return appRow(key, name, cores, userFacing, kind);
}

std::vector<std::string> keysOf(const std::vector<AppUsage>& rows) {
    std::vector<std::string> keys;
    for (const auto& r : rows) keys.push_back(r.bundlePath);
    return keys;
}

class AppModelTest : public UiModelTest {
protected:
    AppModelProbe probe() { return AppModelProbe(*model_); }

    std::map<std::string, Rule> engineRules() {
        probe().waitForEngine();
        return probe().limiter()->rules();
    }
    std::vector<std::string> calls() {
        probe().waitForEngine();
        return engineCalls_.calls();
    }

    nlohmann::json savedSettings() {
        model_->saveNow();
        std::ifstream in(dir_.path() + "/data/settings.json");
        return nlohmann::json::parse(in);
    }
};

}  // namespace

TEST_F(AppModelTest, MenuBarTextChangesAtMostEveryFiveSecondsAndOnlyWhenItDiffers) {
    AppModel& m = makeModel();
    int changes = 0;
    QObject::connect(&m, &AppModel::labelChanged, [&] { ++changes; });
    int published = 0;
    QObject::connect(&m, &AppModel::snapshotChanged, [&] { ++published; });

    // Nothing on screen and Automatic mode inactive: lightweight, nothing
    // published, but the text follows the samples.
    EXPECT_TRUE(probe().monitor().lightweight());
    EXPECT_EQ(m.labelText(), "0.0");
    m.receive(sampleOf({}, 1.04));
    EXPECT_EQ(m.labelText(), "1.0");
    EXPECT_EQ(changes, 1);

    // A total that changes every second shows only every 5 s.
    const double totals[] = {2.0, 3.0, 4.0, 5.0};
    for (double t : totals) {
        sim_->advance(1.0);
        m.receive(sampleOf({}, t));
        EXPECT_EQ(m.labelText(), "1.0") << "after " << t;
    }
    sim_->advance(1.0);
    m.receive(sampleOf({}, 6.0));
    EXPECT_EQ(m.labelText(), "6.0");
    EXPECT_EQ(changes, 2);

    // A total that stays the same never rewrites the text, however long.
    for (int i = 0; i < 12; ++i) {
        sim_->advance(1.0);
        m.receive(sampleOf({}, 6.02));
    }
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(published, 0);
    EXPECT_FALSE(m.snapshot().has_value());

    // Opening the panel publishes the latest sample at once and ends the
    // lightweight mode.
    m.setPanelVisible(true);
    EXPECT_EQ(published, 1);
    ASSERT_TRUE(m.snapshot().has_value());
    EXPECT_FALSE(probe().monitor().lightweight());
    m.setPanelVisible(false);
    EXPECT_TRUE(probe().monitor().lightweight());
}

TEST_F(AppModelTest, RowOrderHoldsForFiveSeconds) {
    AppModel& m = makeModel();
    m.setWindowVisible(true);
    m.receive(sampleOf({row(kEditor, "Editor", 3.0, true), row(kBrowser, "Browser", 2.0, true)}));
    EXPECT_EQ(keysOf(m.ordered(AppKind::app, true)), (std::vector<std::string>{kEditor, kBrowser}));

    // The browser overtakes the editor and a newcomer appears: the rows stay
    // put and the newcomer goes to the end.
    auto swapped = sampleOf({row(kEditor, "Editor", 1.0, true), row(kBrowser, "Browser", 4.0, true),
                               row(kIndexer, "Indexer", 5.0, true)});
    feed(swapped, 4);
    EXPECT_EQ(keysOf(m.ordered(AppKind::app, true)), (std::vector<std::string>{kEditor, kBrowser, kIndexer}));

    // Five seconds after the last sort the sample's own order takes over.
    feed(swapped, 1);
    EXPECT_EQ(keysOf(m.ordered(AppKind::app, true)), (std::vector<std::string>{kIndexer, kBrowser, kEditor}));
}

TEST_F(AppModelTest, PanelRowsPassTheVisibilityFilter) {
    AppModel& m = makeModel(R"({"masterEnabled": true, "rules": {
        "/usr/share/applications/custom.desktop": {"mode": "custom", "maxCores": 2},
        "/usr/share/applications/off.desktop": {"mode": "off"}}})");
    m.answer("/usr/share/applications/auto.desktop", "Auto", AutoAnswer::limitOnce);
    m.setPanelVisible(true);
    m.receive(sampleOf({
        row("/usr/share/applications/busy.desktop", "Busy", 0.21),
        row("/usr/share/applications/quiet.desktop", "Quiet", 0.2),
        row("/usr/share/applications/facing.desktop", "Facing", 0.0, true),
        row("/usr/share/applications/custom.desktop", "Custom", 0.01),
        row("/usr/share/applications/off.desktop", "Off", 0.01),
        row("/usr/share/applications/auto.desktop", "Auto", 0.0),
    }));
    EXPECT_EQ(keysOf(m.topApps()),
              (std::vector<std::string>{"/usr/share/applications/busy.desktop",
                                        "/usr/share/applications/custom.desktop",
                                        "/usr/share/applications/auto.desktop",
                                        "/usr/share/applications/facing.desktop"}));
    // The Apps page shows the filtered-out rows only on request.
    EXPECT_EQ(m.ordered(AppKind::app, false).size(), 4u);
    EXPECT_EQ(m.ordered(AppKind::app, true).size(), 6u);

    // At most five rows, busiest first.
    std::vector<AppUsage> many;
    for (int i = 0; i < 8; ++i)
        many.push_back(row("/usr/share/applications/app" + std::to_string(i) + ".desktop", "App" + std::to_string(i),
                           1.0 + i));
    m.receive(sampleOf(many));
    auto top = m.topApps();
    ASSERT_EQ(top.size(), 5u);
    EXPECT_EQ(top.front().name, "App7");
    EXPECT_EQ(top.back().name, "App3");
}

TEST_F(AppModelTest, DisplayNames) {
    AppModel& m = makeModel();
    EXPECT_EQ(m.displayName("cli:node"), "node");
    EXPECT_EQ(m.displayName("cli:claude-code"), "Claude Code");
    EXPECT_EQ(m.displayName("/usr/share/applications/org.example.Viewer.desktop"), "org.example.Viewer");
    m.setPanelVisible(true);
    m.receive(sampleOf({row(kEditor, "Text Editor", 1.0, true)}));
    EXPECT_EQ(m.displayName(kEditor), "Text Editor");
    // A name once seen is remembered after the app is gone.
    m.receive(sampleOf({}));
    EXPECT_EQ(m.displayName(kEditor), "Text Editor");
}

TEST_F(AppModelTest, EngineSyncSetsOnlyWhatChangedAndDisablesFirst) {
    AppModel& m = makeModel(R"({"masterEnabled": true, "autoEnabled": true, "rules": {
        "/usr/share/applications/editor.desktop": {"mode": "custom", "maxCores": 1.5, "method": "strict"},
        "/usr/share/applications/browser.desktop": {"mode": "automatic", "maxCores": 3}}})");
    EXPECT_EQ(calls(), (std::vector<std::string>{"set " + kEditor, "enable"}));
    EXPECT_TRUE(probe().limiter()->isEnabled());
    EXPECT_EQ(engineRules().at(kEditor), Rule(1.5, Method::strict, false, true, true));
    EXPECT_EQ(engineRules().count(kBrowser), 0u);  // a stored rule in automatic mode is not enforced

    // Nothing changed: nothing is set again.
    engineCalls_.clear();
    m.syncEngine();
    m.syncEngine();
    EXPECT_TRUE(calls().empty());

    // An automatic limit joins; only it is set.
    m.answer(kIndexer, "Indexer", AutoAnswer::limitOnce);
    EXPECT_EQ(calls(), (std::vector<std::string>{"set " + kIndexer}));

    // The main switch off: the manager is disabled before anything is
    // removed, the automatic limit goes, the custom rule stays stored.
    engineCalls_.clear();
    m.setMaster(false);
    EXPECT_EQ(calls(), (std::vector<std::string>{"disable", "remove " + kIndexer}));
    EXPECT_FALSE(probe().limiter()->isEnabled());
    EXPECT_EQ(engineRules().size(), 1u);

    // On again: enabled last.
    engineCalls_.clear();
    m.setMaster(true);
    EXPECT_EQ(calls(), (std::vector<std::string>{"enable"}));

    // After shut-down a late answer holds nothing again.
    m.shutdownEngine();
    engineCalls_.clear();
    m.answer(kBrowser, "Browser", AutoAnswer::limitOnce);
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(engineRules().empty());
}

TEST(EngineBridgeLogNumber, ShortestDecimalWithAFractionalPart) {
    const std::pair<double, const char*> cases[] = {
        {2, "2.0"}, {1.5, "1.5"}, {0.1, "0.1"}, {100000, "100000.0"}, {0.0001, "0.0001"}, {1e21, "1000000000000000000000.0"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(EngineBridge::logNumber(value), text) << value;
}

TEST_F(AppModelTest, EngineRulesFromStoredAndAutomaticRules) {
    AppModel& m = makeModel(R"({"masterEnabled": true, "autoAction": "pause", "rules": {
        "/usr/share/applications/editor.desktop": {"mode": "custom", "maxCores": 2.5, "method": "ecores"},
        "cli:make": {"mode": "custom", "maxCores": 1, "method": "pause"},
        "cli:cargo": {"mode": "custom", "maxCores": 1, "method": "turbo"}}})");
    // Automatic mode limits the editor too; the custom rule wins.
    m.answer(kEditor, "Editor", AutoAnswer::limitOnce);
    m.answer(kBrowser, "Browser", AutoAnswer::limitOnce);
    m.answer("cli:node", "node", AutoAnswer::limitOnce);
    auto rules = engineRules();
    EXPECT_EQ(rules.at(kEditor), Rule(2.5, Method::ecores, false, true, true));
    // With the action "pause" an app is paused but a command-line group is slowed.
    EXPECT_EQ(rules.at(kBrowser), Rule(1.0, Method::pause, false, true, true));
    EXPECT_EQ(rules.at("cli:node"), Rule(1.0, Method::smart, false, true, true));
    EXPECT_EQ(m.autoLimits().at("cli:node").method, Method::smart);
    // A stored pause for a group is applied as smart; an unknown method as smart.
    EXPECT_EQ(rules.at("cli:make").method, Method::smart);
    EXPECT_EQ(rules.at("cli:cargo").method, Method::smart);

    // Changing the cap rewrites every automatic rule at once.
    m.setAutoAction("slow");
    m.setAutoTrigger(std::nullopt, std::nullopt, 2.5);
    rules = engineRules();
    EXPECT_EQ(rules.at(kBrowser), Rule(2.5, Method::smart, false, true, true));
    EXPECT_EQ(rules.at("cli:node"), Rule(2.5, Method::smart, false, true, true));
    EXPECT_EQ(rules.at(kEditor), Rule(2.5, Method::ecores, false, true, true));
    EXPECT_EQ(probe().policy().config.limitCores, 2.5);
    EXPECT_EQ(probe().policy().config.releaseQuietSeconds, 15);
    EXPECT_EQ(savedSettings()["autoLimitCores"], 2.5);
}

TEST_F(AppModelTest, EachAnswerToAQuestion) {
    struct Case {
        AutoAnswer answer;
        bool limited;
        const char* remembered;  // nullptr: nothing stored
        bool askedAgainSoon;
    };
    const Case cases[] = {
        {AutoAnswer::limitOnce, true, nullptr, false},
        {AutoAnswer::always, true, "always", false},
        {AutoAnswer::ignore, false, nullptr, false},
        {AutoAnswer::never, false, "never", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer));
        AppModel& m = makeModel(R"({"masterEnabled": true, "autoTriggerCores": 2, "autoTriggerSeconds": 10})");
        auto busy = sampleOf({row(kIndexer, "Indexer", 3.0)});
        feed(busy, 9);
        EXPECT_TRUE(m.pendingQuestions().empty());
        feed(busy, 2);
        ASSERT_EQ(m.pendingQuestions().size(), 1u);
        EXPECT_EQ(m.pendingQuestions()[0].path, kIndexer);

        m.answer(kIndexer, "Indexer", c.answer);
        EXPECT_TRUE(m.pendingQuestions().empty());
        EXPECT_EQ(m.autoLimits().count(kIndexer) == 1, c.limited);
        EXPECT_EQ(engineRules().count(kIndexer) == 1, c.limited);
        if (c.limited) {
            EXPECT_EQ(engineRules().at(kIndexer), Rule(1.0, Method::smart, false, true, true));
        }
        auto json = savedSettings();
        if (c.remembered) {
            EXPECT_EQ(json["autoDecisions"][kIndexer]["decision"], c.remembered);
            EXPECT_EQ(json["autoDecisions"][kIndexer]["name"], "Indexer");
        } else {
            EXPECT_TRUE(json["autoDecisions"].empty());
        }

        // Still busy: no new question in any case (a limited app counts as
        // quiet here, with no real process to hold, and would be released
        // after 15 s).
        feed(busy, 12);
        EXPECT_TRUE(m.pendingQuestions().empty());
        if (c.answer == AutoAnswer::never) {
            // Forgetting the answer makes the app eligible again.
            m.removeDecision(kIndexer);
            feed(busy, 11);
            EXPECT_EQ(m.pendingQuestions().size(), 1u);
        }
        model_.reset();
        std::remove((dir_.path() + "/data/settings.json").c_str());
    }
}

TEST_F(AppModelTest, RememberedAlwaysLimitsWithoutAskingAndReleasesWhenGone) {
    AppModel& m = makeModel(R"({"masterEnabled": true, "autoTriggerCores": 2, "autoTriggerSeconds": 10,
        "autoDecisions": {"/usr/share/applications/indexer.desktop": {"name": "Indexer", "decision": "always"}}})");
    auto busy = sampleOf({row(kIndexer, "Indexer", 3.0)});
    feed(busy, 11);
    EXPECT_TRUE(m.pendingQuestions().empty());
    ASSERT_EQ(m.autoLimits().count(kIndexer), 1u);
    EXPECT_EQ(engineRules().at(kIndexer).maxCores, 1.0);

    // Gone from the samples: released.
    feed(sampleOf({}), 1);
    EXPECT_TRUE(m.autoLimits().empty());
    EXPECT_TRUE(engineRules().empty());
}

TEST_F(AppModelTest, MainSwitchOffClearsQuestionsAndAutomaticLimits) {
    AppModel& m = makeModel(R"({"masterEnabled": true, "autoIncludeCommandLine": true})");
    auto busy = sampleOf({row(kIndexer, "Indexer", 3.0), row("cli:node", "node", 2.5, false, AppKind::commandLine),
                            row(kBrowser, "Browser", 4.0)});
    feed(busy, 11);
    ASSERT_EQ(m.pendingQuestions().size(), 3u);
    m.answer(kBrowser, "Browser", AutoAnswer::limitOnce);
    m.answer("cli:node", "node", AutoAnswer::limitOnce);
    ASSERT_EQ(m.autoLimits().size(), 2u);
    EXPECT_EQ(m.pendingQuestions().size(), 1u);

    m.setMaster(false);
    EXPECT_TRUE(m.pendingQuestions().empty());
    EXPECT_TRUE(m.autoLimits().empty());
    EXPECT_TRUE(probe().policy().limitedPaths().empty());
    EXPECT_TRUE(engineRules().empty());

    // While off, busy apps raise nothing.
    feed(busy, 20);
    EXPECT_TRUE(m.pendingQuestions().empty());
    EXPECT_TRUE(m.autoLimits().empty());

    // Automatic mode off does the same while the main switch is on.
    m.setMaster(true);
    feed(busy, 11);
    ASSERT_EQ(m.pendingQuestions().size(), 3u);
    m.answer(kBrowser, "Browser", AutoAnswer::limitOnce);
    m.setAutoEnabled(false);
    EXPECT_TRUE(m.pendingQuestions().empty());
    EXPECT_TRUE(m.autoLimits().empty());
    EXPECT_TRUE(engineRules().empty());
}

TEST_F(AppModelTest, WhileTheFrontAppIsUnknownNothingNewIsAskedAndWhatIsHeldStays) {
    AppModel& m = makeModel(R"({"masterEnabled": true, "autoTriggerCores": 2, "autoTriggerSeconds": 10,
        "autoDecisions": {"/usr/share/applications/indexer.desktop": {"name": "Indexer", "decision": "always"}}})");
    m.setWindowVisible(true);
    feed(sampleOf({row(kIndexer, "Indexer", 3.0)}), 11);
    ASSERT_EQ(m.autoLimits().count(kIndexer), 1u);
    EXPECT_TRUE(m.frontAppKnown());
    EXPECT_FALSE(m.frontUnknownLine());

    // The browser is busy too, but it may be the app the user types into.
    auto unknown = sampleOf({row(kIndexer, "Indexer", 3.0), row(kBrowser, "Browser", 4.0)});
    unknown.frontKnown = false;
    feed(unknown, 12);  // (the held indexer, with no real process, is released when quiet for 15 s)
    EXPECT_TRUE(m.pendingQuestions().empty());
    EXPECT_EQ(m.autoLimits().count(kBrowser), 0u);
    EXPECT_EQ(m.autoLimits().count(kIndexer), 1u);
    EXPECT_FALSE(m.frontAppKnown());
    EXPECT_EQ(m.frontUnknownLine(),
              "This desktop doesn't tell which app is in front, so nothing counts as in the background.");

    // Once the desktop tells again, the browser's busy time counts afresh.
    unknown.frontKnown = true;
    feed(unknown, 11);
    ASSERT_EQ(m.pendingQuestions().size(), 1u);
    EXPECT_EQ(m.pendingQuestions()[0].path, kBrowser);
}

TEST_F(AppModelTest, CommandLineGroupsOnlyWhenIncluded) {
    AppModel& m = makeModel(R"({"masterEnabled": true})");
    auto busy = sampleOf({row("cli:node", "node", 3.0, false, AppKind::commandLine)});
    EXPECT_EQ(m.effectiveMode("cli:node"), RuleMode::off);
    EXPECT_EQ(m.effectiveMode(kIndexer), RuleMode::automatic);
    feed(busy, 12);
    EXPECT_TRUE(m.pendingQuestions().empty());
    m.setAutoIncludeCommandLine(true);
    EXPECT_EQ(m.effectiveMode("cli:node"), RuleMode::automatic);
    feed(busy, 11);
    EXPECT_EQ(m.pendingQuestions().size(), 1u);
}

TEST_F(AppModelTest, BurstOfChangesIsSavedOnceAfterTheLast) {
    AppModel& m = makeModel(R"({"masterEnabled": false})");
    const std::string path = dir_.path() + "/data/settings.json";
    auto inode = [&] {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    std::set<ino_t> seen{inode()};
    int writes = 0;
    auto watch = [&] {
        if (seen.insert(inode()).second) ++writes;
        return false;
    };
    for (int i = 0; i < 10; ++i) {
        m.setAutoTrigger(2.0 + i * 0.1, std::nullopt, std::nullopt);
        spinUntil(watch, 0.1);
    }
    EXPECT_EQ(writes, 0);
    EXPECT_TRUE(probe().savePending());
    spinUntil(watch, 0.6);
    EXPECT_EQ(writes, 1);
    std::ifstream in(path);
    EXPECT_DOUBLE_EQ(nlohmann::json::parse(in)["autoTriggerCores"].get<double>(), 2.9);
}

TEST_F(AppModelTest, SettingsThePagesChangeAreAnnouncedAndSaved) {
    AppModel& m = makeModel("{}");
    const std::string path = dir_.path() + "/data/settings.json";
    int announced = 0;
    QObject::connect(&m, &AppModel::settingsChanged, [&] { ++announced; });
    const struct {
        const char* key;
        std::function<void()> change;
        nlohmann::json saved;
    } cases[] = {
        {"chartRangeMinutes", [&] { m.setChartRangeMinutes(30); }, 30},
        {"showSystemProcesses", [&] { m.setShowSystemProcesses(true); }, true},
        {"autoIncludeCommandLine", [&] { m.setAutoIncludeCommandLine(true); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const int before = announced;
        c.change();
        EXPECT_EQ(announced, before + 1);
        EXPECT_TRUE(probe().savePending());
        ASSERT_TRUE(spinUntil([&] { return !probe().savePending(); }, 2));
        std::ifstream in(path);
        EXPECT_EQ(nlohmann::json::parse(in)[c.key], c.saved);
    }
    EXPECT_EQ(m.settings().chartRangeMinutes, 30);
    EXPECT_EQ(m.effectiveMode("cli:node"), RuleMode::automatic);

    // Saving at once (as at quit) takes the pending save with it.
    m.setChartRangeMinutes(10);
    m.saveNow();
    EXPECT_FALSE(probe().savePending());
    std::ifstream in(path);
    EXPECT_EQ(nlohmann::json::parse(in)["chartRangeMinutes"], 10);
}

TEST_F(AppModelTest, LoginItemErrorsAreShownAndTheStatusFollowsTheEntry) {
    AppModel& m = makeModel();
    const char* old = std::getenv("XDG_CONFIG_HOME");
    std::string saved = old ? old : "";
    dir_.write("blocked", "a file where a folder should be");
    ::setenv("XDG_CONFIG_HOME", (dir_.path() + "/blocked").c_str(), 1);
    m.setLaunchAtLogin(true);
    EXPECT_EQ(m.loginStatus(), LoginStatus::off);
    ASSERT_TRUE(m.loginError().has_value());

    ::setenv("XDG_CONFIG_HOME", (dir_.path() + "/config").c_str(), 1);
    m.setLaunchAtLogin(true);
    EXPECT_EQ(m.loginStatus(), LoginStatus::enabled);
    EXPECT_FALSE(m.loginError().has_value());
    m.setLaunchAtLogin(false);
    EXPECT_EQ(m.loginStatus(), LoginStatus::off);
    if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(AppModelTest, SystemProcessesAreSampledOnlyWhileTheAppsPageShowsThem) {
    AppModel& m = makeModel(R"({"showSystemProcesses": true})");
    sim_->spawn(300, "/usr/sbin/busyd", 0.5);  // belongs to no app: "Other / system"
    m.setWindowVisible(true);
    EXPECT_EQ(m.systemState(), SystemState::off);  // on the Overview page

    m.setSection(Section::apps);
    EXPECT_EQ(m.systemState(), SystemState::measuring);
    // The first run only lays the baseline.
    spinFor(1.0);
    EXPECT_EQ(m.systemState(), SystemState::measuring);
    EXPECT_TRUE(m.systemRows().empty());
    // The next one, 5 s later, gives rates (the sampler's clock is the
    // simulated one, moved here by as much).
    sim_->advance(5.0);
    ASSERT_TRUE(spinUntil([&] { return m.systemState() == SystemState::ready; }, 10)) << text(m.systemState());
    ASSERT_EQ(m.systemRows().size(), 2u);
    EXPECT_EQ(m.systemRows().front().id, "pid300");
    EXPECT_EQ(m.systemRows().front().name, "busyd");
    EXPECT_NEAR(m.systemRows().front().cores, 0.5, 1e-6);
    EXPECT_EQ(m.systemRows().back().id, "else");

    // Another page: sampling stops, the rows go.
    m.setSection(Section::overview);
    EXPECT_EQ(m.systemState(), SystemState::measuring);
    EXPECT_TRUE(m.systemRows().empty());
    m.setShowSystemProcesses(false);
    m.receive(sampleOf({}));
    EXPECT_EQ(m.systemState(), SystemState::off);
}

TEST_F(AppModelTest, HistoryAndChartFollowOnlyWhileTheWindowShows) {
    AppModel& m = makeModel();
    auto tick = [&] {
        sim_->advance(1.0);
        probe().monitor().tickNow();  // the sample reaches the model through the event loop
        spinFor(0.05);
    };
    // The panel alone: rows, but no history, chart or status tick.
    m.setPanelVisible(true);
    tick();
    tick();
    EXPECT_TRUE(m.snapshot().has_value());
    EXPECT_TRUE(m.chartData().p.empty());
    EXPECT_EQ(m.statusTick(), 0);

    // The window: its first publish fills the chart with every point so
    // far, later ones bring it up to date every second sample.
    m.setWindowVisible(true);
    tick();
    EXPECT_EQ(m.statusTick(), 1);
    EXPECT_EQ(static_cast<int64_t>(m.chartData().p.size()), probe().monitor().historyTick());
    EXPECT_EQ(m.chartData().p.size(), m.chartData().e.size());
    EXPECT_EQ(m.chartData().p.size(), m.chartData().saved.size());
    EXPECT_FALSE(m.history().systemP.empty());
    const size_t first = m.chartData().p.size();
    tick();
    tick();
    EXPECT_EQ(m.statusTick(), 3);
    EXPECT_GT(m.chartData().p.size(), first);
    EXPECT_GE(static_cast<int64_t>(m.chartData().p.size()), probe().monitor().historyTick() - 1);
}

TEST_F(AppModelTest, AppearanceSwitchesPalettesAndGoesBackToTheSystemOne) {
    AppModel& m = makeModel();
    const QPalette system = QApplication::palette();
    m.setAppearance("dark");
    EXPECT_TRUE(Appearance::isDark());
    m.setAppearance("light");
    EXPECT_FALSE(Appearance::isDark());
    m.setAppearance("anything else");
    EXPECT_EQ(QApplication::palette(), system);
    EXPECT_EQ(savedSettings()["appearance"], "system");
}

TEST_F(AppModelTest, StartResumesWhatADeadInstanceLeftStoppedBeforeTheFirstSample) {
    auto& held = sim_->spawn(77, "/usr/bin/cc", 1.0);
    held.stopped = true;
    const uint64_t start = held.start;
    nlohmann::json file = {{"limiterPid", 4242},
                           {"limiterStart", 1},
                           {"entries", {{{"app", "cli:bash"}, {"pid", 77}, {"start", start}, {"paused", true}, {"demoted", false}}}}};
    const std::string path = dir_.write("journal/journal-4242.json", file.dump());
    makeModel();
    EXPECT_FALSE(sim_->get(77).stopped);
    EXPECT_FALSE(std::ifstream(path).good()) << "the orphan file is gone";
    ASSERT_FALSE(sim_->signalLog().empty());
    EXPECT_EQ(sim_->signalLog()[0].signal, SIGCONT);
}
