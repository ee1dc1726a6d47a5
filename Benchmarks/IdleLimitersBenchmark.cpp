// What limiting costs Trevlin itself when rules wait for apps that do not
// run, and when one app is held, with and without many processes on the
// machine.
//
// For 0 and N (default 1,000) extra sleeping processes, each scenario builds
// a `LimiterManager` on the real platform and measures this process's own CPU
// time (every thread: limiters, the manager, the main thread asleep) over a
// window, in cores:
//   - no rules;
//   - 20 idle rules: 10 apps (desktop keys) and 10 command-line groups that
//     have no process;
//   - one held app: a command-line group (a launcher under a name of its own
//     and one busy loop it leads) held to 0.5 cores by a strict rule, found
//     by scanning like any rule from the settings;
//   - the held app and the 20 idle rules together.
// One engine context serves every scenario and has known every process for
// 75 s before the first window, as in an app that has run for a while. Before each window the
// rules settle for 3 s. The load average is shown
// next to each figure: other work on the machine slows the limiter's
// wake-ups but not the CPU it spends.
//
//   IdleLimitersBenchmark [window-seconds (default 20)] [extra-processes (default 1000)]

#include "BenchmarkSupport.h"
#include "LimiterManager.h"
#include "LinuxPlatform.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace trevlin;
using namespace trevlin::bench;

namespace {

/// A command-line job: a launcher running a copy of `sleep` under a name of
/// its own, leading a process group with one busy loop in it. Continued,
/// killed and reaped when this goes.
class HeldJob {
public:
    HeldJob(const std::string& dir, const std::string& name) {
        launcherPath_ = dir + "/" + name;
        std::filesystem::copy_file("/bin/sleep", launcherPath_, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::permissions(launcherPath_, std::filesystem::perms::owner_all);
        leader_ = ::fork();
        if (leader_ == 0) {
            ::setpgid(0, 0);
            ::execl(launcherPath_.c_str(), name.c_str(), "infinity", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::setpgid(leader_, leader_);
        loop_ = ::fork();
        if (loop_ == 0) {
            ::setpgid(0, leader_);
            for (;;) asm volatile("" ::: "memory");
        }
        ::setpgid(loop_, leader_);
        sleepSeconds(0.2);  // the launcher's exec is done
    }
    ~HeldJob() {
        ::kill(-leader_, SIGCONT);
        ::kill(-leader_, SIGKILL);
        ::waitpid(leader_, nullptr, 0);
        ::waitpid(loop_, nullptr, 0);
        std::filesystem::remove(launcherPath_);
    }

private:
    std::string launcherPath_;
    pid_t leader_ = 0;
    pid_t loop_ = 0;
};

struct Scenario {
    const char* name;
    bool idle;
    bool held;
};

struct Figure {
    double cores = 0;
    double loadBefore = 0;
    double loadAfter = 0;
    double stopSeconds = 0;
};

Figure measure(const std::shared_ptr<EngineContext>& context, const Scenario& s, double window,
               const std::string& dir) {
    const std::string journals = dir + "/journals";
    std::filesystem::create_directories(journals);
    std::unique_ptr<HeldJob> job;
    const std::string jobName = "trevbench-held-" + std::to_string(::getpid());
    if (s.held) job = std::make_unique<HeldJob>(dir, jobName);
    Figure f;
    {
        LimiterManager manager(context, journals);
        const Rule rule(0.5, Method::strict, false, false, false);
        if (s.idle) {
            for (int i = 0; i < 10; ++i) {
                manager.setRule(rule, "/usr/share/applications/trevbench-absent-" + std::to_string(i) + ".desktop");
                manager.setRule(rule, "cli:trevbench-absent-" + std::to_string(i));
            }
        }
        if (s.held) manager.setRule(rule, "cli:" + jobName);
        sleepSeconds(3.0);
        f.loadBefore = loadAverage();
        const double c0 = ownCpuSeconds(), t0 = monotonic();
        sleepSeconds(window);
        f.cores = (ownCpuSeconds() - c0) / (monotonic() - t0);
        f.loadAfter = loadAverage();
        const double s0 = monotonic();
        manager.shutdown();
        f.stopSeconds = monotonic() - s0;
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const double window = argc > 1 ? std::atof(argv[1]) : 20.0;
    const int extra = argc > 2 ? std::atoi(argv[2]) : 1000;
    const std::string dir =
        (std::filesystem::temp_directory_path() / ("trevlin-idle-bench-" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(dir);
    std::printf("%d online cores, window %.0f s per cell\n\n", LinuxPlatform().activeCores(), window);
    std::printf("| extra processes | processes in all | rules | Trevlin CPU | added by the rules | shut-down | load average |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    const Scenario scenarios[] = {
        {"none", false, false},
        {"20 idle", true, false},
        {"1 held", false, true},
        {"1 held + 20 idle", true, true},
    };
    for (int count : {0, extra}) {
        Sleepers sleepers(count);
        // One engine context for all scenarios, as in the app. A running app
        // pays some costs once per process, which the windows leave out: its
        // list of running apps looks a new pid up again every 2 s during the
        // pid's first 30 s, and its process table reads a new pid's facts
        // again 10 s after it appeared and once more within the minute after.
        auto context = EngineContext::make(std::make_shared<LinuxPlatform>());
        for (int second = 0; second < 75; ++second) {
            context->processes().snapshot();
            sleepSeconds(1.0);
        }
        const size_t all = context->platform().allPids().size();
        double none = 0;
        for (const auto& s : scenarios) {
            Figure f = measure(context, s, window, dir);
            if (!s.idle && !s.held) none = f.cores;
            std::printf("| %d | %zu | %s | %.4f cores | %+.4f cores | %.2f s | %.1f → %.1f |\n", count, all, s.name,
                        f.cores, f.cores - none, f.stopSeconds, f.loadBefore, f.loadAfter);
            std::fflush(stdout);
        }
    }
    std::filesystem::remove_all(dir);
    return 0;
}
