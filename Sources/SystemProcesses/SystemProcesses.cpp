#include "SystemProcesses.h"

#include "Utf8.h"
#include "ProcessUtil.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>

extern char** environ;

namespace trevlin {

// ---------------------------------------------------------------- names

namespace SystemProcessNames {

Friendly friendly(const std::string& command) {
    // Only a path is cut to its file name: procps prints a task name, and a
    // kernel thread's name ("ksoftirqd/0", "kworker/u8:0-events") holds a
    // "/" that separates no folders.
    std::string base = command.rfind('/', 0) == 0 ? lastPathComponent(command) : command;
    if (base.empty()) base = command;
    // The programs of the helper's allow list, by file name. `ps` prints the
    // kernel's task name, the first 15 bytes of it, so a cut name counts too
    // and the row shows the whole one.
    static const std::vector<std::string> indexing = {
        "updatedb.plocate", "plocate-build", "updatedb.mlocate", "tracker-miner-fs-3", "tracker-extract-3",
        "localsearch-3", "localsearch-extractor-3", "tracker-miner-fs", "tracker-extract", "baloo_file",
        "baloo_file_extractor"};
    static const std::vector<std::string> backups = {"timeshift", "timeshift-gtk", "deja-dup", "deja-dup-monitor",
                                                     "duplicity", "borg", "borgbackup", "restic"};
    constexpr size_t taskNameBytes = 15;
    // A 15-byte name is most likely cut: "tracker-extract" is what
    // tracker-extract-3 shows, more often than Tracker 2's program.
    auto find = [&](const std::vector<std::string>& names) -> const std::string* {
        if (base.size() == taskNameBytes)
            for (const std::string& n : names)
                if (n.size() > taskNameBytes && n.compare(0, taskNameBytes, base) == 0) return &n;
        for (const std::string& n : names)
            if (n == base) return &n;
        return nullptr;
    };
    if (const std::string* n = find(indexing)) return {"File indexing (" + *n + ")", true};
    if (const std::string* n = find(backups)) return {"Backups (" + *n + ")", true};
    return {base, false};
}

}  // namespace SystemProcessNames

// ---------------------------------------------------------------- running ps

namespace {

double monotonicSeconds() {
    struct timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Reads what is available on `fd` until end of file or `deadline`; true at end of file.
bool drainUntil(int fd, std::string& out, double deadline) {
    char buf[65536];
    for (;;) {
        double left = deadline - monotonicSeconds();
        if (left <= 0) return false;
        struct pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(std::ceil(left * 1000)));
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) continue;  // the loop re-checks the deadline
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return true;  // the pipe is unusable: treat as the end
        }
        if (n == 0) return true;
        out.append(buf, static_cast<size_t>(n));
    }
}

// Reaps `pid` if it exits before `deadline`; its wait status, or nothing.
std::optional<int> reapUntil(pid_t pid, double deadline) {
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return status;
        if (r < 0 && errno != EINTR) return std::nullopt;
        if (monotonicSeconds() >= deadline) return std::nullopt;
        struct timespec ts{0, 5'000'000};
        ::nanosleep(&ts, nullptr);
    }
}

void signalGroup(pid_t pid, int sig) {
    // The program leads its own process group, so anything it started goes too.
    if (::kill(-pid, sig) != 0) ::kill(pid, sig);
}

}  // namespace

std::optional<std::string> runProgram(const std::string& executable, const std::vector<std::string>& args,
                                      double timeout) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, executable.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        return std::nullopt;
    }

    std::string out;
    const double deadline = monotonicSeconds() + std::max(0.0, timeout);
    std::optional<int> status;
    if (drainUntil(fds[0], out, deadline)) status = reapUntil(pid, deadline);
    if (!status) {
        // Overran: ask it to stop, give it a second, then make sure.
        signalGroup(pid, SIGTERM);
        const double grace = monotonicSeconds() + 1.0;
        drainUntil(fds[0], out, grace);
        if (!reapUntil(pid, grace)) {
            signalGroup(pid, SIGKILL);
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        ::close(fds[0]);
        return std::nullopt;
    }
    ::close(fds[0]);
    if (!WIFEXITED(*status) || WEXITSTATUS(*status) != 0 || out.empty()) return std::nullopt;
    return sanitizeUtf8(out);
}

// ---------------------------------------------------------------- parsing

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The next blank-separated field of `s` from `pos`; empty at the end.
std::string_view nextField(std::string_view s, size_t& pos) {
    while (pos < s.size() && isBlank(s[pos])) ++pos;
    size_t start = pos;
    while (pos < s.size() && !isBlank(s[pos])) ++pos;
    return s.substr(start, pos - start);
}

std::optional<double> decimal(std::string_view text) {
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (!(c >= '0' && c <= '9') && c != '.') return std::nullopt;
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

}  // namespace

std::optional<double> SystemProcessSampler::parseCPUTime(std::string_view text) {
    double days = 0;
    std::string_view rest = text;
    if (auto dash = text.find('-'); dash != std::string_view::npos) {
        auto d = decimal(text.substr(0, dash));
        if (!d) return std::nullopt;
        days = *d * 86400;
        rest = text.substr(dash + 1);
    }
    double total = 0;
    size_t start = 0;
    for (;;) {
        size_t colon = rest.find(':', start);
        auto piece = decimal(rest.substr(start, colon == std::string_view::npos ? rest.npos : colon - start));
        if (!piece) return std::nullopt;
        total = total * 60 + *piece;
        if (colon == std::string_view::npos) break;
        start = colon + 1;
    }
    // Pieces of hundreds of digits each fit a double, their sum may not: an
    // infinite time would make every rate infinite or NaN.
    const double seconds = days + total;
    if (!std::isfinite(seconds)) return std::nullopt;
    return seconds;
}

std::optional<SystemProcessSampler::ParsedLine> SystemProcessSampler::parse(std::string_view line) {
    size_t pos = 0;
    std::string_view pidText = nextField(line, pos);
    int64_t pid = 0;
    auto [end, ec] = std::from_chars(pidText.data(), pidText.data() + pidText.size(), pid);
    if (pidText.empty() || ec != std::errc() || end != pidText.data() + pidText.size() || pid < INT32_MIN ||
        pid > INT32_MAX)
        return std::nullopt;
    if (nextField(line, pos).empty()) return std::nullopt;  // uid: present, not used
    std::string_view user = nextField(line, pos);
    if (user.empty()) return std::nullopt;
    auto cpu = parseCPUTime(nextField(line, pos));
    if (!cpu) return std::nullopt;
    while (pos < line.size() && isBlank(line[pos])) ++pos;
    std::string_view command = line.substr(pos);
    if (command.empty()) return std::nullopt;
    return ParsedLine{static_cast<Pid>(pid), std::string(user), *cpu, std::string(command)};
}

// ---------------------------------------------------------------- sampling

SystemProcessSampler::SystemProcessSampler(Platform& platform)
    : SystemProcessSampler(psRunner(), [&platform] { return now(platform); }, [&platform] { return platform.wallClock(); }) {}

SystemProcessSampler::SystemProcessSampler(Runner runner, Clock monotonic, Clock wallClock)
    : runner_(std::move(runner)),
      monotonic_(monotonic ? std::move(monotonic) : Clock([] {
          return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
      })),
      wallClock_(wallClock ? std::move(wallClock) : Clock([] {
          return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
      })) {}

SystemProcessSampler::Runner SystemProcessSampler::psRunner(const std::string& executable) {
    return [executable](double timeout) {
        return runProgram(executable, {"-axo", "pid=,uid=,user=,cputime=,comm="}, timeout);
    };
}

void SystemProcessSampler::reset() {
    prev_.clear();
    prevTime_ = 0;
}

std::optional<SystemBreakdown> SystemProcessSampler::sample(const std::set<Pid>& excluding, double timeout) {
    const double t0 = monotonic_();
    std::optional<std::string> text = runner_(timeout);
    if (!text) return std::nullopt;
    const double t1 = monotonic_();
    ++runs_;

    std::map<Pid, Rec> current;
    std::vector<ParsedLine> rows;
    size_t start = 0;
    while (start < text->size()) {
        size_t nl = text->find('\n', start);
        if (nl == std::string::npos) nl = text->size();
        if (nl > start) {
            if (auto p = parse(std::string_view(*text).substr(start, nl - start))) {
                current[p->pid] = Rec{p->cpuSeconds, p->command};
                rows.push_back(std::move(*p));
            }
        }
        start = nl + 1;
    }

    const double time = (t0 + t1) / 2;
    const double interval = time - prevTime_;
    SystemBreakdown out;
    out.timestamp = wallClock_();
    if (prevTime_ > 0 && interval > 0.5 && interval < 60) {
        out.interval = interval;
        for (const ParsedLine& row : rows) {
            if (excluding.count(row.pid)) continue;
            auto before = prev_.find(row.pid);
            // A reused pid or a counter that went down gives no rate.
            if (before == prev_.end() || before->second.command != row.command || before->second.cpu > row.cpuSeconds)
                continue;
            double cores = (row.cpuSeconds - before->second.cpu) / interval;
            if (!(cores > 0.0005)) continue;
            auto names = SystemProcessNames::friendly(row.command);
            out.processes.push_back(SystemProcess{row.pid, row.user, row.command, names.name, cores, names.needsHelper});
        }
        std::sort(out.processes.begin(), out.processes.end(), [](const SystemProcess& a, const SystemProcess& b) {
            return a.cores != b.cores ? a.cores > b.cores : a.pid < b.pid;
        });
    }
    prev_ = std::move(current);
    prevTime_ = time;
    return out;
}

}  // namespace trevlin
