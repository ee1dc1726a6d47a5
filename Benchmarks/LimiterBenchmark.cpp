// How precisely the duty cycle holds a cap on real busy processes, and what
// the limiter itself costs.
//
// For each method (strict, smart), cap (0.5, 1.0, 1.5 cores) and number of
// busy processes (1, 2, 4), the benchmark starts that many busy loops in a
// process group of their own, measures what they use unlimited, then holds
// them under the rule through a `LimiterManager` and measures their average
// use over a window from /proc (utime + stime of the loops), never from the
// limiter's own figures. The limiter's cost is this process's own CPU time
// over the same window: it runs nothing but the one limiter thread then.
//
//   LimiterBenchmark [window-seconds (default 20)] [free-seconds (default 3)]
//                    [caps (default 0.5,1.0,1.5)] [methods (default strict,smart)]
//
// Prints one Markdown table per method. The error is shown where the cap is
// below what the loops use unlimited; elsewhere the limiter has nothing to hold.

#include "BenchmarkSupport.h"
#include "LimiterManager.h"
#include "LinuxPlatform.h"
#include "ProcessUtil.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace trevlin;
using namespace trevlin::bench;

namespace {

/// utime + stime from /proc, in seconds; 0 once the process is gone.
double cpuSeconds(pid_t pid) {
    static LinuxPlatform platform;
    auto s = readSample(platform, pid);
    return s ? s->cpu : 0.0;
}

/// Busy loops in a process group of their own, led by an idle process (a
/// group's leader is its launcher, which is never held); continued, killed
/// and reaped when the object goes.
class Loops {
public:
    explicit Loops(int count) {
        leader_ = ::fork();
        if (leader_ == 0) {
            ::setpgid(0, 0);
            for (;;) ::pause();
        }
        ::setpgid(leader_, leader_);
        for (int i = 0; i < count; ++i) {
            pid_t pid = ::fork();
            if (pid == 0) {
                ::setpgid(0, leader_);
                for (;;) asm volatile("" ::: "memory");
            }
            if (pid > 0) {
                ::setpgid(pid, leader_);
                pids_.push_back(pid);
            }
        }
    }
    ~Loops() {
        ::kill(-leader_, SIGCONT);
        ::kill(-leader_, SIGKILL);
        ::waitpid(leader_, nullptr, 0);
        for (pid_t p : pids_) ::waitpid(p, nullptr, 0);
    }
    const std::vector<pid_t>& pids() const { return pids_; }
    double cpu() const {
        double s = 0;
        for (pid_t p : pids_) s += cpuSeconds(p);
        return s;
    }
    /// Average cores used over `seconds`.
    double measure(double seconds) const {
        const double c0 = cpu(), t0 = monotonic();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        return (cpu() - c0) / (monotonic() - t0);
    }

private:
    pid_t leader_ = 0;
    std::vector<pid_t> pids_;
};

struct Cell {
    double free = 0;      // cores used unlimited
    double used = 0;      // cores used under the cap
    double overhead = 0;  // the limiter's own cores
};

Cell runCell(Method method, double cap, int count, double window, double freeSeconds, const std::string& dir) {
    Loops loops(count);
    Cell c;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    c.free = loops.measure(freeSeconds);
    LimiterManager manager(EngineContext::make(std::make_shared<LinuxPlatform>()), dir);
    const auto pids = loops.pids();
    manager.setRule(Rule(cap, method, false, false, false), "cli:benchmark", "benchmark",
                    [pids] { return std::vector<Pid>(pids.begin(), pids.end()); });
    std::this_thread::sleep_for(std::chrono::seconds(3));  // the free first second, then the gain settles
    const double own0 = ownCpuSeconds(), t0 = monotonic();
    c.used = loops.measure(window);
    c.overhead = (ownCpuSeconds() - own0) / (monotonic() - t0);
    manager.shutdown();
    return c;
}

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> out;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty()) out.push_back(item);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const double window = argc > 1 ? std::atof(argv[1]) : 20.0;
    const double freeSeconds = argc > 2 ? std::atof(argv[2]) : 3.0;
    std::vector<double> caps;
    for (const auto& c : split(argc > 3 ? argv[3] : "0.5,1.0,1.5")) caps.push_back(std::atof(c.c_str()));
    std::vector<Method> methods;
    for (const auto& m : split(argc > 4 ? argv[4] : "strict,smart"))
        if (auto method = methodFromRaw(m)) methods.push_back(*method);
    const std::string dir = (std::filesystem::temp_directory_path() / ("trevlin-bench-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(dir);
    std::printf("%d online cores, window %.0f s per cell, period 100 ms\n", LinuxPlatform().activeCores(), window);
    for (Method method : methods) {
        std::printf("\n%s\n\n", rawValue(method));
        std::printf("| cap | busy processes | unlimited use | use under cap | error vs cap | limiter CPU |\n");
        std::printf("|---|---|---|---|---|---|\n");
        for (double cap : caps) {
            for (int count : {1, 2, 4}) {
                Cell c = runCell(method, cap, count, window, freeSeconds, dir);
                char error[64];
                if (c.free > cap * 1.05)
                    std::snprintf(error, sizeof error, "%+.1f %%", (c.used - cap) / cap * 100.0);
                else
                    std::snprintf(error, sizeof error, "(load not above cap)");
                std::printf("| %.1f | %d | %.3f | %.3f | %s | %.2f %% of a core |\n", cap, count, c.free, c.used, error,
                            c.overhead * 100.0);
                std::fflush(stdout);
            }
        }
    }
    std::filesystem::remove_all(dir);
    return 0;
}
