// Which processes belong to an app or a command-line group, and their roles.
#include "AppCatalog.h"
#include "SimulatedEngine.h"

#include <gtest/gtest.h>

using namespace trevlin;

namespace {

const std::string kBundle = "/usr/share/applications/editor.desktop";

class Scanner : public test::SimulatedEngine {
protected:
    std::vector<Pid> scan(AppScanner& s) {
        auto v = s.targetPids();
        std::sort(v.begin(), v.end());
        return v;
    }
};

TEST_F(Scanner, AppTargetsAreItsInstancesAndWhatTheyAreResponsibleFor) {
    sim->spawn(100, "/usr/lib/editor/editor");
    sim->setApp(RunningAppInfo{100, kBundle, "Editor", "org.example.editor", ActivationPolicy::regular});
    sim->spawn(101, "/usr/lib/editor/helper", 0, 100);   // helper outside the bundle, the app is responsible
    sim->spawn(102, "/usr/bin/unrelated", 0, 0);
    sim->spawn(103, "/usr/bin/child-of-unrelated", 0, 102);
    // The program itself, even when it claims to belong.
    sim->setMyPid(104);
    sim->spawn(104, "/usr/bin/trevlin", 0, 100);
    AppScanner s(*context, kBundle);
    EXPECT_EQ(scan(s), (std::vector<Pid>{100, 101}));
    EXPECT_EQ(s.mainInstancePids(), (std::set<Pid>{100}));
    EXPECT_FALSE(s.launcherExe().has_value());

    s.customTargets = [] { return std::vector<Pid>{104, 7}; };
    EXPECT_EQ(scan(s), (std::vector<Pid>{7}));
}

TEST_F(Scanner, GroupMembersAreWhatTheLauncherStartedNeverTheLauncher) {
    sim->spawn(200, "/usr/bin/node");                     // the launcher: responsible for itself
    sim->spawn(201, "/usr/bin/node", 0, 200);
    sim->spawn(202, "/usr/lib/esbuild/esbuild", 0, 200);
    sim->spawn(300, "/usr/bin/bash");                     // another terminal's shell
    sim->spawn(301, "/usr/bin/make", 0, 300);
    AppScanner s(*context, "cli:node");
    ASSERT_TRUE(s.launcherExe().has_value());
    EXPECT_EQ(scan(s), (std::vector<Pid>{201, 202}));

    // A launcher's verdict lasts as long as the launcher: a shell that
    // turns into node (exec) does not make what it started members.
    sim->edit(300, [](SimProcess& p) { p.exe = "/usr/bin/node"; });
    sim->remove(201);
    EXPECT_EQ(scan(s), (std::vector<Pid>{202}));
}

TEST_F(Scanner, NotMineIsRememberedForTenSeconds) {
    sim->spawn(100, "/usr/lib/editor/editor");
    sim->setApp(RunningAppInfo{100, kBundle, "Editor", "org.example.editor", ActivationPolicy::regular});
    sim->spawn(150, "/usr/bin/other", 0, 0);
    sim->spawn(151, "/usr/bin/tool", 0, 150);
    AppScanner s(*context, kBundle);
    EXPECT_EQ(scan(s), (std::vector<Pid>{100}));
    sim->edit(151, [](SimProcess& p) { p.responsible = 100; });  // re-parented into the app
    sim->advance(9.0);
    EXPECT_EQ(scan(s), (std::vector<Pid>{100}));
    sim->advance(1.5);
    EXPECT_EQ(scan(s), (std::vector<Pid>{100, 151}));
}

TEST(ScannerRoles, Table) {
    test::SimulatedContext<> engine;
    AppScanner app(*engine.context, kBundle);
    AppScanner group(*engine.context, "cli:node");
    struct Case {
        AppScanner* scanner;
        Pid pid;
        Pid owner;
        std::string exe;
        std::string cmd;
        Role role;
    };
    const std::string b = "/opt/browser/browser";
    const std::string wk = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/";
    const std::string dir = "/snap/firefox/4090/usr/lib/firefox", f = dir + "/firefox";
    auto content = [&](const std::string& args) { return f + " " + f + " -contentproc " + args + " "; };
    const std::vector<Case> cases = {
        {&group, 200, 200, "/usr/bin/node", "/usr/bin/node x.js", {"launcher", false, false, true}},
        {&group, 201, 200, "/usr/bin/node", "/usr/bin/node y.js", {"node", false, false, false}},
        {&app, 100, 100, b, b + " --no-sandbox", {"app (main process)", true, false, false}},
        {&app, 101, 100, b, b + " --type=renderer --lang=en", {"renderer", false, true, false}},
        {&app, 102, 100, b, b + " --type=gpu-process --x", {"gpu-process", false, true, true}},
        {&app, 103, 100, b, b + " --type=utility --utility-sub-type=network.mojom.NetworkService --y",
         {"utility (network)", false, true, true}},
        {&app, 104, 100, b, b + " --type=utility --utility-sub-type=..storage.mojom.StorageService",
         {"utility (storage)", false, true, false}},
        {&app, 105, 100, b, b + " --type=utility --utility-sub-type=audio.mojom.AudioService",
         {"utility (audio)", false, true, true}},
        {&app, 106, 100, "/usr/lib/pulse/AudioHelper", "/usr/lib/pulse/AudioHelper", {"AudioHelper", false, false, true}},
        // WebKitGTK: the GPU and network processes are left alone, web processes are like tabs.
        {&app, 107, 100, wk + "WebKitGPUProcess", wk + "WebKitGPUProcess 7 30 ", {"WebKitGPUProcess", false, false, true}},
        {&app, 111, 100, wk + "WebKitNetworkProcess", wk + "WebKitNetworkProcess 8 31 ",
         {"WebKitNetworkProcess", false, false, true}},
        {&app, 112, 100, wk + "WebKitWebProcess", wk + "WebKitWebProcess 9 32 ", {"WebKitWebProcess", false, false, false}},
        // Firefox: the kind is the last argument; tabs may be paused, the GPU,
        // socket (network) and media processes may not.
        {&app, 120, 120, f, f + " " + f + " --new-window ", {"app (main process)", true, false, false}},
        {&app, 121, 120, f, content("-childID 3 -isForBrowser {83b2d5ac} 120 true tab"), {"tab", false, true, false}},
        {&app, 122, 120, f, content("-prefsLen 1 -appDir " + dir + "/browser 3 tab"), {"tab", false, true, false}},
        {&app, 123, 120, f, content("-parentBuildID 2024 120 true gpu"), {"gpu", false, true, true}},
        {&app, 124, 120, f, content("-parentBuildID 2024 120 true socket"), {"socket", false, true, true}},
        {&app, 125, 120, f, content("-parentBuildID 2024 120 true rdd"), {"rdd", false, true, true}},
        {&app, 126, 120, f, content("-sandboxingKind 0 -appDir " + dir + "/browser 6 utility"), {"utility", false, true, false}},
        {&app, 127, 120, f, content("-sandboxingKind 1 -appDir " + dir + "/browser 7 utility"),
         {"utility (audio)", false, true, true}},
        {&app, 108, 100, "/usr/lib/editor/indexer", "", {"indexer", false, false, true}},
        {&app, 109, 100, "", "", {"unknown", false, false, true}},
        {&app, 110, 100, "/usr/lib/editor/indexer", "/usr/lib/editor/indexer --all", {"indexer", false, false, false}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.scanner->role(c.pid, c.owner, c.exe, c.cmd), c.role) << c.pid;
}

}  // namespace
