// The Trevlin program itself, from the outside: a real binary in a home
// folder of its own, a real busy job in a session and command-line group of
// its own, CPU use read
// from /proc and real signals. Every job is continued and killed at the end
// whatever happened, so no process is ever left stopped.
#include "Children.h"
#include "IsolatedLaunch.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace trevlin::test;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

/// The program under test: beside the test binaries in the build tree, or
/// where TREVLIN_BINARY says.
std::string trevlinBinary() {
    if (const char* p = std::getenv("TREVLIN_BINARY")) return p;
    return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "Sources/Trevlin/Trevlin").string();
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/// One run of the program with its own home, data and config folders, its
/// standard error in a file. Killed and reaped when it goes, if it still runs.
class Trevlin {
public:
    Trevlin(const TempDir& home, const std::string& logName, const EnvironmentChanges& changes = {},
            const std::string& binary = trevlinBinary(), const std::vector<std::string>& args = {})
        : log_(home.path() + "/" + logName) {
        home.mkdir("runtime");
        started_ = Clock::now();
        pid_ = launchIsolated(binary, home.path(), log_, changes, args);
    }
    ~Trevlin() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGCONT);
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Trevlin(const Trevlin&) = delete;
    Trevlin& operator=(const Trevlin&) = delete;

    pid_t pid() const { return pid_; }
    double age() const { return secondsSince(started_); }
    void signal(int sig) { ::kill(pid_, sig); }

    /// The wait status once the program has ended within `seconds`.
    std::optional<int> waitExit(double seconds) {
        auto start = Clock::now();
        while (!status_ && secondsSince(start) < seconds) {
            int status = 0;
            pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) status_ = status;
            else sleepFor(0.02);
        }
        return status_;
    }

    /// Sends `sig` and expects the program to end by itself with status 0.
    void expectCleanExit(int sig) {
        signal(sig);
        auto status = waitExit(15);
        ASSERT_TRUE(status.has_value()) << "did not end after signal " << sig << "\n" << log();
        EXPECT_TRUE(WIFEXITED(*status)) << log();
        EXPECT_EQ(WEXITSTATUS(*status), 0) << log();
    }

    std::string log() const { return readFile(log_); }
    /// Waits until standard error holds `text`.
    bool waitForLog(const std::string& text, double seconds) const {
        auto start = Clock::now();
        while (secondsSince(start) < seconds) {
            if (log().find(text) != std::string::npos) return true;
            sleepFor(0.1);
        }
        return false;
    }

private:
    std::string log_;
    pid_t pid_ = -1;
    std::optional<int> status_;
    Clock::time_point started_;
};

/// A copy of bash under a name of this test's own, so that the job forms a
/// command-line group ("cli:" + that name) that no other bash job on the
/// machine belongs to: a rule for it holds back nothing else.
struct JobShell {
    explicit JobShell(const TempDir& home) {
        name = "trevlin-job-" + std::to_string(::getpid());
        path = home.path() + "/" + name;
        fs::copy_file("/bin/bash", path);
        fs::permissions(path, fs::perms::owner_all);
    }
    std::string key() const { return "cli:" + name; }
    std::string name;
    std::string path;
};

/// Two busy loops under one shell in a session of their own. They stop
/// spinning, and only sleep, once `marker` exists.
pid_t startBusyJob(Children& children, const JobShell& shell, const std::string& marker) {
    std::string spin = "while [ ! -e '" + marker + "' ]; do :; done; while :; do sleep 0.2; done";
    std::string script = "spin() { " + spin + "; }; spin & spin & wait";
    pid_t job = children.spawn({shell.path, "-c", script}, true);
    // Both loops running.
    auto start = Clock::now();
    while (processGroupMembers(job).size() < 3 && secondsSince(start) < 5) sleepFor(0.02);
    return job;
}

double groupCpu(pid_t pgid) {
    double sum = 0;
    for (pid_t p : processGroupMembers(pgid)) sum += processCpuSeconds(p);
    return sum;
}

/// Average cores used by the group over `seconds`.
double measureCores(pid_t pgid, double seconds) {
    double before = groupCpu(pgid);
    auto start = Clock::now();
    sleepFor(seconds);
    return (groupCpu(pgid) - before) / secondsSince(start);
}

std::vector<pid_t> stoppedMembers(pid_t pgid) {
    std::vector<pid_t> out;
    for (pid_t p : processGroupMembers(pgid))
        if (processState(p) == 'T') out.push_back(p);
    return out;
}

/// True when no member of the group is seen stopped over `seconds`.
bool neverStopped(pid_t pgid, double seconds) {
    auto start = Clock::now();
    do {
        if (!stoppedMembers(pgid).empty()) return false;
        sleepFor(0.005);
    } while (secondsSince(start) < seconds);
    return true;
}

/// Settings with the main switch on and a strict rule of half a core for
/// the job: well below what the two loops get even on a busy machine, where
/// they may be left with little more than one core between them.
std::string strictRule(const JobShell& shell, double maxCores = 0.5) {
    char cap[32];
    std::snprintf(cap, sizeof cap, "%g", maxCores);
    return R"({"masterEnabled": true, "rules": {")" + shell.key() + R"(": {"mode": "custom", "maxCores": )" + cap +
           R"(, "method": "strict"}}})";
}

/// The guardian a program started, once it runs (0 when none within 5 s).
pid_t guardianOf(pid_t program) {
    auto start = Clock::now();
    do {
        for (pid_t child : childrenOf(program))
            if (readFile("/proc/" + std::to_string(child) + "/comm").rfind("trevlin-guardia", 0) == 0) return child;
        sleepFor(0.02);
    } while (secondsSince(start) < 5);
    return 0;
}

/// Waits until no member of the group is stopped; true when that came
/// within `seconds`.
bool noneStoppedWithin(pid_t pgid, double seconds) {
    auto start = Clock::now();
    while (!stoppedMembers(pgid).empty()) {
        if (secondsSince(start) > seconds) return false;
        sleepFor(0.005);
    }
    return true;
}

/// Freezes the program at a moment when it holds a process of the group
/// stopped (it can then continue nothing); false when that never came.
bool freezeWhileHolding(Trevlin& program, pid_t pgid) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        program.signal(SIGSTOP);
        sleepFor(0.01);
        if (!stoppedMembers(pgid).empty()) return true;
        program.signal(SIGCONT);
        sleepFor(0.013);
    }
    return false;
}

/// How many cores each thread of the process may run on.
int allowedCores(pid_t pid) {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(pid, sizeof set, &set) != 0) return -1;
    return CPU_COUNT(&set);
}

nlohmann::json settingsIn(const TempDir& home) {
    return nlohmann::json::parse(readFile(home.path() + "/data/Trevlin/settings.json"));
}

}  // namespace

TEST(TrevlinProgram, HoldsACommandLineGroupToItsCapAndLetsGoOnEachSignal) {
    const std::pair<int, const char*> signals[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};
    TempDir home;
    JobShell shell(home);
    Children children;
    pid_t job = startBusyJob(children, shell, home.path() + "/calm");
    bool measured = false;
    for (const auto& [sig, name] : signals) {
        SCOPED_TRACE(name);
        // Only some of the keys: the file written at the end must be complete.
        home.write("data/Trevlin/settings.json", strictRule(shell));
        Trevlin app(home, std::string("stderr-") + name);
        sleepFor(2.0);
        if (!measured) {
            // Two busy loops would use up to 2 cores; held, they average about 0.5.
            double cores = measureCores(job, 3.0);
            std::printf("held: %.3f cores\n", cores);
            EXPECT_LT(cores, 0.8);
            EXPECT_GT(cores, 0.15);
            measured = true;
        }
        ASSERT_FALSE(app.waitExit(0)) << app.log();
        const pid_t guardian = guardianOf(app.pid());
        EXPECT_NE(guardian, 0) << app.log();
        app.expectCleanExit(sig);
        EXPECT_TRUE(neverStopped(job, 0.3)) << "a process was left stopped after " << name;
        // Told that nothing is held, the guardian ended without a word.
        EXPECT_EQ(processState(guardian), '?');
        EXPECT_EQ(app.log().find("trevlin-guardian"), std::string::npos) << app.log();

        auto json = settingsIn(home);
        EXPECT_EQ(json.size(), 16u);
        EXPECT_EQ(json["version"], 2);
        EXPECT_EQ(json["rules"][shell.key()]["maxCores"], 0.5);
        EXPECT_FALSE(fs::exists(home.path() + "/data/Trevlin/journal-" + std::to_string(app.pid()) + ".json"));
    }
}

TEST(TrevlinProgram, NextStartContinuesWhatAKilledRunLeftStopped) {
    TempDir home;
    JobShell shell(home);
    Children children;
    pid_t job = startBusyJob(children, shell, home.path() + "/calm");
    // A low cap: on a machine busy with other work the two loops may get
    // less than half a core between them, and a job under its cap is never
    // stopped.
    home.write("data/Trevlin/settings.json", strictRule(shell, 0.1));
    pid_t killedPid = 0;
    std::vector<pid_t> leftStopped;
    {
        Trevlin app(home, "stderr-killed");
        // The guardian goes first, as when the whole session is killed.
        const pid_t guardian = guardianOf(app.pid());
        ASSERT_NE(guardian, 0) << app.log();
        ::kill(guardian, SIGKILL);
        sleepFor(2.0);
        // Freeze the program at a moment when it holds a process stopped,
        // then kill it: nothing of it can continue the process any more.
        ASSERT_TRUE(freezeWhileHolding(app, job)) << "the program never held a process stopped";
        leftStopped = stoppedMembers(job);
        killedPid = app.pid();
        app.signal(SIGKILL);
        ASSERT_TRUE(app.waitExit(5).has_value());
    }
    sleepFor(0.3);
    EXPECT_FALSE(stoppedMembers(job).empty()) << "the killed run should have left its processes stopped";
    EXPECT_TRUE(fs::exists(home.path() + "/data/Trevlin/journal-" + std::to_string(killedPid) + ".json"));

    // The next start, with limiting off, continues them at once and clears
    // the dead run's journal.
    home.write("data/Trevlin/settings.json", R"({"masterEnabled": false})");
    Trevlin next(home, "stderr-next");
    auto start = Clock::now();
    while (!stoppedMembers(job).empty() && secondsSince(start) < 5) sleepFor(0.01);
    EXPECT_TRUE(stoppedMembers(job).empty());
    EXPECT_TRUE(neverStopped(job, 0.5));
    EXPECT_FALSE(fs::exists(home.path() + "/data/Trevlin/journal-" + std::to_string(killedPid) + ".json"));
    next.expectCleanExit(SIGTERM);
}

TEST(TrevlinProgram, CorruptSettingsAreMovedAsideAndDefaultsWritten) {
    TempDir home;
    const std::string broken = R"({"masterEnabled": "yes", "rules": {})";
    home.write("data/Trevlin/settings.json", broken);
    Trevlin app(home, "stderr");
    auto start = Clock::now();
    std::vector<fs::path> asides;
    while (secondsSince(start) < 10) {
        asides.clear();
        for (const auto& e : fs::directory_iterator(home.path() + "/data/Trevlin"))
            if (e.path().filename().string().rfind("settings.invalid-", 0) == 0) asides.push_back(e.path());
        if (!asides.empty() && fs::exists(home.path() + "/data/Trevlin/settings.json")) break;
        sleepFor(0.05);
    }
    ASSERT_EQ(asides.size(), 1u);
    EXPECT_EQ(readFile(asides[0].string()), broken);
    const std::string name = asides[0].filename().string();
    // settings.invalid-2026-03-07T10-15-30Z.json
    EXPECT_EQ(name.size(), std::string("settings.invalid-2026-03-07T10-15-30Z.json").size()) << name;
    EXPECT_EQ(name.find(':'), std::string::npos);
    EXPECT_TRUE(app.waitForLog("Trevlin: settings.json could not be read; moved aside to " + name, 5)) << app.log();

    auto json = settingsIn(home);
    EXPECT_EQ(json.size(), 16u);
    EXPECT_EQ(json["masterEnabled"], false);
    EXPECT_EQ(json["autoEnabled"], true);
    EXPECT_EQ(json["autoTriggerCores"], 2.0);
    EXPECT_EQ(json["appearance"], "system");
    EXPECT_TRUE(json["rules"].empty());

    app.expectCleanExit(SIGTERM);
}

TEST(TrevlinProgram, AutomaticModeLimitsARememberedGroupAndReleasesItWhenItCalmsDown) {
    TempDir home;
    JobShell shell(home);
    Children children;
    const std::string marker = home.path() + "/calm";
    pid_t job = startBusyJob(children, shell, marker);
    // A low trigger: on a machine busy with other work the two loops may get
    // little more than a quarter of a core between them.
    home.write("data/Trevlin/settings.json", R"({
        "masterEnabled": true, "autoEnabled": true, "autoIncludeCommandLine": true,
        "autoTriggerCores": 0.1, "autoTriggerSeconds": 3, "autoLimitCores": 0.25,
        "autoDecisions": {")" + shell.key() + R"(": {"name": "job", "decision": "always"}}})");
    Trevlin app(home, "stderr");

    // Busy for the trigger time: limited, without a question. (Other busy
    // jobs on the machine may be asked about; this one never is.)
    ASSERT_TRUE(app.waitForLog("Trevlin auto: limiting " + shell.name + " to 0.25\n", 15)) << app.log();
    EXPECT_GE(app.age(), 3.0);
    EXPECT_EQ(app.log().find("asking about " + shell.name), std::string::npos);
    sleepFor(1.0);
    double held = measureCores(job, 2.5);
    std::printf("auto held: %.3f cores\n", held);
    EXPECT_LT(held, 0.5);

    // Calm: released once the limiter has had nothing to hold for a while.
    std::ofstream(marker) << "calm";
    ASSERT_TRUE(app.waitForLog("Trevlin auto: releasing " + shell.key() + "\n", 45)) << app.log();
    EXPECT_TRUE(neverStopped(job, 0.3));

    app.expectCleanExit(SIGTERM);
    EXPECT_TRUE(stoppedMembers(job).empty());
}

TEST(TrevlinProgram, TheGuardianLetsGoOfWhatAKilledHolderHeldWithoutANextStart) {
    // Pause mode holds only apps in the background, and a headless run knows
    // no front app: it is left out here.
    struct Row {
        const char* name;
        bool app;
        const char* method;
    };
    const Row rows[] = {{"Trevlin, strict", true, "strict"},
                        {"trevlinctl, strict", false, "strict"},
                        {"trevlinctl, smart", false, "smart"},
                        {"trevlinctl, efficiency cores", false, "ecores"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const bool demotes = std::string(row.method) == "ecores";
        if (demotes && ::sysconf(_SC_NPROCESSORS_ONLN) < 2) {
            std::printf("skipped: %s (one core: nothing to move to)\n", row.name);
            continue;
        }
        TempDir home;
        JobShell shell(home);
        Children children;
        pid_t job = startBusyJob(children, shell, home.path() + "/calm");
        const int allCores = allowedCores(job);
        std::vector<std::string> args;
        if (row.app) home.write("data/Trevlin/settings.json", strictRule(shell, 0.1));
        else args = {"limit", shell.key(), "--cores", "0.1", "--method", row.method};
        Trevlin holder(home, "stderr", {}, row.app ? trevlinBinary() : std::string(TREVLINCTL_PATH), args);
        const pid_t guardian = guardianOf(holder.pid());
        ASSERT_NE(guardian, 0) << holder.log();

        if (demotes) {
            auto start = Clock::now();
            auto anyDemoted = [&] {
                for (pid_t p : processGroupMembers(job))
                    if (allowedCores(p) < allCores) return true;
                return false;
            };
            while (!anyDemoted() && secondsSince(start) < 10) sleepFor(0.02);
            ASSERT_TRUE(anyDemoted()) << holder.log();
            holder.signal(SIGKILL);
            start = Clock::now();
            while (anyDemoted() && secondsSince(start) < 5) sleepFor(0.005);
            EXPECT_FALSE(anyDemoted()) << "a process was left on fewer cores";
        } else {
            sleepFor(1.5);
            ASSERT_TRUE(freezeWhileHolding(holder, job)) << "it never held a process stopped\n" << holder.log();
            holder.signal(SIGKILL);
            EXPECT_TRUE(noneStoppedWithin(job, 5)) << "a process was left stopped";
            EXPECT_TRUE(neverStopped(job, 0.5));
        }
        ASSERT_TRUE(holder.waitExit(5).has_value());
        const std::string journal = home.path() + "/data/Trevlin/journal-" + std::to_string(holder.pid()) + ".json";
        auto start = Clock::now();
        while ((fs::exists(journal) || processState(guardian) != '?') && secondsSince(start) < 5) sleepFor(0.01);
        EXPECT_FALSE(fs::exists(journal));
        EXPECT_EQ(processState(guardian), '?') << "the guardian did not end";
        EXPECT_TRUE(holder.waitForLog("trevlin-guardian: pid " + std::to_string(holder.pid()) + " ended without letting go", 2))
            << holder.log();
    }
}

TEST(TrevlinProgram, LosingTheXServerLeavesNothingHeld) {
    if (::system("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb is not installed";
    TempDir home;
    JobShell shell(home);
    Children children;
    pid_t job = startBusyJob(children, shell, home.path() + "/calm");
    int number = 90 + static_cast<int>(::getpid() % 100);
    while (fs::exists("/tmp/.X11-unix/X" + std::to_string(number)) || fs::exists("/tmp/.X" + std::to_string(number) + "-lock"))
        ++number;
    const std::string display = ":" + std::to_string(number);
    const pid_t xserver = children.spawn({"Xvfb", display, "-nolisten", "tcp"}, true);
    auto start = Clock::now();
    while (!fs::exists("/tmp/.X11-unix/X" + std::to_string(number)) && secondsSince(start) < 10) sleepFor(0.05);
    ASSERT_TRUE(fs::exists("/tmp/.X11-unix/X" + std::to_string(number))) << "Xvfb did not start";
    sleepFor(0.3);

    home.write("data/Trevlin/settings.json", strictRule(shell, 0.1));
    EnvironmentChanges environment{{"QT_QPA_PLATFORM", std::nullopt}, {"DISPLAY", display}};
    // Under AddressSanitizer: libxkbcommon-x11 hands strndup an atom name
    // bounded by its length, with no NUL after it, and the strict string
    // checks read on past it and abort the program as it connects.
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
        environment["ASAN_OPTIONS"] = std::string(asan) + ":strict_string_checks=0";
    Trevlin app(home, "stderr", environment);
    const std::string journal = home.path() + "/data/Trevlin/journal-" + std::to_string(app.pid()) + ".json";
    start = Clock::now();
    while (!fs::exists(journal) && secondsSince(start) < 15) sleepFor(0.02);
    ASSERT_TRUE(fs::exists(journal)) << "it never held the job\n" << app.log();
    ASSERT_EQ(app.log().find("running without"), std::string::npos) << app.log();

    children.kill(xserver);
    auto status = app.waitExit(15);
    ASSERT_TRUE(status.has_value()) << "it ran on without its X server\n" << app.log();
    std::printf("exit: %s %d\n", WIFEXITED(*status) ? "status" : "signal",
                WIFEXITED(*status) ? WEXITSTATUS(*status) : WTERMSIG(*status));
    EXPECT_TRUE(noneStoppedWithin(job, 5));
    EXPECT_TRUE(neverStopped(job, 0.5));
    EXPECT_FALSE(fs::exists(journal));
    // Xlib ends the process from whichever thread met the broken connection:
    // on the main thread the program's own shut-down lets go, elsewhere the
    // guardian does.
    std::printf("let go by: %s\n", app.log().find("trevlin-guardian") == std::string::npos ? "the shut-down" : "the guardian");
}

TEST(TrevlinProgram, ADisplayThatDoesNotWorkIsSaidOnceAndTheProgramRunsHeadless) {
    TempDir home;
    const std::string nowhere = ":" + std::to_string(200 + ::getpid() % 300);
    struct Row {
        EnvironmentChanges env;
        std::string line;
    };
    const Row rows[] = {
        {{{"DISPLAY", ""}}, "Trevlin: DISPLAY is set but empty, running without the tray icon and windows\n"},
        {{{"DISPLAY", nowhere}}, "Trevlin: no X server answers at DISPLAY=" + nowhere + ", running without the tray icon and windows\n"},
        {{{"WAYLAND_DISPLAY", ""}}, "Trevlin: WAYLAND_DISPLAY is set but empty, running without the tray icon and windows\n"},
        {{{"WAYLAND_DISPLAY", "wayland-none"}, {"DISPLAY", ""}},
         "Trevlin: no Wayland compositor answers at " + home.path() + "/runtime/wayland-none; DISPLAY is set but empty, "
         "running without the tray icon and windows\n"},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        EnvironmentChanges env = row.env;
        env["QT_QPA_PLATFORM"] = std::nullopt;
        Trevlin app(home, "stderr-" + std::to_string(++n), env);
        ASSERT_TRUE(app.waitForLog(row.line, 10)) << app.log();
        sleepFor(0.5);
        ASSERT_FALSE(app.waitExit(0)) << app.log();
        app.expectCleanExit(SIGTERM);
    }
}
