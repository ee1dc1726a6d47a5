// Real child processes for tests. Every child started here is continued,
// killed and reaped when the guard goes away, whatever the test did, so no
// test ever leaves a process stopped or running.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace trevlin::test {

class Children {
public:
    Children() = default;
    ~Children();
    Children(const Children&) = delete;
    Children& operator=(const Children&) = delete;

    /// Starts `argv` (argv[0] looked up in PATH). With `newSession` the child
    /// calls setsid() first, so it leads a session and process group of its own.
    pid_t spawn(const std::vector<std::string>& argv, bool newSession = false);
    /// `sh -c script` in a new session.
    pid_t shell(const std::string& script, bool newSession = true);
    /// Adopts a pid started elsewhere (cleaned up like the others).
    void adopt(pid_t pid);
    /// Continues, kills and reaps one child and every process of its group
    /// (of its session, when it leads one).
    void kill(pid_t pid);
    /// Waits for a child to exit and reaps it; returns its wait status.
    int reap(pid_t pid);
    void killAll();
    const std::vector<pid_t>& pids() const { return pids_; }

private:
    std::vector<pid_t> pids_;
};

/// The process's state letter from /proc/<pid>/stat ('?' when gone).
char processState(pid_t pid);
/// utime + stime of a process in seconds ('s children not included).
double processCpuSeconds(pid_t pid);
/// Every pid whose process group is `pgid`.
std::vector<pid_t> processGroupMembers(pid_t pgid);
/// Every pid whose parent is `parent`.
std::vector<pid_t> childrenOf(pid_t parent);
/// Every pid whose session is `sid`.
std::vector<pid_t> sessionMembers(pid_t sid);
/// Sleeps on the real clock.
void sleepFor(double seconds);

}  // namespace trevlin::test
