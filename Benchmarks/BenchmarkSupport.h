// What every benchmark program needs: clocks, its own CPU time, the load
// average, and sleeping children to fill the process table.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace trevlin::bench {

/// Monotonic seconds.
inline double monotonic() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

/// User + system CPU time of this process (every thread), seconds.
inline double ownCpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

/// The one-minute load average; -1 when unreadable.
inline double loadAverage() {
    double load[1] = {0};
    return ::getloadavg(load, 1) == 1 ? load[0] : -1;
}

inline void sleepSeconds(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

/// Children asleep in pause(); killed and reaped when this goes.
class Sleepers {
public:
    explicit Sleepers(int n) {
        for (int i = 0; i < n; ++i) {
            pid_t pid = ::fork();
            if (pid == 0) {
                for (;;) ::pause();
            }
            if (pid > 0) pids_.push_back(pid);
        }
    }
    ~Sleepers() {
        for (pid_t p : pids_) ::kill(p, SIGKILL);
        for (pid_t p : pids_) ::waitpid(p, nullptr, 0);
    }
    Sleepers(const Sleepers&) = delete;
    Sleepers& operator=(const Sleepers&) = delete;
    size_t size() const { return pids_.size(); }

private:
    std::vector<pid_t> pids_;
};

}  // namespace trevlin::bench
