// A long run of the program against churn: a command-line group held at a
// cap while about 1,000 short-lived busy processes a minute join it, with
// Automatic mode on. Checks all along that no process is left stopped, and
// after the program quits that nothing is stopped and its journal is gone.
// Reports the program's footprint at the start and the end.
//   SoakBenchmark [--minutes N] [--rate PER_MINUTE] [--cap CORES] [--life SECONDS]
//
// The group: a copy of bash named trevlin-soak leads a process group; every
// worker is forked by this program into that group, so the group is
// "cli:trevlin-soak" while the spawning itself is never held back.
#include "HeadlessTrevlin.h"

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

using namespace trevlin::bench;

namespace {

struct Options {
    double minutes = 10;
    double rate = 1000;  // workers a minute
    double cap = 1.0;
    double life = 1.0;  // wall seconds each worker spins
};

/// Spins until `life` wall seconds have passed, then exits.
[[noreturn]] void work(double life) {
    const double end = monotonic() + life;
    volatile unsigned long n = 0;
    while (monotonic() < end)
        for (int i = 0; i < 10000; ++i) n = n + 1;
    ::_exit(0);
}

/// Watches the group's processes for stops: how long each one stayed
/// stopped, and every stop longer than `stuckAfter`.
class StopWatch {
public:
    explicit StopWatch(double stuckAfter) : stuckAfter_(stuckAfter) {}

    void look(const std::vector<pid_t>& pids) {
        const double now = monotonic();
        std::lock_guard<std::mutex> g(m_);
        for (pid_t p : pids) {
            const bool stopped = stateOf(p) == 'T';
            auto it = since_.find(p);
            if (stopped && it == since_.end()) since_[p] = now;
            if (!stopped && it != since_.end()) end(p, now);
        }
        for (auto it = since_.begin(); it != since_.end();) {
            const double held = now - it->second;
            longest_ = std::max(longest_, held);
            if (held > stuckAfter_) stuck_.insert(it->first);
            ++it;
        }
        ++looks_;
    }
    void forget(pid_t p) {
        std::lock_guard<std::mutex> g(m_);
        if (since_.count(p)) end(p, monotonic());
    }
    double longest() {
        std::lock_guard<std::mutex> g(m_);
        return longest_;
    }
    size_t stuck() {
        std::lock_guard<std::mutex> g(m_);
        return stuck_.size();
    }
    long stops() {
        std::lock_guard<std::mutex> g(m_);
        return stops_;
    }
    long looks() {
        std::lock_guard<std::mutex> g(m_);
        return looks_;
    }

private:
    void end(pid_t p, double now) {
        longest_ = std::max(longest_, now - since_[p]);
        since_.erase(p);
        ++stops_;
    }
    std::mutex m_;
    double stuckAfter_;
    std::map<pid_t, double> since_;
    std::set<pid_t> stuck_;
    double longest_ = 0;
    long stops_ = 0;
    long looks_ = 0;
};

double childrenCpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_CHILDREN, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const double v = std::atof(argv[i + 1]);
        if (!std::strcmp(argv[i], "--minutes")) o.minutes = v;
        else if (!std::strcmp(argv[i], "--rate")) o.rate = v;
        else if (!std::strcmp(argv[i], "--cap")) o.cap = v;
        else if (!std::strcmp(argv[i], "--life")) o.life = v;
    }

    // The group's leader: an idle copy of bash in a process group of its own.
    char tmpl[] = "/tmp/trevlin-soak-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const std::string shell = std::string(tmpl) + "/trevlin-soak";
    fs::copy_file("/bin/bash", shell);
    fs::permissions(shell, fs::perms::owner_all);
    const pid_t leader = ::fork();
    if (leader == 0) {
        ::setpgid(0, 0);
        ::execl(shell.c_str(), "trevlin-soak", "-c", "while :; do sleep 1; done", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::setpgid(leader, leader);

    char settings[1024];
    std::snprintf(settings, sizeof settings, R"({
  "version": 2, "masterEnabled": true, "autoEnabled": true, "autoIncludeCommandLine": true,
  "welcomeShown": true,
  "rules": {"cli:trevlin-soak": {"mode": "custom", "maxCores": %.2f, "method": "strict",
            "alwaysEfficiency": false, "pauseCatchUp": true, "pauseSparesBusy": true}}
})",
                  o.cap);
    int status = 1;
    {
        HeadlessTrevlin trevlin(settings);
        sleepSeconds(5);
        const Footprint first = trevlin.footprint();

        std::mutex workersLock;
        std::set<pid_t> workers;
        StopWatch watch(2.0);
        std::atomic<bool> watching{true};
        std::thread watcher([&] {
            while (watching) {
                std::vector<pid_t> pids;
                {
                    std::lock_guard<std::mutex> g(workersLock);
                    pids.assign(workers.begin(), workers.end());
                }
                pids.push_back(leader);
                watch.look(pids);
                sleepSeconds(0.02);
            }
        });

        const double cpuBefore = childrenCpuSeconds();
        const double start = monotonic();
        const double every = 60.0 / o.rate;
        long started = 0, peakAlive = 0;
        double next = start, lastReport = start;
        while (monotonic() - start < o.minutes * 60) {
            if (monotonic() >= next) {
                next += every;
                const pid_t w = ::fork();
                if (w == 0) {
                    ::setpgid(0, leader);
                    work(o.life);
                }
                if (w > 0) {
                    ::setpgid(w, leader);
                    std::lock_guard<std::mutex> g(workersLock);
                    workers.insert(w);
                    ++started;
                }
            }
            {
                std::lock_guard<std::mutex> g(workersLock);
                for (auto it = workers.begin(); it != workers.end();) {
                    if (::waitpid(*it, nullptr, WNOHANG) == *it) {
                        watch.forget(*it);
                        it = workers.erase(it);
                    } else {
                        ++it;
                    }
                }
                peakAlive = std::max<long>(peakAlive, static_cast<long>(workers.size()));
            }
            if (monotonic() - lastReport >= 60) {
                lastReport = monotonic();
                const Footprint f = trevlin.footprint();
                std::printf("minute %.0f: %ld workers started, %.1f MB, %d threads, %d descriptors, longest stop %.2f s, "
                            "stuck %zu\n",
                            (lastReport - start) / 60, started, f.residentMB, f.threads, f.descriptors, watch.longest(),
                            watch.stuck());
                std::fflush(stdout);
            }
            sleepSeconds(std::max(0.0, std::min(0.005, next - monotonic())));
        }
        const double elapsed = monotonic() - start;
        const Footprint last = trevlin.footprint();
        // The workers left finish on their own; their CPU counts once reaped.
        for (;;) {
            std::lock_guard<std::mutex> g(workersLock);
            for (auto it = workers.begin(); it != workers.end();) {
                if (::waitpid(*it, nullptr, WNOHANG) == *it) it = workers.erase(it);
                else ++it;
            }
            if (workers.empty() || monotonic() - start > elapsed + 30) break;
        }
        const double cores = (childrenCpuSeconds() - cpuBefore) / (monotonic() - start);
        watching = false;
        watcher.join();

        const bool clean = trevlin.stop();
        // After the program is gone nothing of the group may stay stopped.
        std::vector<pid_t> stoppedAfter;
        sleepSeconds(0.5);
        for (pid_t p : processGroupMembers(leader))
            if (stateOf(p) == 'T') stoppedAfter.push_back(p);
        const auto journals = trevlin.journalFiles();

        std::printf("\n%.1f minutes, %ld workers started (%.0f a minute, each busy %.1f s), at most %ld at once\n",
                    elapsed / 60, started, started / (elapsed / 60), o.life, peakAlive);
        std::printf("group held at %.2f cores: used %.2f cores on average\n", o.cap, cores);
        std::printf("stops seen: %ld over %ld looks; longest %.2f s; stopped over 2 s: %zu; stopped after quit: %zu\n",
                    watch.stops(), watch.looks(), watch.longest(), watch.stuck(), stoppedAfter.size());
        std::printf("journal files after quit: %zu; clean exit: %s\n", journals.size(), clean ? "yes" : "NO");
        std::printf("Trevlin at start: %.1f MB, %d threads, %d descriptors; at end: %.1f MB, %d threads, %d descriptors\n",
                    first.residentMB, first.threads, first.descriptors, last.residentMB, last.threads, last.descriptors);
        status = watch.stuck() == 0 && stoppedAfter.empty() && journals.empty() && clean ? 0 : 1;
        if (status) std::printf("FAILED\n%s\n", trevlin.log().c_str());
    }
    for (pid_t p : processGroupMembers(leader)) ::kill(p, SIGCONT);
    ::kill(-leader, SIGKILL);
    ::waitpid(leader, nullptr, 0);
    std::error_code ec;
    fs::remove_all(tmpl, ec);
    return status;
}
