// The Linux readers against fixture /proc and /sys trees.
#include "DesktopEntries.h"
#include "LinuxPlatform.h"
#include "LinuxProc.h"
#include "AppTable.h"
#include "RunningApps.h"
#include "SystemInfo.h"
#include "TempDir.h"

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <future>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace trevlin;
using namespace trevlin::linux;
using trevlin::test::TempDir;

namespace {

// A fake /proc and /sys with just the files the readers use.
struct FakeSystem {
    TempDir dir;
    std::string proc() const { return dir.path() + "/proc"; }
    std::string sys() const { return dir.path() + "/sys"; }

    void process(Pid pid, Pid pgrp, const std::string& cgroup, char state = 'S') {
        char stat[512];
        std::snprintf(stat, sizeof stat,
                      "%d (odd) name) %c 1 %d %d 0 -1 4194304 0 0 0 0 7 3 0 0 20 0 1 0 250 0 0 0 0 0 0 0 0 0 0 0 0 0 "
                      "0 0 0 17 1 0 0 0 0 0\n",
                      pid, state, pgrp, pgrp);
        dir.write("proc/" + std::to_string(pid) + "/stat", stat);
        dir.write("proc/" + std::to_string(pid) + "/cgroup", cgroup);
        dir.write("proc/" + std::to_string(pid) + "/status", "Name:\tx\nUid:\t1000\t1000\t1000\t1000\n");
    }
    void cgroupProcs(const std::string& path, const std::string& pids) { dir.write("sys/fs/cgroup" + path + "/cgroup.procs", pids); }

    LinuxPlatform platform(std::vector<std::string> appDirs = {}) {
        LinuxPlatform::Options o;
        o.procRoot = proc();
        o.sysRoot = sys();
        o.appDirs = appDirs.empty() ? std::vector<std::string>{dir.path() + "/nothing"} : appDirs;
        o.locales = std::vector<std::string>{};
        o.desktop = false;
        return LinuxPlatform(o);
    }
};

const std::string kSlice = "/user.slice/user-1000.slice/user@1000.service/app.slice/";

}  // namespace

TEST(LinuxProc, ParsesStatWithAwkwardCommandNames) {
    auto st = parseStat("42 (a (b) c) R 1 40 40 0 -1 0 0 0 0 0 150 50 0 0 20 5 1 0 999 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 3 0 5\n");
    ASSERT_TRUE(st.has_value());
    EXPECT_EQ(st->name, "a (b) c");
    EXPECT_EQ(st->state, 'R');
    EXPECT_EQ(st->pgrp, 40);
    EXPECT_EQ(st->utime, 150u);
    EXPECT_EQ(st->stime, 50u);
    EXPECT_EQ(st->nice, 5);
    EXPECT_EQ(st->starttime, 999u);
    EXPECT_EQ(st->processor, 3);
    EXPECT_EQ(st->policy, 5u);
    EXPECT_FALSE(parseStat("42 no-parenthesis R 1").has_value());
}

TEST(LinuxProc, CoreTicksAndCpuLists) {
    auto ticks = parseCoreTicks("cpu  9 9 9 9 9 9 9 9 0 0\ncpu0 10 1 20 300 4 5 6 7 0 0\ncpu1 1 2 3 4 5 6 7 8 0 0\nintr 5\n");
    ASSERT_EQ(ticks.size(), 2u);
    EXPECT_EQ(ticks[0], (CoreTicks{10, 20 + 5 + 6 + 7, 300 + 4, 1}));
    EXPECT_EQ(parseCpuList("0-3,8,10-11\n"), (std::vector<int>{0, 1, 2, 3, 8, 10, 11}));
    // Overlapping and huge ranges give each core once; numbers beyond any
    // machine are dropped rather than cut to an int.
    EXPECT_EQ(parseCpuList("2-3,0-2,3"), (std::vector<int>{0, 1, 2, 3}));
    std::string many;
    for (int i = 0; i < 1000; ++i) many += "0-99999999,";
    EXPECT_EQ(parseCpuList(many).size(), 65536u);
    EXPECT_EQ(parseCpuList("4294967296,1"), (std::vector<int>{1}));
    EXPECT_EQ(priorityFor(0, 0), 31);
    EXPECT_EQ(priorityFor(0, -5), 36);
    EXPECT_EQ(priorityFor(0, -20), 51);
    EXPECT_EQ(priorityFor(0, INT64_MIN), 51);  // no kernel writes it; it overflowed
    EXPECT_EQ(priorityFor(0, 9), 22);
    EXPECT_LT(priorityFor(0, 10), 11);
    EXPECT_LT(priorityFor(3 /* SCHED_BATCH */, 0), 11);
    EXPECT_LT(priorityFor(5 /* SCHED_IDLE */, 0), 11);
}

TEST(LinuxProc, AStopSignalWaitingIsReadFromEitherPendingMask) {
    const std::pair<const char*, std::optional<bool>> cases[] = {
        {"Name:\tx\nSigPnd:\t0000000000000000\nShdPnd:\t0000000000000000\n", false},
        {"Name:\tx\nSigPnd:\t0000000000000000\nShdPnd:\t0000000000080000\n", true},   // SIGTSTP (20), the group's
        {"Name:\tx\nSigPnd:\t0000000000100000\nShdPnd:\t0000000000000000\n", true},   // SIGTTIN (21), the thread's
        // SIGSTOP (19): the limiter's own waits there until the process runs.
        {"Name:\tx\nSigPnd:\t0000000000040000\nShdPnd:\t0000000000040000\n", false},
        {"Name:\tx\nSigPnd:\t0000000000000100\nShdPnd:\t0000000000004000\n", false},  // SIGKILL and SIGTERM are no stops
        {"Name:\tx\nShdPnd:\t0000000000200000\n", true},                                // SIGTTOU (22)
        {"Name:\tx\n", std::nullopt},
    };
    for (const auto& [text, pending] : cases) EXPECT_EQ(parseStopPending(text), pending) << text;
}

TEST(LinuxProc, UidAndBootTimeAreTheWholeNumberWritten) {
    struct Case {
        const char* text;
        std::optional<uint64_t> expect;
    };
    const Case uids[] = {
        {"Name:\tbash\nUid:\t1000\t1000\t1000\t1000\n", 1000},
        {"Name:\tx\nUid:\t4294967295\n", 4294967295u},
        {"Name:\tx\nUid:\t4294967296\n", std::nullopt},  // would wrap to 0, root
        {"Name:\tx\nUid:\t-1\n", std::nullopt},
        {"Name:\tx\nUid:\n", std::nullopt},
    };
    for (const auto& c : uids) {
        auto uid = parseRealUid(c.text);
        EXPECT_EQ(uid ? std::optional<uint64_t>(*uid) : std::nullopt, c.expect) << c.text;
    }
    const Case boots[] = {
        {"cpu 1 2 3\nbtime 1765400000\nprocesses 5\n", 1765400000u},
        {"cpu 1\nbtime x\n", std::nullopt},  // was read as 1970
        {"cpu 1\nbtime 99999999999999999999999\n", std::nullopt},
    };
    for (const auto& c : boots) EXPECT_EQ(parseBootTime(c.text), c.expect) << c.text;
    EXPECT_EQ(commandLineText("/usr/bin/python3", std::string("python3\0-c\0\xff\0", 13)), "/usr/bin/python3 python3 -c \uFFFD ");
}

TEST(LinuxProc, ApplicationIdsOfUnitNames) {
    struct Case {
        const char* unit;
        const char* id;  // nullptr: not an app unit
    };
    const Case cases[] = {
        {"app-gnome-firefox-4521.scope", "firefox"},
        {"app-firefox-4521.scope", "firefox"},
        {"app-gnome-org.gnome.Nautilus@1a2b3c.service", "org.gnome.Nautilus"},
        {"app-org.gnome.Evolution.service", "org.gnome.Evolution"},
        {"app-flatpak-org.mozilla.firefox-12345.scope", "org.mozilla.firefox"},
        {"app-gnome-firefox\\x2desr-77.scope", "firefox-esr"},
        {"snap.firefox.firefox-3dcfaa86-bf58-4d3e-a7c6-4e34dfdb050f.scope", "firefox_firefox"},
        {"snap.gnome-calculator.gnome-calculator-0b1c2d3e-4f50-6172-8394-a5b6c7d8e9f0.scope",
         "gnome-calculator_gnome-calculator"},
        {"snap.firefox_esr.firefox-3dcfaa86-bf58-4d3e-a7c6-4e34dfdb050f.scope", "firefox+esr_firefox"},
        {"snap.cups.cupsd.service", nullptr},                                           // a snap's daemon
        {"snap.firefox.hook.configure-3dcfaa86-bf58-4d3e-a7c6-4e34dfdb050f.scope", nullptr},  // a hook
        {"snap.firefox.firefox-1234.scope", nullptr},                                   // no UUID
        {"snap.firefox-3dcfaa86-bf58-4d3e-a7c6-4e34dfdb050f.scope", nullptr},           // no app name
        {"vte-spawn-0b3c2e5a.scope", nullptr},
        {"app.slice", nullptr},
        {"app-org.gnome.Terminal.slice", nullptr},
        {"session-2.scope", nullptr},
    };
    for (const auto& c : cases) {
        auto id = applicationIdOfUnit(c.unit);
        if (c.id) {
            ASSERT_TRUE(id.has_value()) << c.unit;
            EXPECT_EQ(*id, c.id) << c.unit;
        } else {
            EXPECT_FALSE(id.has_value()) << c.unit;
        }
    }
}

TEST(LinuxProc, ResponsibleProcessRules) {
    FakeSystem fs;
    // An app scope: 300 leads, 301 and 350 are its helpers.
    const std::string scope = kSlice + "app-gnome-firefox-4521.scope";
    for (Pid p : {300, 301, 350}) fs.process(p, p, "0::" + scope + "\n");
    fs.cgroupProcs(scope, "350\n301\n300\n");
    fs.cgroupProcs(scope + "/child", "");  // sub-cgroups are walked too
    // An app service with @random: the lowest live pid leads; 400 is listed but gone.
    const std::string service = kSlice + "app-gnome-org.gnome.Nautilus@1a2b.service";
    for (Pid p : {410, 420}) fs.process(p, p, "0::" + service + "\n");
    fs.cgroupProcs(service, "400\n420\n410\n");
    // A Flatpak scope.
    const std::string flatpak = kSlice + "app-flatpak-org.gimp.GIMP-99.scope";
    for (Pid p : {500, 501}) fs.process(p, p, "0::" + flatpak + "\n");
    fs.cgroupProcs(flatpak, "500\n501\n");
    // A terminal tab scope is no app: its job 610 leads process group 610.
    const std::string vte = kSlice + "app-org.gnome.Terminal.slice/vte-spawn-abc.scope";
    fs.process(600, 600, "0::" + vte + "\n");
    fs.process(610, 610, "0::" + vte + "\n");
    fs.process(611, 610, "0::" + vte + "\n");
    // A hybrid hierarchy: the app unit is on the name=systemd line.
    const std::string hybrid = kSlice + "app-gnome-org.gnome.Console-7.scope";
    fs.process(700, 700, "4:memory:/\n1:name=systemd:" + hybrid + "\n0::/\n");
    fs.process(701, 700, "4:memory:/\n1:name=systemd:" + hybrid + "\n0::/\n");
    fs.dir.write("sys/fs/cgroup/systemd" + hybrid + "/cgroup.procs", "701\n700\n");
    // A process whose group leader is gone owns itself.
    fs.process(800, 790, "0::/user.slice\n");

    auto p = fs.platform();
    struct Case {
        Pid pid;
        Pid owner;
    };
    const Case cases[] = {{300, 300}, {301, 300}, {350, 300}, {410, 410}, {420, 410}, {500, 500}, {501, 500},
                          {600, 600}, {610, 610}, {611, 610}, {700, 700}, {701, 700}, {800, 800}, {999, 0}};
    for (const auto& c : cases) EXPECT_EQ(p.responsiblePid(c.pid), c.owner) << "pid " << c.pid;
}

TEST(LinuxProc, AppUnitLeadersAreApplicationsWithTheirDesktopEntries) {
    FakeSystem fs;
    const std::string scope = kSlice + "app-gnome-firefox-4521.scope";
    fs.process(300, 300, "0::" + scope + "\n");
    fs.process(301, 300, "0::" + scope + "\n");
    fs.cgroupProcs(scope, "300\n301\n");
    const std::string hidden = kSlice + "app-gnome-org.example.Agent-5.scope";
    fs.process(310, 310, "0::" + hidden + "\n");
    fs.cgroupProcs(hidden, "310\n");
    const std::string unknown = kSlice + "app-gnome-no.such.App-6.scope";
    fs.process(320, 320, "0::" + unknown + "\n");
    fs.cgroupProcs(unknown, "320\n");

    // Two data folders: the first one's entry wins.
    std::string home = fs.dir.write("home/applications/firefox.desktop",
                                    "[Desktop Entry]\nName=Firefox Home\n");
    fs.dir.write("usr/applications/firefox.desktop", "[Desktop Entry]\nName=Firefox\n");
    fs.dir.write("usr/applications/org.example.Agent.desktop",
                 "[Desktop Entry]\nName=Agent\nNoDisplay=true\n[Desktop Action x]\nName=Other\n");
    auto p = fs.platform({fs.dir.path() + "/home/applications", fs.dir.path() + "/usr/applications"});

    auto app = p.lookupApp(300);
    ASSERT_TRUE(app.has_value());
    EXPECT_EQ(app->bundlePath, home);
    EXPECT_EQ(app->name, "Firefox Home");
    EXPECT_EQ(app->bundleID, "firefox");
    EXPECT_EQ(app->policy, ActivationPolicy::regular);
    EXPECT_FALSE(p.lookupApp(301).has_value());  // a helper, not the leader

    auto agent = p.lookupApp(310);
    ASSERT_TRUE(agent.has_value());
    EXPECT_EQ(agent->policy, ActivationPolicy::accessory);
    EXPECT_EQ(agent->name, "Agent");

    auto none = p.lookupApp(320);
    ASSERT_TRUE(none.has_value());
    EXPECT_FALSE(none->bundlePath.has_value());
}

// Snap apps on both kinds of cgroup tree: the unified one (the "0::" line)
// and a hybrid one, where systemd's units are on the "name=systemd" line.
class SnapApps : public ::testing::TestWithParam<bool> {
protected:
    bool hybrid() const { return GetParam(); }
    /// A process in the cgroup `path` with process group `pgrp`.
    void process(Pid pid, Pid pgrp, const std::string& path) {
        fs.process(pid, pgrp, hybrid() ? "4:memory:/\n1:name=systemd:" + path + "\n0::/\n" : "0::" + path + "\n");
    }
    void members(const std::string& path, const std::string& pids) {
        fs.dir.write(std::string(hybrid() ? "sys/fs/cgroup/systemd" : "sys/fs/cgroup") + path + "/cgroup.procs", pids);
    }
    FakeSystem fs;
};

TEST_P(SnapApps, ScopesAreAppsNamedFromTheirEntriesAndServicesAreNot) {
    const std::string manager = "/user.slice/user-1000.slice/user@1000.service/";
    // Firefox under app.slice: 300 leads; 301 is in its process group, 302
    // leads a group of its own and still belongs to the scope.
    const std::string firefox = manager + "app.slice/snap.firefox.firefox-3dcfaa86-bf58-4d3e-a7c6-4e34dfdb050f.scope";
    process(300, 300, firefox);
    process(301, 300, firefox);
    process(302, 302, firefox);
    members(firefox, "302\n301\n300\n");
    // Thunderbird directly under the user manager.
    const std::string mail = manager + "snap.thunderbird.thunderbird-0b1c2d3e-4f50-6172-8394-a5b6c7d8e9f0.scope";
    process(400, 400, mail);
    process(401, 400, mail);
    members(mail, "401\n400\n");
    // A snap's service is a system daemon: its processes fall to their group leader.
    const std::string service = "/system.slice/snap.cups.cupsd.service";
    process(500, 500, service);
    process(501, 500, service);
    members(service, "500\n501\n");

    const std::string firefoxEntry = fs.dir.write(
        "snapd/applications/firefox_firefox.desktop",
        "[Desktop Entry]\nName=Firefox Web Browser\nIcon=/snap/firefox/4090/default256.png\n");
    const std::string mailEntry = fs.dir.write("snapd/applications/thunderbird_thunderbird.desktop",
                                               "[Desktop Entry]\nName=Thunderbird Mail\nIcon=thunderbird\n");
    auto p = fs.platform({fs.dir.path() + "/home/applications", fs.dir.path() + "/snapd/applications"});

    const std::pair<Pid, Pid> owners[] = {{300, 300}, {301, 300}, {302, 300}, {400, 400},
                                          {401, 400}, {500, 500}, {501, 500}};
    for (auto [pid, owner] : owners) EXPECT_EQ(p.responsiblePid(pid), owner) << "pid " << pid;

    RunningApps running(p);
    auto apps = running.all(0.5);
    ASSERT_EQ(apps.size(), 2u);
    EXPECT_EQ(apps[0], (RunningAppInfo{300, firefoxEntry, "Firefox Web Browser", "firefox_firefox",
                                       ActivationPolicy::regular}));
    EXPECT_EQ(apps[1], (RunningAppInfo{400, mailEntry, "Thunderbird Mail", "thunderbird_thunderbird",
                                       ActivationPolicy::regular}));

    // The app rows are keyed by the entries, which give their icons.
    AppTable table = AppTable::build(apps, {}, {});
    ASSERT_TRUE(table.apps.count(firefoxEntry));
    EXPECT_EQ(table.apps.at(firefoxEntry).name, "Firefox Web Browser");
    EXPECT_EQ(table.pidToApp.at(300), firefoxEntry);
    EXPECT_EQ(parseDesktopEntry(readSmallFile(firefoxEntry).value_or(""), {}).icon, "/snap/firefox/4090/default256.png");
}

INSTANTIATE_TEST_SUITE_P(CgroupTrees, SnapApps, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "Hybrid" : "Unified"; });

TEST(DesktopEntries, LocalisedNamesAndSearchOrder) {
    const std::string text =
        "# comment\n[Desktop Entry]\nName=Files\nName[de]=Dateien\nName[de_AT]=Dateien (AT)\nIcon=folder\n"
        "NoDisplay=false\n[Desktop Action new]\nName[de]=Neues Fenster\n";
    EXPECT_EQ(parseDesktopEntry(text, {}).name, "Files");
    EXPECT_EQ(parseDesktopEntry(text, {"de_DE", "de"}).name, "Dateien");
    EXPECT_EQ(parseDesktopEntry(text, {"de_AT", "de"}).name, "Dateien (AT)");
    EXPECT_EQ(parseDesktopEntry(text, {"fr_FR", "fr"}).name, "Files");
    EXPECT_EQ(parseDesktopEntry(text, {}).icon, "folder");
    EXPECT_FALSE(parseDesktopEntry(text, {}).noDisplay);

    TempDir dir;
    dir.write("a/applications/x.desktop", "[Desktop Entry]\nName=X from A\n");
    dir.write("b/applications/x.desktop", "[Desktop Entry]\nName=X from B\n");
    dir.write("b/applications/y.desktop", "[Desktop Entry]\nName=Y\n");
    setenv("XDG_DATA_HOME", (dir.path() + "/none").c_str(), 1);
    setenv("XDG_DATA_DIRS", (dir.path() + "/a:relative/ignored:" + dir.path() + "/b").c_str(), 1);
    auto dirs = applicationDirsFromEnvironment();
    EXPECT_EQ(dirs.size(), 3u);
    EXPECT_EQ(findDesktopEntry("x", dirs, {})->name, "X from A");
    EXPECT_EQ(findDesktopEntry("y", dirs, {})->name, "Y");
    EXPECT_FALSE(findDesktopEntry("z", dirs, {}).has_value());
    EXPECT_FALSE(findDesktopEntry("../b/applications/y", dirs, {}).has_value());
    setenv("LANG", "de_AT.UTF-8", 1);
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    EXPECT_EQ(localesFromEnvironment(), (std::vector<std::string>{"de_AT", "de"}));
    unsetenv("XDG_DATA_HOME");
    unsetenv("XDG_DATA_DIRS");
}

TEST(LinuxProc, AppFactsFromOddUnitsAndEntriesAreValidText) {
    // Every fact of a running app ends up in JSON files and output, which
    // take valid UTF-8 only.
    FakeSystem fs;
    struct Case {
        const char* unitId;     // application id as escaped in the unit name
        std::string fileId;     // the entry's file name without ".desktop"
        std::string entryName;  // Name= of the entry
        const char* expectedId;
    };
    const Case cases[] = {
        {"caf\\xc3\\xa9", "caf\xc3\xa9", "Caf\xc3\xa9", "caf\xc3\xa9"},             // escaped UTF-8 stays as it is
        {"latin", "latin", "Caf\xe9 Latin-1", "latin"},                              // a legacy Latin-1 Name=
        {"bad\\xff", "bad\xff", "Bad", "bad\xef\xbf\xbd"},                           // an escape that is no UTF-8
    };
    std::vector<Pid> pids;
    Pid pid = 900;
    for (const auto& c : cases) {
        const std::string scope = kSlice + "app-gnome-" + c.unitId + "-1.scope";
        fs.process(pid, pid, "0::" + scope + "\n");
        fs.cgroupProcs(scope, std::to_string(pid) + "\n");
        fs.dir.write("apps/" + c.fileId + ".desktop", "[Desktop Entry]\nName=" + c.entryName + "\n");
        pids.push_back(pid++);
    }
    auto p = fs.platform({fs.dir.path() + "/apps"});
    for (size_t i = 0; i < pids.size(); ++i) {
        auto app = p.lookupApp(pids[i]);
        ASSERT_TRUE(app.has_value()) << cases[i].unitId;
        EXPECT_EQ(app->bundleID, cases[i].expectedId) << cases[i].unitId;
        nlohmann::json j{{"name", app->name.value_or("")},
                         {"id", app->bundleID.value_or("")},
                         {"path", app->bundlePath.value_or("")}};
        EXPECT_NO_THROW((void)j.dump()) << cases[i].unitId;
    }
}

TEST(DesktopEntries, EntryThatIsNoRegularFileIsPassedOver) {
    TempDir dir;
    dir.mkdir("a/applications");
    const std::string fifo = dir.path() + "/a/applications/x.desktop";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    dir.write("b/applications/x.desktop", "[Desktop Entry]\nName=X from B\n");
    const std::vector<std::string> dirs{dir.path() + "/a/applications", dir.path() + "/b/applications"};
    auto found = std::async(std::launch::async, [&] { return findDesktopEntry("x", dirs, {}); });
    const bool finished = found.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    if (!finished) {
        // Release the reader blocked in open() so the test can end.
        int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    auto entry = found.get();
    ASSERT_TRUE(finished) << "reading a FIFO entry blocked";
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->name, "X from B");
}

TEST(SystemInfoFromSys, MachinesOfEveryKind) {
    struct Machine {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;
        int logical, performance, efficiency;
        std::string kinds;  // one letter per core
    };
    const std::vector<Machine> machines = {
        {"intel hybrid",
         {{"devices/system/cpu/online", "0-5\n"}, {"devices/cpu_core/cpus", "0-3\n"}, {"devices/cpu_atom/cpus", "4-5\n"}},
         6, 4, 2, "PPPPEE"},
        {"arm by capacity",
         {{"devices/system/cpu/online", "0-3\n"},
          {"devices/system/cpu/cpu0/cpu_capacity", "446\n"},
          {"devices/system/cpu/cpu1/cpu_capacity", "446\n"},
          {"devices/system/cpu/cpu2/cpu_capacity", "1024\n"},
          {"devices/system/cpu/cpu3/cpu_capacity", "1024\n"}},
         4, 2, 2, "EEPP"},
        {"one kind", {{"devices/system/cpu/online", "0-3\n"}}, 4, 4, 0, "PPPP"},
        {"one kind with equal capacities",
         {{"devices/system/cpu/online", "0-1\n"},
          {"devices/system/cpu/cpu0/cpu_capacity", "1024\n"},
          {"devices/system/cpu/cpu1/cpu_capacity", "1024\n"}},
         2, 2, 0, "PP"},
        // cpu2 is missing from the hybrid lists: the kinds have a gap and the
        // numbering rule (efficiency cores first) takes over.
        {"gap in the numbering",
         {{"devices/system/cpu/online", "0-3\n"}, {"devices/cpu_core/cpus", "0-1\n"}, {"devices/cpu_atom/cpus", "3\n"}},
         4, 2, 1, "EPPP"},
    };
    for (const auto& m : machines) {
        TempDir dir;
        dir.write("proc/cpuinfo", "processor\t: 0\nmodel name\t: Test CPU 9000\n");
        for (const auto& [path, content] : m.files) dir.write("sys/" + path, content);
        LinuxPlatform::Options o;
        o.procRoot = dir.path() + "/proc";
        o.sysRoot = dir.path() + "/sys";
        o.desktop = false;
        LinuxPlatform p(o);
        SystemInfo info = SystemInfo::from(p.machineFacts());
        EXPECT_EQ(info.chipName, "Test CPU 9000") << m.name;
        EXPECT_EQ(info.logicalCores, m.logical) << m.name;
        EXPECT_EQ(info.performanceCores, m.performance) << m.name;
        EXPECT_EQ(info.efficiencyCores, m.efficiency) << m.name;
        std::string kinds;
        for (auto k : info.coreKinds) kinds += k == CoreKind::efficiency ? 'E' : 'P';
        EXPECT_EQ(kinds, m.kinds) << m.name;
    }
}

TEST(SystemInfoFromSys, FallbacksAndOutOfRangeKinds) {
    MachineFacts none;
    SystemInfo info = SystemInfo::from(none);
    EXPECT_EQ(info.chipName, "Unknown CPU");
    EXPECT_EQ(info.logicalCores, 1);
    EXPECT_EQ(info.kind(-1), CoreKind::performance);
    EXPECT_EQ(info.kind(1), CoreKind::performance);

    // Kinds whose efficiency count disagrees with the reported count are ignored.
    MachineFacts f;
    f.logicalCores = 4;
    f.efficiencyCores = 1;
    f.coreIsEfficiency = std::vector<std::pair<int, bool>>{{0, false}, {1, false}, {2, true}, {3, true}};
    info = SystemInfo::from(f);
    ASSERT_EQ(info.coreKinds.size(), 4u);
    EXPECT_EQ(info.kind(0), CoreKind::efficiency);
    EXPECT_EQ(info.kind(3), CoreKind::performance);
    EXPECT_EQ(info.kind(4), CoreKind::performance);
    EXPECT_EQ(info.performanceCores, 3);

    // A device-tree model names the processor when cpuinfo has none.
    TempDir dir;
    dir.write("proc/cpuinfo", "processor\t: 0\n");
    dir.write("sys/firmware/devicetree/base/model", std::string("Raspberry Pi 5", 14) + std::string(1, '\0'));
    LinuxPlatform::Options o;
    o.procRoot = dir.path() + "/proc";
    o.sysRoot = dir.path() + "/sys";
    o.desktop = false;
    LinuxPlatform p(o);
    EXPECT_EQ(SystemInfo::from(p.machineFacts()).chipName, "Raspberry Pi 5");
}

// Trevlin's own entry is never listed: the one installed beside the running
// program (as a menu starts it), else the first on the data folders.
TEST(DesktopEntries, TheProgramsOwnEntry) {
    test::TempDir root;
    root.mkdir("proc/self");
    root.write("usr/bin/Trevlin", "");
    std::filesystem::create_symlink(root.path() + "/usr/bin/Trevlin", root.path() + "/proc/self/exe");
    const std::string data = root.mkdir("data/applications");
    const std::string other = root.mkdir("other/applications");
    auto own = [&] {
        LinuxPlatform::Options o;
        o.procRoot = root.path() + "/proc";
        o.appDirs = {other, data};
        o.desktop = false;
        return LinuxPlatform(o).ownBundlePath();
    };
    EXPECT_EQ(own(), other + "/app.trevlin.Trevlin.desktop");  // nowhere yet: where it would be found first
    root.write("data/applications/app.trevlin.Trevlin.desktop", "[Desktop Entry]\n");
    EXPECT_EQ(own(), data + "/app.trevlin.Trevlin.desktop");
    const std::string installed = root.write("usr/share/applications/app.trevlin.Trevlin.desktop", "[Desktop Entry]\n");
    EXPECT_EQ(own(), installed);
}
