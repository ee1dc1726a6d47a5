#include "AppTable.h"
#include "BundlePaths.h"
#include "ProcessGrouping.h"
#include "SimulatedEngine.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace trevlin;
using trevlin::test::SimulatedEngine;

namespace {

RunningAppInfo runningApp(Pid pid, const std::string& bundle, std::optional<std::string> name = std::nullopt,
                          ActivationPolicy policy = ActivationPolicy::regular) {
    return RunningAppInfo{pid, bundle, std::move(name), "id." + std::to_string(pid), policy};
}

}  // namespace

TEST(BundlePaths, TopBundleAndEnclosingBundle) {
    EXPECT_EQ(topBundle("/opt/A.desktop"), "/opt/A.desktop");
    EXPECT_EQ(topBundle("/opt/A.desktop/B.desktop"), "/opt/A.desktop");
    EXPECT_EQ(topBundle("/opt/A.desktop/Contents/Helpers/B.desktop"), "/opt/A.desktop");
    EXPECT_EQ(topBundle("/opt/A.desktop/x/B.desktop/y/C.desktop"), "/opt/A.desktop");
    EXPECT_EQ(topBundle("/usr/share/applications/org.gnome.Foo.desktop"), "/usr/share/applications/org.gnome.Foo.desktop");
    EXPECT_EQ(enclosingBundle("/opt/Foo.desktop/bin/foo"), "/opt/Foo.desktop");
    EXPECT_FALSE(enclosingBundle("/usr/bin/foo"));
    EXPECT_FALSE(enclosingBundle("/opt/Foo.desktop"));
}

TEST(AppTable, NestedHelperCountsUnderTheOuterBundle) {
    const std::string outer = "/opt/A.desktop", helper = "/opt/A.desktop/Contents/B.desktop";
    for (const std::string& inner : {helper, std::string("/opt/A.desktop/B.desktop")}) {
        SCOPED_TRACE(inner);
        // Only the helper runs: the row is named after the outer bundle's file.
        auto t = AppTable::build({runningApp(200, inner, "B Helper")}, {}, {});
        ASSERT_EQ(t.apps.size(), 1u);
        const AppRec& a = t.apps.at(outer);
        EXPECT_EQ(a.name, "A");
        EXPECT_EQ(a.mainPid, 0);
        EXPECT_EQ(a.anyPid, 200);
        EXPECT_FALSE(a.bundleID);
        EXPECT_FALSE(a.regular) << "a nested app never makes the row user-facing";
        EXPECT_EQ(t.pidToApp.at(200), outer);

        // The outer app starts: its own name and identity take over.
        t = AppTable::build({runningApp(200, inner, "B Helper"), runningApp(300, outer, "Alpha")}, {}, {});
        const AppRec& b = t.apps.at(outer);
        EXPECT_EQ(b.name, "Alpha");
        EXPECT_EQ(b.mainPid, 300);
        EXPECT_EQ(b.anyPid, 200);
        EXPECT_EQ(b.bundleID, "id.300");
        EXPECT_TRUE(b.regular);
        EXPECT_EQ(t.pidToApp.at(300), outer);
    }
}

TEST(AppTable, LowerPidIsMainWhateverTheOrder) {
    const std::string path = "/opt/A.desktop";
    std::vector<RunningAppInfo> apps = {runningApp(500, path, "Five", ActivationPolicy::accessory),
                                        runningApp(400, path, "Four", ActivationPolicy::accessory),
                                        runningApp(450, path, "FourFifty", ActivationPolicy::regular)};
    std::sort(apps.begin(), apps.end(), [](auto& a, auto& b) { return a.pid < b.pid; });
    do {
        auto t = AppTable::build(apps, {}, {});
        const AppRec& a = t.apps.at(path);
        EXPECT_EQ(a.mainPid, 400);
        EXPECT_EQ(a.anyPid, 400);
        EXPECT_EQ(a.name, "Four");
        EXPECT_EQ(a.bundleID, "id.400");
        EXPECT_TRUE(a.regular) << "any top-bundle process with the regular policy sets it";
    } while (std::next_permutation(apps.begin(), apps.end(), [](auto& a, auto& b) { return a.pid < b.pid; }));
}

TEST(AppTable, WhatGivesARow) {
    auto t = AppTable::build(
        {
            runningApp(10, "/opt/Shown.desktop", std::nullopt),
            runningApp(20, "/opt/Hidden.desktop", "Hidden"),
            runningApp(30, "/opt/Agent.desktop", "Agent", ActivationPolicy::prohibited),
            RunningAppInfo{40, std::nullopt, "No bundle", std::nullopt, ActivationPolicy::regular},
            RunningAppInfo{50, "/usr/bin/tool", "Not a bundle", std::nullopt, ActivationPolicy::regular},
            runningApp(60, "/opt/Hidden.desktop/Helper.desktop", "Hidden helper"),
        },
        {"/opt/Hidden.desktop", "/opt/HiddenExtra.desktop"},
        {"/opt/Extra.desktop", "/opt/Shown.desktop", "/opt/HiddenExtra.desktop"});

    std::vector<std::string> keys;
    for (auto& [k, v] : t.apps) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<std::string>{"/opt/Extra.desktop", "/opt/Shown.desktop"}));
    EXPECT_EQ(t.apps.at("/opt/Shown.desktop").name, "Shown") << "fallback name: the file name without extension";
    const AppRec& extra = t.apps.at("/opt/Extra.desktop");
    EXPECT_EQ(extra.name, "Extra");
    EXPECT_EQ(extra.mainPid, 0);
    EXPECT_EQ(extra.anyPid, 0);
    EXPECT_TRUE(extra.isRow);

    // Hidden and background-only apps are still app processes.
    EXPECT_EQ(t.runningAppPids, (std::set<Pid>{10, 20, 30, 60}));
    EXPECT_EQ(t.runningAppTops, (std::set<std::string>{"/opt/Shown.desktop", "/opt/Hidden.desktop", "/opt/Agent.desktop"}));
    EXPECT_EQ(t.pidToApp.size(), 1u);
    EXPECT_EQ(t.pidToApp.at(10), "/opt/Shown.desktop");
}

// ---------------------------------------------------------------------------
// Group resolution on the simulated platform.

namespace {

class GroupingTest : public SimulatedEngine {
protected:
    void rebuild(std::set<std::string> hidden = {}) {
        std::vector<RunningAppInfo> running;
        for (Pid pid : sim->allPids())
            if (auto a = sim->lookupApp(pid)) running.push_back(*a);
        g.rebuildAppTable(running, hidden, {});
    }
    ProcessGrouping g{*sim};
};

}  // namespace

TEST_F(GroupingTest, ResolvesAppsHelpersAndLaunchers) {
    app(100, "/opt/Editor.desktop", "Editor");
    sim->spawn(101, "/usr/lib/editor/renderer", 0, 100);     // helper of the app
    sim->spawn(102, "/opt/Editor.desktop/bin/tool", 0, 0);   // executable inside the bundle
    sim->spawn(200, "/usr/bin/bash");                        // a shell in a terminal
    sim->spawn(201, "/usr/bin/cc", 0, 200);                  // a job of that shell
    sim->spawn(300, "/usr/bin/stray");                       // nothing to do with anything
    rebuild();

    EXPECT_EQ(g.resolve(100), "/opt/Editor.desktop");
    EXPECT_EQ(g.resolve(101), "/opt/Editor.desktop");
    EXPECT_EQ(g.resolve(102), "/opt/Editor.desktop");
    EXPECT_EQ(g.resolve(201), "cli:bash");
    EXPECT_FALSE(g.resolve(300));
    ASSERT_TRUE(g.cli().count("cli:bash"));
    EXPECT_EQ(g.cli().at("cli:bash").launcherPid, 200);
    EXPECT_EQ(g.cli().at("cli:bash").exe, "/usr/bin/bash");
    EXPECT_EQ(g.cli().at("cli:bash").name, "bash");
    // The launcher itself resolves through its cached verdict.
    EXPECT_EQ(g.resolve(200), "cli:bash");
}

TEST_F(GroupingTest, ProcessOfATerminalResolvesOnlyOnceItIsALauncher) {
    sim->spawn(50, "/usr/libexec/gnome-terminal-server");
    sim->spawn(60, "/usr/bin/zsh", 0, 50);
    rebuild();
    EXPECT_FALSE(g.resolve(60)) << "the terminal is no launcher, and zsh has no verdict yet";
    sim->spawn(61, "/usr/bin/make", 0, 60);
    EXPECT_EQ(g.resolve(61), "cli:zsh");
    EXPECT_EQ(g.resolve(60), "cli:zsh");
}

TEST_F(GroupingTest, HiddenAppGivesNoRowButIsNoLauncher) {
    app(700, "/opt/Hidden.desktop", "Hidden");
    sim->spawn(701, "/usr/bin/worker", 0, 700);
    rebuild({"/opt/Hidden.desktop"});
    EXPECT_TRUE(g.appTable().apps.empty());
    EXPECT_FALSE(g.resolve(701)) << "an app's own process never launches a command-line group";
    EXPECT_TRUE(g.cli().empty());

    sim->removeApp(700);
    rebuild({"/opt/Hidden.desktop"});
    sim->advance(11);  // past the cached verdict
    EXPECT_EQ(g.resolve(701), "cli:Hidden");
}

TEST_F(GroupingTest, LauncherVerdictsAreCachedForTenSeconds) {
    sim->spawn(80, "/usr/bin/node");
    sim->spawn(81, "/usr/bin/esbuild", 0, 80);
    rebuild();
    EXPECT_EQ(g.resolve(81), "cli:node");
    sim->edit(80, [](SimProcess& p) { p.exe = "/usr/libexec/other"; });
    sim->advance(9.9);
    EXPECT_EQ(g.launcherKey(80), "cli:node") << "within 10 s the verdict stands";
    sim->advance(0.2);
    EXPECT_FALSE(g.launcherKey(80));
    EXPECT_FALSE(g.resolve(81));
}

TEST_F(GroupingTest, GroupPassesToTheNextLauncherWhenItsLauncherExits) {
    sim->spawn(900, "/usr/bin/bash");
    sim->spawn(901, "/usr/bin/cc", 0, 900);
    sim->spawn(950, "/usr/bin/bash");
    sim->spawn(951, "/usr/bin/ld", 0, 950);
    rebuild();
    EXPECT_EQ(g.resolve(901), "cli:bash");
    EXPECT_EQ(g.resolve(951), "cli:bash");
    EXPECT_EQ(g.cli().at("cli:bash").launcherPid, 900) << "a live launcher keeps its group";

    sim->remove(900);
    sim->advance(11);
    EXPECT_EQ(g.resolve(951), "cli:bash");
    EXPECT_EQ(g.cli().at("cli:bash").launcherPid, 950);

    std::unordered_set<Pid> alive = {901, 950, 951};
    g.pruneLauncherCache(alive);
    EXPECT_FALSE(g.launcherCache().count(900));
    EXPECT_TRUE(g.launcherCache().count(950));
}

// ---------------------------------------------------------------------------
// Command-line rows and their detail text.

namespace {

Acc acc(double total, std::map<std::string, double> progs, std::map<std::string, int> counts = {}) {
    Acc a;
    a.total = total;
    a.p = total;
    a.progs = std::move(progs);
    if (counts.empty())
        for (auto& [n, v] : a.progs) counts[n] = 1;
    a.progCount = counts;
    for (auto& [n, c] : counts) a.count += c;
    return a;
}

}  // namespace

TEST(CommandLineRows, SmoothingDecaysAndDropsOnlyStoppedPrograms) {
    test::SimulatedContext<> engine;
    ProcessGrouping g{*engine.sim};
    std::unordered_map<std::string, Acc> accs;
    accs["cli:make"] = acc(2.0, {{"cc", 2.0}, {"ld", 0.0}});
    auto rows = g.commandLineRows(accs, 2.0);  // dt = 2 s: cc used one core
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_DOUBLE_EQ(rows[0].cores, 1.0);
    EXPECT_DOUBLE_EQ(g.cli().at("cli:make").ema.at("cc"), 0.4);
    EXPECT_DOUBLE_EQ(g.cli().at("cli:make").ema.at("ld"), 0.0) << "a running program stays even at 0";

    // cc keeps running without CPU: it decays by 0.6 a pass and is never dropped.
    double expected = 0.4;
    for (int pass = 0; pass < 15; ++pass) {
        accs["cli:make"] = acc(0, {{"cc", 0.0}, {"ld", 0.0}});
        g.commandLineRows(accs, 1.0);
        expected *= 0.6;
        ASSERT_TRUE(g.cli().at("cli:make").ema.count("cc"));
        EXPECT_NEAR(g.cli().at("cli:make").ema.at("cc"), expected, 1e-12);
    }

    // Once cc has exited it goes as soon as its value falls below 0.002.
    ProcessGrouping h{*engine.sim};
    accs["cli:make"] = acc(1.0, {{"cc", 1.0}, {"ld", 0.0}});
    h.commandLineRows(accs, 1.0);
    int passesKept = 0;
    double v = 0.4;
    for (;;) {
        accs["cli:make"] = acc(0, {{"ld", 0.0}});
        h.commandLineRows(accs, 1.0);
        v *= 0.6;
        if (!h.cli().at("cli:make").ema.count("cc")) break;
        EXPECT_GE(v, 0.002);
        ++passesKept;
        ASSERT_LT(passesKept, 100);
    }
    EXPECT_LT(v, 0.002);
    EXPECT_EQ(passesKept, 10);  // 0.4 × 0.6^10 ≈ 0.0024, × 0.6 once more ≈ 0.0015
}

TEST(CommandLineRows, RowFiguresAndGroupLifecycle) {
    test::SimulatedContext<> engine;
    ProcessGrouping g{*engine.sim};
    std::unordered_map<std::string, Acc> accs;
    Acc a = acc(1.5, {{"rustc", 1.5}});
    a.p = 3.0;  // more than total: the performance part is capped
    accs["cli:claude-code"] = a;
    accs["/opt/App.desktop"] = acc(5, {});
    Acc empty;
    accs["cli:idle"] = empty;  // no processes: no row
    auto rows = g.commandLineRows(accs, 1.0);
    ASSERT_EQ(rows.size(), 1u);
    const AppUsage& r = rows[0];
    EXPECT_EQ(r.name, "Claude Code");
    EXPECT_EQ(r.bundlePath, "cli:claude-code");
    EXPECT_EQ(r.kind, AppKind::commandLine);
    EXPECT_EQ(r.mainPid, 0) << "a group recreated without its launcher";
    EXPECT_EQ(r.processCount, 1);
    EXPECT_DOUBLE_EQ(r.cores, 1.5);
    EXPECT_DOUBLE_EQ(r.pCores, 1.5);
    EXPECT_DOUBLE_EQ(r.eCores, 0);
    EXPECT_FALSE(r.bundleIdentifier);
    EXPECT_EQ(r.detail, "rustc");
    EXPECT_EQ(g.cli().at("cli:claude-code").exe, "claude");

    accs.clear();
    g.commandLineRows(accs, 1.0);
    EXPECT_TRUE(g.cli().empty()) << "groups without processes in the pass are forgotten";
}

TEST(CommandLineRows, DetailText) {
    const struct {
        const char* what;
        std::string exe;
        std::map<std::string, double> ema;
        std::map<std::string, int> count;
        const char* detail;
    } cases[] = {
        {"busiest two", "/usr/bin/bash", {{"a", 0.5}, {"b", 0.02}, {"c", 0.005}}, {{"c", 5}, {"d", 3}}, "a, b"},
        {"busy before idle, whatever the count", "/usr/bin/bash", {{"x", 0.01}, {"y", 0.009}}, {{"y", 9}}, "x, y"},
        {"idle ones by process count", "/usr/bin/bash", {{"p", 0.001}}, {{"p", 1}, {"q", 4}, {"r", 2}}, "q, r"},
        {"equal values by count, then name", "/usr/bin/bash", {{"n", 0.3}, {"m", 0.3}, {"o", 0.3}}, {{"o", 2}}, "o, m"},
        {"launcher and Trevlin left out", "/usr/bin/node", {{"node", 2.0}, {"Trevlin", 1.0}, {"esbuild", 0.5}}, {}, "esbuild"},
        {"empty names left out", "/usr/bin/bash", {{"", 1.0}}, {{"", 3}}, ""},
        {"nothing", "/usr/bin/bash", {}, {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CliRec rec;
        rec.exe = c.exe;
        rec.ema = c.ema;
        rec.count = c.count;
        EXPECT_EQ(ProcessGrouping::detailText(rec), c.detail);
    }
}
