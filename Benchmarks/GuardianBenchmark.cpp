// How soon the guardian lets go after its holder is killed: `trevlinctl
// limit` holds a busy command-line group under a strict cap, is frozen at a
// moment when it holds a process stopped, and is killed with SIGKILL. The
// delay runs from the kill to the moment /proc shows every process of the
// group running again. Reports the median and the worst of the rounds.
//   GuardianBenchmark [--rounds N]
#include "BenchmarkSupport.h"
#include "HeadlessTrevlin.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace trevlin::bench;

namespace {

bool anyStopped(pid_t pgid) {
    for (pid_t p : processGroupMembers(pgid))
        if (stateOf(p) == 'T') return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 20;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[++i]));

    char tmpl[] = "/tmp/trevlin-guardian-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const std::string home = tmpl;
    fs::create_directories(home + "/runtime");
    fs::create_directories(home + "/data");
    // A copy of bash under a name of its own: the group "cli:<name>" is this job alone.
    const std::string name = "trevlin-guard-bench";
    fs::copy_file("/bin/bash", home + "/" + name);
    fs::permissions(home + "/" + name, fs::perms::owner_all);
    const pid_t job = ::fork();
    if (job == 0) {
        ::setsid();
        const std::string shell = home + "/" + name;
        ::execl(shell.c_str(), name.c_str(), "-c", "spin() { while :; do :; done; }; spin & spin & wait", nullptr);
        ::_exit(127);
    }
    sleepSeconds(0.3);

    std::vector<double> delays;
    for (int round = 0; round < rounds; ++round) {
        const pid_t holder = trevlin::test::launchIsolated(TREVLINCTL_PATH, home, home + "/trevlinctl.log", {},
                                                           {"limit", "cli:" + name, "--cores", "0.1", "--method", "strict"});
        sleepSeconds(1.0);
        bool holding = false;
        for (int attempt = 0; attempt < 500 && !holding; ++attempt) {
            ::kill(holder, SIGSTOP);
            sleepSeconds(0.005);
            holding = anyStopped(job);
            if (!holding) {
                ::kill(holder, SIGCONT);
                sleepSeconds(0.007);
            }
        }
        const double killed = monotonic();
        ::kill(holder, SIGKILL);
        while (anyStopped(job) && monotonic() - killed < 10) {
        }
        const double delay = monotonic() - killed;
        ::waitpid(holder, nullptr, 0);
        if (!holding) {
            std::fprintf(stderr, "round %d: the holder never held a process stopped\n", round + 1);
            continue;
        }
        delays.push_back(delay);
        std::printf("round %2d: %.1f ms\n", round + 1, delay * 1000);
        std::fflush(stdout);
        sleepSeconds(0.2);
    }

    ::kill(-job, SIGCONT);
    ::kill(-job, SIGKILL);
    ::waitpid(job, nullptr, 0);
    std::error_code ec;
    fs::remove_all(home, ec);
    if (delays.empty()) return 1;
    std::sort(delays.begin(), delays.end());
    const double median = delays.size() % 2 ? delays[delays.size() / 2]
                                            : (delays[delays.size() / 2 - 1] + delays[delays.size() / 2]) / 2;
    std::printf("let-go delay after SIGKILL over %zu rounds: median %.1f ms, worst %.1f ms (load %.2f)\n", delays.size(),
                median * 1000, delays.back() * 1000, loadAverage());
    return delays.back() < 10 ? 0 : 1;
}
