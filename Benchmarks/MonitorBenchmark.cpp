// What one monitor tick costs with 1,000 extra processes on the machine.
//
// Starts 1,000 sleeping children, then measures, each as the mean over
// several runs:
//   - the full tick (per-core loads + the per-process pass + rows), once a
//     second for a while, as the monitor runs it; after the first 32 s the
//     desktop-app lookups of new pids have settled;
//   - the bare reading of /proc/<pid>/stat for the same pids (with and
//     without listing /proc);
//   - `ps -e -o pid=,time=` over the same processes;
//   - the system-process breakdown's pass over /proc, next to the `ps` run
//     and parse it replaced (its CPU time includes the `ps` child's);
//   - a light tick (per-core loads only, rows repeated).
// Plain main: run it, read the table.

#include "BenchmarkSupport.h"
#include "LinuxPlatform.h"
#include "Monitor.h"
#include "ProcessUtil.h"
#include "SystemProcesses.h"

#include <dirent.h>
#include <fcntl.h>
#include <time.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

using namespace trevlin;
using namespace trevlin::bench;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

/// CPU time of the calling thread, seconds.
double threadCpu() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

/// CPU time of this process's thread named `name` (from its schedstat), seconds.
struct ThreadClock {
    std::string path;
    explicit ThreadClock(const std::string& name) {
        DIR* d = ::opendir("/proc/self/task");
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::string base = std::string("/proc/self/task/") + e->d_name;
            FILE* f = std::fopen((base + "/comm").c_str(), "r");
            if (!f) continue;
            char comm[64] = {};
            if (std::fgets(comm, sizeof comm, f) && std::string(comm) == name + "\n") path = base + "/schedstat";
            std::fclose(f);
        }
        ::closedir(d);
    }
    double read() const {
        unsigned long long ns = 0;
        if (FILE* f = std::fopen(path.c_str(), "r")) {
            if (std::fscanf(f, "%llu", &ns) != 1) ns = 0;
            std::fclose(f);
        }
        return static_cast<double>(ns) * 1e-9;
    }
};

std::vector<int> listProc() {
    std::vector<int> out;
    DIR* d = ::opendir("/proc");
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        out.push_back(std::atoi(e->d_name));
    }
    ::closedir(d);
    return out;
}

/// open + read + close of /proc/<pid>/stat for every pid.
size_t readStats(const std::vector<int>& pids) {
    size_t bytes = 0;
    char path[64], buf[1024];
    for (int pid : pids) {
        std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
        int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) bytes += static_cast<size_t>(n);
        ::close(fd);
    }
    return bytes;
}

struct Stats {
    double mean = 0, median = 0, max = 0;
};

Stats stats(std::vector<double> v) {
    Stats s;
    if (v.empty()) return s;
    std::sort(v.begin(), v.end());
    s.mean = std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
    s.median = v[v.size() / 2];
    s.max = v.back();
    return s;
}

struct Runs {
    std::vector<double> wall, cpu;
};

void append(Runs& to, const Runs& from) {
    to.wall.insert(to.wall.end(), from.wall.begin(), from.wall.end());
    to.cpu.insert(to.cpu.end(), from.cpu.begin(), from.cpu.end());
}

/// Times `f` on this thread: wall clock and the thread's CPU time.
template <class F>
Runs timeRuns(int runs, F f) {
    Runs out;
    for (int i = 0; i < runs; ++i) {
        auto a = Clock::now();
        double c = threadCpu();
        f();
        out.cpu.push_back(threadCpu() - c);
        out.wall.push_back(seconds(a, Clock::now()));
    }
    return out;
}

/// CPU time of the reaped children of this process, seconds.
double childrenCpu() {
    rusage r{};
    ::getrusage(RUSAGE_CHILDREN, &r);
    auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
    return sec(r.ru_utime) + sec(r.ru_stime);
}

/// "[DD-][HH:]MM:SS" in seconds, as `ps` prints CPU time.
double cpuTimeOf(const char* text) {
    double days = 0, total = 0;
    if (const char* dash = std::strchr(text, '-')) {
        days = std::atof(text) * 86400;
        text = dash + 1;
    }
    for (const char* p = text; *p;) {
        total = total * 60 + std::atof(p);
        p = std::strchr(p, ':');
        if (!p) break;
        ++p;
    }
    return days + total;
}

/// What the breakdown did before reading /proc: `ps` over every process,
/// each line parsed into pid, user, CPU seconds and command. Returns the
/// number of lines parsed.
size_t psPass() {
    FILE* f = ::popen("/bin/ps -axo pid=,uid=,user=,cputime=,comm=", "r");
    if (!f) return 0;
    std::map<int, std::pair<double, std::string>> parsed;
    char line[4096], user[256], cputime[64];
    int pid = 0, consumed = 0;
    unsigned uid = 0;
    while (std::fgets(line, sizeof line, f)) {
        if (std::sscanf(line, " %d %u %255s %63s %n", &pid, &uid, user, cputime, &consumed) != 4) continue;
        std::string command(line + consumed);
        if (!command.empty() && command.back() == '\n') command.pop_back();
        parsed[pid] = {cpuTimeOf(cputime), std::move(command)};
    }
    ::pclose(f);
    return parsed.size();
}

}  // namespace

int main(int argc, char** argv) {
    const int extra = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int settle = argc > 2 ? std::atoi(argv[2]) : 32;
    const int measured = argc > 3 ? std::atoi(argv[3]) : 22;

    // Keep the real journal folder out of it.
    char dataDir[] = "/tmp/trevlin-bench-XXXXXX";
    if (!::mkdtemp(dataDir)) return 1;
    ::setenv("XDG_DATA_HOME", dataDir, 1);
    Sleepers sleepers(extra);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const size_t pidCount = listProc().size();
    std::printf("processes on the machine: %zu (%zu started here)\n", pidCount, sleepers.size());

    auto context = EngineContext::make(std::make_shared<LinuxPlatform>());
    Monitor monitor(context, SystemInfo::read(context->platform()));
    auto a = Clock::now();
    monitor.start(false);
    const double startCost = seconds(a, Clock::now());
    const ThreadClock monitorThread("trevlin.monitor");

    // Full ticks once a second, as the timer would run them. Wall time is
    // taken around the tick, CPU time from the monitor's own thread. After
    // the settling time, each tick is followed half a second later by the
    // bare reads and (every fifth second) ps, so all of them see the same
    // load on the machine.
    Runs early, steady, bareRead, bareListRead, ps, breakdown, oldBreakdown;
    SystemProcessSampler sampler(context->platform());
    const int total = settle + measured;
    for (int i = 0; i < total; ++i) {
        auto next = Clock::now() + std::chrono::seconds(1);
        auto t0 = Clock::now();
        const double c0 = monitorThread.read();
        monitor.tickNow();
        Runs& into = i < settle ? early : steady;
        into.cpu.push_back(monitorThread.read() - c0);
        into.wall.push_back(seconds(t0, Clock::now()));
        if (i >= settle) {
            // Half a second later, so the reads find /proc as the tick did
            // and not warmed up by it.
            std::this_thread::sleep_until(next - std::chrono::milliseconds(500));
            const auto pids = listProc();
            append(bareRead, timeRuns(1, [&] { readStats(pids); }));
            append(bareListRead, timeRuns(1, [&] { readStats(listProc()); }));
            if ((i - settle) % 5 == 0)
                append(ps, timeRuns(1, [] {
                           FILE* f = ::popen("/bin/ps -e -o pid=,time=", "r");
                           char buf[65536];
                           while (std::fread(buf, 1, sizeof buf, f) > 0) {
                           }
                           ::pclose(f);
                       }));
            if ((i - settle) % 5 == 2) {
                append(breakdown, timeRuns(1, [&] { sampler.sample({}, 4); }));
                const double children = childrenCpu();
                Runs old = timeRuns(1, [] { psPass(); });
                old.cpu.back() += childrenCpu() - children;
                append(oldBreakdown, old);
            }
        }
        std::this_thread::sleep_until(next);
    }
    const auto snap = monitor.latest();
    const auto pids = listProc();

    monitor.setLightweight(true);
    Runs light;
    for (int i = 0; i < 200; ++i) {
        auto t0 = Clock::now();
        const double c0 = monitorThread.read();
        monitor.tickNow();
        light.cpu.push_back(monitorThread.read() - c0);
        light.wall.push_back(seconds(t0, Clock::now()));
    }
    // ps runs in a child: its CPU time is not this thread's.
    ps.cpu.clear();

    const double n = static_cast<double>(pids.size());
    std::printf("start (journal recovery + baselines): %.2f ms\n\n", startCost * 1e3);
    std::printf("%-44s %9s %9s %9s %9s %11s\n", "measurement (ms)", "wall mean", "wall med", "wall max", "cpu mean",
                "cpu µs/proc");
    auto line = [&](const char* what, const Runs& r, bool perProcess) {
        const Stats w = stats(r.wall), c = stats(r.cpu);
        std::printf("%-44s %9.3f %9.3f %9.3f ", what, w.mean * 1e3, w.median * 1e3, w.max * 1e3);
        if (r.cpu.empty()) std::printf("%9s ", "-");
        else std::printf("%9.3f ", c.mean * 1e3);
        if (perProcess) std::printf("%11.2f\n", (r.cpu.empty() ? w.mean : c.mean) * 1e6 / n);
        else std::printf("%11s\n", "");
    };
    line("full tick, steady (after the first 32 s)", steady, true);
    line("full tick, first 32 s", early, true);
    line("bare read of /proc/<pid>/stat", bareRead, true);
    line("bare listing of /proc + read of every stat", bareListRead, true);
    line("ps -e -o pid=,time= (wall only)", ps, true);
    line("light tick (per-core loads only)", light, false);
    line("system breakdown pass over /proc", breakdown, true);
    line("system breakdown pass with ps (ps + parse)", oldBreakdown, true);
    const double fullCpu = stats(steady.cpu).mean, bareCpu = stats(bareRead.cpu).mean;
    std::printf("\nfull tick / bare read, CPU time: %.2fx   wall: %.2fx\n", fullCpu / bareCpu,
                stats(steady.wall).mean / stats(bareRead.wall).mean);
    std::printf("breakdown over /proc / with ps, CPU time: %.2fx   wall: %.2fx\n",
                stats(breakdown.cpu).mean / stats(oldBreakdown.cpu).mean,
                stats(breakdown.wall).mean / stats(oldBreakdown.wall).mean);
    if (snap) std::printf("rows in the last snapshot: %zu\n", snap->apps.size());
    ::rmdir(dataDir);
    return 0;
}
