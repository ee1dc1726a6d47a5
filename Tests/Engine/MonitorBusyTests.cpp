// The monitor against real busy processes: a shell job with two busy loops
// must show up as one command-line group using about two cores, and the
// monitor's total must match the kernel's own per-core counters.

#include "Children.h"
#include "RealPlatform.h"
#include "Monitor.h"
#include "ProcessUtil.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

using namespace trevlin;
using namespace trevlin::test;

namespace {

// Two busy loops (dash) under one bash that leads its own session.
const char* kJob = "sh -c 'while :; do :; done' & sh -c 'while :; do :; done' & wait";

/// Runs the job and waits until both loops run; returns the loops' pids.
std::vector<pid_t> startJob(Children& kids, pid_t& leader) {
    leader = kids.spawn({"bash", "-c", kJob}, true);
    std::vector<pid_t> loops;
    for (int i = 0; i < 300; ++i) {
        loops.clear();
        for (pid_t p : processGroupMembers(leader))
            if (p != leader && lastPathComponent(exePath(realPlatform(), p)) != "bash") loops.push_back(p);
        if (loops.size() == 2) break;
        sleepFor(0.01);
    }
    return loops;
}

double cpuOf(const std::vector<pid_t>& pids) {
    double sum = 0;
    for (pid_t p : pids) sum += processCpuSeconds(p);
    return sum;
}

struct ProcStatTotals {
    unsigned long long busy = 0, all = 0;
    int cpus = 0;
};

/// Sums the cpuN lines of /proc/stat: busy = user + nice + system + irq +
/// softirq + steal; all = busy + idle + iowait.
ProcStatTotals readProcStat() {
    ProcStatTotals t;
    std::ifstream in("/proc/stat");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("cpu", 0) != 0 || line.size() < 4 || !isdigit(static_cast<unsigned char>(line[3]))) continue;
        std::istringstream f(line);
        std::string name;
        unsigned long long user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
        f >> name >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
        const unsigned long long busy = user + nice + system + irq + softirq + steal;
        t.busy += busy;
        t.all += busy + idle + iowait;
        ++t.cpus;
    }
    return t;
}

std::string runCommand(const std::string& command, int& status) {
    std::string out;
    FILE* f = ::popen(command.c_str(), "r");
    if (!f) {
        status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    status = ::pclose(f);
    return out;
}

}  // namespace

TEST(MonitorBusy, TrevlinctlShowsAShellJobAsOneGroup) {
    TempDir data;
    Children kids;
    pid_t leader = 0;
    auto loops = startJob(kids, leader);
    ASSERT_EQ(loops.size(), 2u);
    const std::string loopName = lastPathComponent(exePath(realPlatform(), loops[0]));

    const double cpu0 = cpuOf(loops), t0 = now(realPlatform());
    int status = 0;
    const std::string out = runCommand("XDG_DATA_HOME=" + data.path() + " " TREVLINCTL_PATH " apps --json --seconds 2", status);
    const double measured = (cpuOf(loops) - cpu0) / (now(realPlatform()) - t0);
    ASSERT_EQ(status, 0) << out;

    auto snap = nlohmann::json::parse(out, nullptr, false);
    ASSERT_FALSE(snap.is_discarded()) << out;
    const nlohmann::json* group = nullptr;
    for (const auto& row : snap.at("apps"))
        if (row.at("key") == "cli:bash") group = &row;
    ASSERT_TRUE(group) << out;
    EXPECT_EQ(group->at("name"), "bash");
    EXPECT_EQ(group->at("kind"), "commandLine");
    // At least the two loops. The bash that leads the job joins the group
    // only once a loop has named it a launcher and its own 10 s re-check is
    // due, and other bash jobs of the user's may be in the group too.
    EXPECT_GE(group->at("processCount").get<int>(), 2);
    EXPECT_NE(group->at("detail").get<std::string>().find(loopName), std::string::npos) << group->dump();
    const double cores = group->at("cores");
    // About two cores; on a machine busy with other work the loops get less,
    // and the group must show what they really got.
    EXPECT_GE(cores, std::min(1.3, 0.75 * measured)) << "loops measured at " << measured << " cores";
    EXPECT_GT(cores, 0.3);
    EXPECT_LE(cores, snap.at("coreLoads").size() + 0.1);
    EXPECT_GE(snap.at("other").at("cores").get<double>(), 0);
}

TEST(MonitorBusy, TotalMatchesTheKernelsCounters) {
    TempDir data;
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    Children kids;
    pid_t leader = 0;
    auto loops = startJob(kids, leader);
    ASSERT_EQ(loops.size(), 2u);

    auto context = EngineContext::make(std::make_shared<LinuxPlatform>());
    Monitor monitor(context, SystemInfo::read(context->platform()));
    monitor.start(false);
    const ProcStatTotals a = readProcStat();
    const double cpu0 = cpuOf(loops);
    sleepFor(1.5);
    const ProcStatTotals b = readProcStat();
    const double cpu1 = cpuOf(loops);
    monitor.tickNow();
    ::unsetenv("XDG_DATA_HOME");

    auto snap = monitor.latest();
    ASSERT_TRUE(snap);
    ASSERT_EQ(static_cast<int>(snap->coreLoads.size()), a.cpus);
    const double kernel = static_cast<double>(b.busy - a.busy) / static_cast<double>(b.all - a.all) * a.cpus;
    EXPECT_NEAR(snap->totalCores, kernel, 0.1 * kernel + 0.05);
    double sum = 0;
    for (const auto& c : snap->coreLoads) sum += c.load;
    EXPECT_NEAR(sum, snap->totalCores, 1e-9);

    const AppUsage* group = nullptr;
    for (const auto& r : snap->apps)
        if (r.bundlePath == "cli:bash") group = &r;
    ASSERT_TRUE(group);
    const double loopCores = (cpu1 - cpu0) / 1.5;
    EXPECT_GE(group->cores, 0.75 * loopCores - 0.1) << "loops measured at " << loopCores;
    EXPECT_LE(group->cores, a.cpus + 0.1);
    auto counted = monitor.countedPids();
    for (pid_t p : loops) EXPECT_TRUE(counted.count(p)) << p;
    EXPECT_GE(snap->other.cores, 0);
}

namespace {

/// C source that takes gcc -O2 a second or two: many functions of mixed
/// arithmetic and branches.
std::string heavyC(int file, int functions) {
    std::string c = "#include <stdint.h>\n";
    char line[256];
    for (int k = 0; k < functions; ++k) {
        std::snprintf(line, sizeof line, "uint64_t f%d_%d(uint64_t x, uint64_t y) {\n", file, k);
        c += line;
        for (int j = 0; j < 30; ++j) {
            std::snprintf(line, sizeof line,
                          "  x = (x * %du + (y >> %d)) ^ (y * %du); if (x & %uu) y += x / %du; else y ^= x << %d;\n",
                          j * 2 + 3, j % 13, k + j + 1, 1u << (j % 20), j + 7, j % 7);
            c += line;
        }
        c += "  return x + y;\n}\n";
    }
    return c;
}

}  // namespace

TEST(MonitorBusy, ABuildsRowCarriesWhatTheBuildUses) {
    TempDir dir, data;
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    std::string rules = "rule cc\n  command = gcc -O2 -c $in -o $out\n";
    for (int i = 0; i < 6; ++i) {
        dir.write("f" + std::to_string(i) + ".c", heavyC(i, 40));
        rules += "build f" + std::to_string(i) + ".o: cc f" + std::to_string(i) + ".c\n";
    }
    dir.write("build.ninja", rules);

    auto context = EngineContext::make(std::make_shared<LinuxPlatform>());
    Monitor monitor(context, SystemInfo::read(context->platform()));
    monitor.start(false);

    Children kids;
    const pid_t ninja = kids.spawn({"ninja", "-C", dir.path(), "-j2"}, true);
    ASSERT_GT(ninja, 0);
    double rowSeconds = 0, otherSeconds = 0, totalSeconds = 0;
    double last = now(realPlatform());
    auto sample = [&] {
        monitor.tickNow();
        const double t = now(realPlatform()), dt = t - last;
        last = t;
        auto snap = monitor.latest();
        for (const auto& r : snap->apps)
            if (r.bundlePath == "cli:ninja") rowSeconds += r.cores * dt;
        otherSeconds += snap->other.cores * dt;
        totalSeconds += snap->totalCores * dt;
    };
    // Sampled once a second until ninja has exited; its zombie is read once
    // more, then reaped with the CPU of the whole build.
    siginfo_t info{};
    for (int i = 0; i < 120; ++i) {
        info.si_pid = 0;
        ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(ninja), &info, WEXITED | WNOHANG | WNOWAIT), 0);
        if (info.si_pid == ninja) break;
        sleepFor(1.0);
        sample();
    }
    ASSERT_EQ(info.si_pid, ninja) << "the build did not end";
    sample();
    int status = 0;
    rusage usage{};
    ASSERT_EQ(::wait4(ninja, &status, 0, &usage), ninja);
    ::unsetenv("XDG_DATA_HOME");
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the build failed";
    const double build = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;

    const std::string figures = "build " + std::to_string(build) + " s, row " + std::to_string(rowSeconds) +
                                " s, other " + std::to_string(otherSeconds) + " s, total " +
                                std::to_string(totalSeconds) + " s";
    std::printf("%s\n", figures.c_str());
    EXPECT_GT(build, 3.0) << figures;
    EXPECT_GE(rowSeconds, 0.85 * build) << figures;
    EXPECT_LE(rowSeconds, 1.1 * build + 0.2) << figures;
    // What the build used is in its row, so Other holds no more than the
    // rest of the machine's work.
    EXPECT_LE(otherSeconds, std::max(0.0, totalSeconds - rowSeconds) + 0.1 * build) << figures;
}
