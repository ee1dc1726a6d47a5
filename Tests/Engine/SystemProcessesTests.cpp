// The breakdown's rules on the simulated platform, and its reading of a
// fixture /proc through the Linux platform.
#include "SystemProcesses.h"

#include "LinuxPlatform.h"
#include "SimulatedPlatform.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

using namespace trevlin;

namespace {

std::vector<std::pair<Pid, double>> rates(const SystemBreakdown& b) {
    std::vector<std::pair<Pid, double>> out;
    for (const auto& p : b.processes) out.emplace_back(p.pid, p.cores);
    return out;
}

void setCpu(SimulatedPlatform& sim, Pid pid, double seconds) {
    sim.edit(pid, [&](SimProcess& p) { p.cpuSeconds = seconds; });
}

// No such user on any test machine: the breakdown shows the number.
constexpr uint32_t kNamelessUid = 3999999;

}  // namespace

TEST(SystemProcessSampler, RatesBetweenPasses) {
    SimulatedPlatform sim;
    struct Start {
        Pid pid;
        const char* exe;
        double cpu;
    };
    for (const Start& s : std::vector<Start>{{10, "/usr/sbin/alpha", 10},
                                             {11, "/usr/sbin/idle", 1},
                                             {12, "/usr/sbin/gamma", 1},
                                             {13, "/usr/sbin/old", 5},
                                             {14, "/usr/sbin/shrinking", 9},
                                             {16, "/usr/sbin/excluded", 1},
                                             {17, "/usr/libexec/tracker-miner-fs-3", 1},
                                             {18, "/usr/sbin/restarted", 1}}) {
        sim.spawn(s.pid, s.exe);
        setCpu(sim, s.pid, s.cpu);
    }
    sim.edit(10, [](SimProcess& p) { p.uid = 0; });
    sim.edit(17, [](SimProcess& p) { p.uid = kNamelessUid; });
    SystemProcessSampler sampler(sim);
    auto first = sampler.sample({}, 4);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->interval, 0);
    EXPECT_TRUE(first->processes.empty());
    EXPECT_EQ(sampler.runs(), 1);

    sim.advance(5);
    setCpu(sim, 10, 12.5);
    setCpu(sim, 11, 1.001);
    setCpu(sim, 12, 3.5);
    sim.remove(13);
    sim.spawn(13, "/usr/sbin/new");  // the pid, reused by another program
    setCpu(sim, 13, 9);
    setCpu(sim, 14, 8);
    sim.spawn(15, "/usr/sbin/born");
    setCpu(sim, 15, 3);
    setCpu(sim, 16, 9);
    setCpu(sim, 17, 2);
    // The same program again under the same pid: a new start time.
    sim.edit(18, [](SimProcess& p) {
        p.start += 1;
        p.cpuSeconds = 4;
    });
    sim.spawn(19, "/usr/sbin/hidden");
    sim.edit(19, [](SimProcess& p) { p.unreadable = true; });
    auto second = sampler.sample({16}, 4);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->interval, 5.0);
    EXPECT_EQ(second->timestamp, sim.wallClock());
    // Equal cores are ordered by pid; 0.0002 cores is left out; a reused pid,
    // a counter that went down, a new pid, an excluded pid and one that
    // cannot be read get no rate.
    EXPECT_EQ(rates(*second), (std::vector<std::pair<Pid, double>>{{10, 0.5}, {12, 0.5}, {17, 0.2}}));
    EXPECT_EQ(second->processes[0].name, "alpha");
    EXPECT_EQ(second->processes[0].command, "alpha");
    EXPECT_EQ(second->processes[0].user, "root");
    // The task name, cut to 15 bytes, gets the whole program's name.
    EXPECT_EQ(second->processes[2].command, "tracker-miner-f");
    EXPECT_EQ(second->processes[2].name, "File indexing (tracker-miner-fs-3)");
    EXPECT_TRUE(second->processes[2].needsHelper);
    EXPECT_EQ(second->processes[2].user, std::to_string(kNamelessUid));

    // A pass that reads nothing fails and keeps the baseline and the run count.
    for (Pid pid : sim.allPids()) sim.edit(pid, [](SimProcess& p) { p.unreadable = true; });
    sim.advance(2);
    EXPECT_EQ(sampler.sample({}, 4), std::nullopt);
    EXPECT_EQ(sampler.runs(), 2);
    sim.edit(10, [](SimProcess& p) { p.unreadable = false; });
    sim.advance(3);
    setCpu(sim, 10, 13.5);
    auto third = sampler.sample({}, 4);
    ASSERT_TRUE(third);
    EXPECT_EQ(rates(*third), (std::vector<std::pair<Pid, double>>{{10, 0.2}}));

    // An interval of 60 s or more forms no rates but replaces the baseline.
    sim.advance(60);
    setCpu(sim, 10, 20);
    auto late = sampler.sample({}, 4);
    ASSERT_TRUE(late);
    EXPECT_EQ(late->interval, 0);
    EXPECT_TRUE(late->processes.empty());
    sim.advance(2);
    setCpu(sim, 10, 21);
    EXPECT_EQ(rates(*sampler.sample({}, 4)), (std::vector<std::pair<Pid, double>>{{10, 0.5}}));

    // Too close together: no rates either.
    sim.advance(0.4);
    setCpu(sim, 10, 22);
    EXPECT_EQ(sampler.sample({}, 4)->interval, 0);

    sampler.reset();
    sim.advance(5);
    EXPECT_EQ(sampler.sample({}, 4)->interval, 0);
    EXPECT_EQ(sampler.runs(), 7);

    // No processes at all: the list could not be read.
    for (Pid pid : sim.allPids()) sim.remove(pid);
    EXPECT_EQ(sampler.sample({}, 4), std::nullopt);
}

TEST(SystemProcessSampler, ReadsAFixtureProc) {
    test::TempDir dir;
    const std::string proc = dir.path() + "/proc";
    dir.write("proc/stat", "cpu  1 2 3 4\nbtime 1700000000\n");
    struct Fixture {
        Pid pid;
        std::string name;
        uint32_t uid;
        uint64_t ticks;  // utime + stime of the first pass; the second adds `more`
        uint64_t more;
    };
    const uint32_t me = ::getuid();
    const std::vector<Fixture> table = {
        {1, "systemd", 0, 500, 30},
        {2, "kworker/0:1-events", 0, 100, 60},  // a kernel thread
        {200, "tracker-miner-f", me, 1000, 90},
        {300, "postgres", kNamelessUid, 7000, 12},  // another user's
        {400, "short-lived", me, 10, 50},           // exits before the second pass reads it
        {500, "bad\tname", me, 0, 20},
    };
    auto writeStat = [&](const Fixture& f, uint64_t ticks) {
        char stat[512];
        std::snprintf(stat, sizeof stat,
                      "%d (%s) S 1 %d %d 0 -1 4194304 0 0 0 0 %llu %llu 0 0 20 0 1 0 250 0 0 0 0 0 0 0 0 0 0 0 0 0 "
                      "0 0 0 17 1 0 0 0 0 0\n",
                      f.pid, f.name.c_str(), f.pid, f.pid, static_cast<unsigned long long>(ticks / 2),
                      static_cast<unsigned long long>(ticks - ticks / 2));
        dir.write("proc/" + std::to_string(f.pid) + "/stat", stat);
    };
    for (const Fixture& f : table) {
        writeStat(f, f.ticks);
        dir.write("proc/" + std::to_string(f.pid) + "/status",
                  "Name:\tx\nUid:\t" + std::to_string(f.uid) + "\t0\t0\t0\n");
    }
    // Listed, but its details are kept from us (no status to read).
    dir.write("proc/600/stat", "600 (secret) S 1 600 600 0 -1 0 0 0 0 0 900 900 0 0 20 0 1 0 250\n");

    LinuxPlatform::Options options;
    options.procRoot = proc;
    options.sysRoot = dir.path() + "/sys";
    options.desktop = false;
    LinuxPlatform platform(options);
    SystemProcessSampler sampler(platform);
    ASSERT_TRUE(sampler.sample({}, 4));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    for (const Fixture& f : table) writeStat(f, f.ticks + f.more);
    std::remove((proc + "/400/stat").c_str());
    std::remove((proc + "/400/status").c_str());
    dir.write("proc/600/stat", "600 (secret) S 1 600 600 0 -1 0 0 0 0 0 990 990 0 0 20 0 1 0 250\n");

    auto b = sampler.sample({1}, 4);
    ASSERT_TRUE(b);
    ASSERT_GT(b->interval, 0.5);
    const double tick = 1.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
    struct Expect {
        Pid pid;
        uint64_t more;
        std::string user, command, name;
    };
    const std::vector<Expect> expected = {
        {200, 90, "", "tracker-miner-f", "File indexing (tracker-miner-fs-3)"},
        {2, 60, "root", "kworker/0:1-events", "kworker/0:1-events"},
        {500, 20, "", "bad?name", "bad?name"},
        {300, 12, std::to_string(kNamelessUid), "postgres", "postgres"},
    };
    ASSERT_EQ(b->processes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const SystemProcess& p = b->processes[i];
        SCOPED_TRACE(p.command);
        EXPECT_EQ(p.pid, expected[i].pid);
        EXPECT_NEAR(p.cores, static_cast<double>(expected[i].more) * tick / b->interval, 1e-9);
        if (!expected[i].user.empty()) {
            EXPECT_EQ(p.user, expected[i].user);
        }
        EXPECT_EQ(p.command, expected[i].command);
        EXPECT_EQ(p.name, expected[i].name);
    }

    // A pass that overruns its time limit fails; one with no /proc too.
    EXPECT_EQ(sampler.sample({}, 0), std::nullopt);
    EXPECT_EQ(sampler.runs(), 2);
    options.procRoot = dir.path() + "/missing";
    LinuxPlatform nothing(options);
    EXPECT_EQ(SystemProcessSampler(nothing).sample({}, 4), std::nullopt);
}

TEST(SystemProcessNames, FriendlyNames) {
    using F = SystemProcessNames::Friendly;
    const std::vector<std::pair<std::string, F>> cases = {
        // Paths and whole task names.
        {"/usr/sbin/updatedb.plocate", {"File indexing (updatedb.plocate)", true}},
        {"/usr/libexec/tracker-extract-3", {"File indexing (tracker-extract-3)", true}},
        {"baloo_file", {"File indexing (baloo_file)", true}},
        {"localsearch-3", {"File indexing (localsearch-3)", true}},
        {"restic", {"Backups (restic)", true}},
        {"/usr/bin/timeshift", {"Backups (timeshift)", true}},
        {"borg", {"Backups (borg)", true}},
        // The kernel's task names of programs whose names are longer than 15 bytes.
        {"updatedb.plocat", {"File indexing (updatedb.plocate)", true}},
        {"tracker-miner-f", {"File indexing (tracker-miner-fs-3)", true}},
        {"tracker-extract", {"File indexing (tracker-extract-3)", true}},
        {"baloo_file_extr", {"File indexing (baloo_file_extractor)", true}},
        {"localsearch-ext", {"File indexing (localsearch-extractor-3)", true}},
        {"deja-dup-monito", {"Backups (deja-dup-monitor)", true}},
        // Near misses and everything else keep their own name.
        {"tracker-miner", {"tracker-miner", false}},
        {"restic2", {"restic2", false}},
        {"baloo_file_extractor_x", {"baloo_file_extractor_x", false}},
        {"python3", {"python3", false}},
        {"mdworker_shared", {"mdworker_shared", false}},
        {"/usr/sbin/cron", {"cron", false}},
        {"Web Content", {"Web Content", false}},
        {"/usr/bin/", {"bin", false}},
        // Linux prints a task name, not a path: a kernel thread's "/" is part
        // of its name.
        {"ksoftirqd/0", {"ksoftirqd/0", false}},
        {"kworker/u8:0-flush-254:0", {"kworker/u8:0-flush-254:0", false}},
    };
    for (const auto& [command, expect] : cases) {
        SCOPED_TRACE(command);
        EXPECT_EQ(SystemProcessNames::friendly(command), expect);
    }
}
