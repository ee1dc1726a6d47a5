#include "Children.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace trevlin::test {

Children::~Children() { killAll(); }

pid_t Children::spawn(const std::vector<std::string>& argv, bool newSession) {
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        if (newSession) ::setsid();
        ::signal(SIGTTOU, SIG_DFL);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    if (pid > 0) pids_.push_back(pid);
    return pid;
}

pid_t Children::shell(const std::string& script, bool newSession) {
    return spawn({"/bin/sh", "-c", script}, newSession);
}

void Children::adopt(pid_t pid) { pids_.push_back(pid); }

static std::optional<pid_t> groupOf(pid_t pid) {
    pid_t g = ::getpgid(pid);
    if (g < 0) return std::nullopt;
    return g;
}

void Children::kill(pid_t pid) {
    auto group = groupOf(pid);
    // Continue first: a stopped process must never be left behind, and a
    // stopped process only dies of SIGKILL once the kernel gets to it.
    // A session leader's jobs may sit in groups of their own: every process
    // of its session goes with it.
    if (::getsid(pid) == pid) {
        for (pid_t m : sessionMembers(pid)) ::kill(m, SIGCONT);
        for (pid_t m : sessionMembers(pid))
            if (m != pid) ::kill(m, SIGKILL);
    }
    if (group && *group == pid) {
        for (pid_t m : processGroupMembers(pid)) ::kill(m, SIGCONT);
        ::kill(-pid, SIGCONT);
        ::kill(-pid, SIGKILL);
    }
    ::kill(pid, SIGCONT);
    ::kill(pid, SIGKILL);
    reap(pid);
    pids_.erase(std::remove(pids_.begin(), pids_.end(), pid), pids_.end());
}

int Children::reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

void Children::killAll() {
    auto copy = pids_;
    for (pid_t p : copy) kill(p);
    pids_.clear();
}

char processState(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return '?';
    return text[close + 2];
}

double processCpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string f;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && (fields >> f); ++i) {
        if (i == 14) utime = std::strtoull(f.c_str(), nullptr, 10);
        if (i == 15) stime = std::strtoull(f.c_str(), nullptr, 10);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

namespace {

/// Every numeric entry of /proc for which `keep` holds.
template <class Keep>
std::vector<pid_t> pidsWhere(Keep keep) {
    std::vector<pid_t> out;
    if (DIR* d = ::opendir("/proc")) {
        while (dirent* e = ::readdir(d)) {
            char* end = nullptr;
            long v = std::strtol(e->d_name, &end, 10);
            if (*end != '\0' || v <= 0) continue;
            if (keep(static_cast<pid_t>(v))) out.push_back(static_cast<pid_t>(v));
        }
        ::closedir(d);
    }
    return out;
}

}  // namespace

std::vector<pid_t> processGroupMembers(pid_t pgid) {
    return pidsWhere([pgid](pid_t pid) { return ::getpgid(pid) == pgid; });
}

std::vector<pid_t> childrenOf(pid_t parent) {
    return pidsWhere([parent](pid_t pid) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto close = text.rfind(')');
        if (close == std::string::npos) return false;
        std::istringstream fields(text.substr(close + 2));
        std::string state;
        long ppid = 0;
        return fields >> state >> ppid && ppid == parent;
    });
}

std::vector<pid_t> sessionMembers(pid_t sid) {
    return pidsWhere([sid](pid_t pid) { return ::getsid(pid) == sid; });
}

void sleepFor(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

}  // namespace trevlin::test
