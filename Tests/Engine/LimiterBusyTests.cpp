// The limiter against real busy processes, measured from /proc rather than
// from the limiter's own figures: the cap holds (also over 200 processes too
// light each to count as busy), nothing is left stopped,
// pause mode stops and continues, ecores moves a process to the last core and
// back, a killed `trevlinctl limit` is undone by `trevlinctl recover`, nothing
// is stopped while the journal cannot be written, and a user's Ctrl-Z stands.
//
// Every busy loop runs in a process group of its own under a `Children`
// guard, which continues, kills and reaps it whatever happens.

#include "Children.h"
#include "FileNames.h"
#include "LimiterManager.h"
#include "MainThread.h"
#include "LinuxPlatform.h"
#include "ProcessUtil.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <mutex>

using namespace trevlin;
using namespace trevlin::test;

namespace {

/// The real Linux platform, except that the front app is whatever the test
/// activates: a test-only stand-in for the desktop, which a machine without
/// an X server cannot provide.
class FrontDrivenLinuxPlatform : public LinuxPlatform {
public:
    FrontApp startFrontTracking(std::function<void(FrontApp)> onChange) override {
        std::lock_guard<std::mutex> g(lock_);
        onChange_ = std::move(onChange);
        return FrontApp::none();
    }
    std::string frontUnknownReason() override { return {}; }
    /// Delivers an activation of `pid` as the desktop would.
    void activate(Pid pid) {
        std::function<void(FrontApp)> cb;
        {
            std::lock_guard<std::mutex> g(lock_);
            cb = onChange_;
        }
        if (cb) cb(FrontApp::of(pid));
    }

private:
    std::mutex lock_;
    std::function<void(FrontApp)> onChange_;
};

/// `count` busy loops under a shell that leads its own process group; the
/// shell itself only waits.
std::vector<pid_t> startLoops(Children& kids, int count, const std::string& shell = "/bin/sh") {
    std::string script;
    for (int i = 0; i < count; ++i) script += "(while :; do :; done) & ";
    script += "wait";
    const pid_t leader = kids.spawn({shell, "-c", script}, true);
    std::vector<pid_t> loops;
    for (int i = 0; i < 500 && static_cast<int>(loops.size()) < count; ++i) {
        sleepFor(0.01);
        loops.clear();
        for (pid_t p : processGroupMembers(leader))
            if (p != leader) loops.push_back(p);
    }
    return loops;
}

/// `count` busy loops forked straight from this process into a session of
/// their own, led by an idle process. They wait for each other before they
/// spin: a shell forking two hundred loops while the first ones already
/// spin takes longer than a test should.
std::vector<pid_t> startManyLoops(Children& kids, int count) {
    int ready[2];
    if (::pipe(ready) != 0) return {};
    const pid_t leader = ::fork();
    if (leader == 0) {
        ::setsid();
        for (int i = 0; i < count; ++i) {
            if (::fork() == 0) {
                ::close(ready[1]);
                char c;
                while (::read(ready[0], &c, 1) < 0 && errno == EINTR) {
                }
                for (;;) asm volatile("" ::: "memory");
            }
        }
        ::close(ready[0]);
        ::close(ready[1]);  // every loop sees the end of the pipe and starts
        for (;;) ::pause();
    }
    ::close(ready[0]);
    ::close(ready[1]);
    if (leader < 0) return {};
    kids.adopt(leader);
    std::vector<pid_t> loops;
    for (int i = 0; i < 1000 && static_cast<int>(loops.size()) < count; ++i) {
        sleepFor(0.01);
        loops.clear();
        for (pid_t p : processGroupMembers(leader))
            if (p != leader) loops.push_back(p);
    }
    return loops;
}

double cpuOf(const std::vector<pid_t>& pids) {
    double sum = 0;
    for (pid_t p : pids) sum += processCpuSeconds(p);
    return sum;
}

double monotonicSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::string cpusAllowed(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Cpus_allowed_list:", 0) == 0) return line.substr(line.find_first_not_of(" \t", 18));
    return "";
}

bool anyStopped(const std::vector<pid_t>& pids) {
    for (pid_t p : pids)
        if (processState(p) == 'T') return true;
    return false;
}

bool waitFor(const std::function<bool()>& condition, double seconds) {
    const double end = monotonicSeconds() + seconds;
    while (monotonicSeconds() < end) {
        if (condition()) return true;
        sleepFor(0.005);
    }
    return condition();
}

std::vector<std::string> journalFiles(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& name : fileNames(dir))
        if (name.rfind("journal-", 0) == 0) out.push_back(name);
    return out;
}

class LimiterBusy : public ::testing::Test {
protected:
    std::shared_ptr<FrontDrivenLinuxPlatform> platform_ = std::make_shared<FrontDrivenLinuxPlatform>();
    std::shared_ptr<EngineContext> context = EngineContext::make(platform_);
    TempDir dir;
    Children kids;
};

TEST_F(LimiterBusy, StrictCapHoldsRealProcessesAndStopLeavesNothingStopped) {
    // Two loops in a session of their own. The scheduler shares the cores
    // fairly between sessions, so one more busy loop in another session, not
    // limited, shows what the job could get at most while other work shares
    // this machine.
    auto loops = startLoops(kids, 2);
    auto reference = startLoops(kids, 1);
    ASSERT_EQ(loops.size(), 2u);
    ASSERT_EQ(reference.size(), 1u);
    {
        LimiterManager manager(context, dir.path());
        manager.setRule(Rule(1.0, Method::strict, false, false, false), "cli:busy-loops", "busy loops",
                        [loops] { return std::vector<Pid>(loops.begin(), loops.end()); });
        sleepFor(3.0);  // the first second runs free, then the gain settles
        const double c0 = cpuOf(loops), r0 = cpuOf(reference), t0 = monotonicSeconds();
        sleepFor(5.0);
        const double elapsed = monotonicSeconds() - t0;
        const double used = (cpuOf(loops) - c0) / elapsed;
        const double share = (cpuOf(reference) - r0) / elapsed;
        // Never above the cap; below it only as far as other work on the
        // machine keeps the job from reaching it.
        EXPECT_LE(used, 1.1);
        EXPECT_GE(used, std::min(0.9, 0.9 * share)) << "a busy session got " << share << " cores";
        ASSERT_EQ(journalFiles(dir.path()).size(), 1u);
        manager.shutdown();
        for (pid_t p : loops) EXPECT_NE(processState(p), 'T') << p;
        EXPECT_TRUE(journalFiles(dir.path()).empty());
    }
}

TEST_F(LimiterBusy, TwoHundredLightProcessesStayUnderAStrictCap) {
    // `make -j200` on two cores: every process gets about 0.01 cores, far
    // under what counts as busy, and together they use every core.
    auto loops = startManyLoops(kids, 200);
    ASSERT_EQ(loops.size(), 200u);
    {
        LimiterManager manager(context, dir.path());
        manager.setRule(Rule(0.5, Method::strict, false, false, false), "cli:many-loops", "many loops",
                        [loops] { return std::vector<Pid>(loops.begin(), loops.end()); });
        sleepFor(4.0);  // the first second runs free, then the gain settles
        const double c0 = cpuOf(loops), t0 = monotonicSeconds();
        sleepFor(6.0);
        const double used = (cpuOf(loops) - c0) / (monotonicSeconds() - t0);
        EXPECT_LE(used, 0.6) << "the cap is 0.5 cores; " << manager.status("cli:many-loops")->summaryLine;
        manager.shutdown();
        EXPECT_FALSE(anyStopped(loops));
        EXPECT_TRUE(journalFiles(dir.path()).empty());
    }
}

TEST_F(LimiterBusy, PauseStopsTheAppAndAnActivationContinuesIt) {
    auto loops = startLoops(kids, 2);
    ASSERT_EQ(loops.size(), 2u);
    context->front().start();
    LimiterManager manager(context, dir.path());
    manager.setRule(Rule(1.0, Method::pause, false, false, false), "/usr/share/applications/busy-test.desktop",
                    "busy", [loops] { return std::vector<Pid>(loops.begin(), loops.end()); });
    ASSERT_TRUE(waitFor([&] { return processState(loops[0]) == 'T' && processState(loops[1]) == 'T'; }, 3.0));
    const double before = cpuOf(loops);
    sleepFor(1.0);
    EXPECT_LT(cpuOf(loops) - before, 0.05);

    // The activation itself continues them, before the limiter's next turn.
    platform_->activate(loops[1]);
    for (pid_t p : loops) EXPECT_NE(processState(p), 'T') << p;
    ASSERT_TRUE(waitFor([&] { return manager.status("/usr/share/applications/busy-test.desktop")->pauseState ==
                                     PauseState::inFront; },
                        2.0));
    sleepFor(0.5);
    EXPECT_FALSE(anyStopped(loops));

    // Another app in front: held again.
    platform_->activate(1);
    EXPECT_TRUE(waitFor([&] { return processState(loops[0]) == 'T' && processState(loops[1]) == 'T'; }, 2.0));
    manager.shutdown();
    EXPECT_FALSE(anyStopped(loops));
    EXPECT_TRUE(journalFiles(dir.path()).empty());
}

TEST_F(LimiterBusy, NothingIsStoppedUntilTheJournalCanBeWritten) {
    auto loops = startLoops(kids, 2);
    ASSERT_EQ(loops.size(), 2u);
    const std::string blocker = dir.write("blocked", "");
    const std::string key = "cli:busy-loops";
    LimiterManager manager(context, blocker + "/journal");
    manager.setRule(Rule(0.2, Method::strict, false, false, false), key, "busy loops",
                    [loops] { return std::vector<Pid>(loops.begin(), loops.end()); });
    EXPECT_FALSE(waitFor([&] { return anyStopped(loops); }, 3.0));
    EXPECT_EQ(manager.status(key)->summaryLine, "Not holding: the journal cannot be written: Not a directory");

    // Room again: held from the next try on, a second later at most.
    std::filesystem::remove(blocker);
    EXPECT_TRUE(waitFor([&] { return anyStopped(loops); }, 3.0));
    EXPECT_EQ(journalFiles(blocker + "/journal").size(), 1u);
    EXPECT_TRUE(waitFor([&] { return manager.status(key)->notHolding.empty(); }, 2.0));
    manager.shutdown();
    EXPECT_FALSE(anyStopped(loops));
}

/// A shell job: a busy loop under a shell that leads a process group of its
/// own within this session, as a terminal's job is. Ctrl-Z stops such a
/// group; an orphaned one, as `startLoops` makes, would ignore it. Returns
/// the shell (the group) and the loop.
std::pair<pid_t, pid_t> startJob(Children& kids) {
    const pid_t shell = ::fork();
    if (shell == 0) {
        ::setpgid(0, 0);
        ::signal(SIGTSTP, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execl("/bin/sh", "sh", "-c", "(while :; do :; done) & wait", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (shell < 0) return {-1, -1};
    ::setpgid(shell, shell);
    kids.adopt(shell);
    for (int i = 0; i < 500; ++i) {
        for (pid_t p : processGroupMembers(shell))
            if (p != shell) return {shell, p};
        sleepFor(0.01);
    }
    return {shell, -1};
}

TEST_F(LimiterBusy, CtrlZOnAHeldJobStandsUntilTheUserContinuesIt) {
    const auto [group, job] = startJob(kids);
    ASSERT_GT(job, 0);
    const std::string key = "cli:job";
    LimiterManager manager(context, dir.path());
    manager.setRule(Rule(0.3, Method::strict, false, false, false), key, "job", [job] { return std::vector<Pid>{job}; });
    ASSERT_TRUE(waitFor([&] { return processState(job) == 'T'; }, 5.0)) << manager.status(key)->summaryLine;
    sleepFor(0.5);

    // Ctrl-Z, wherever in its period it lands: it stays stopped.
    ::kill(-group, SIGTSTP);
    sleepFor(0.3);
    const double before = processCpuSeconds(job);
    bool ran = false;
    for (int i = 0; i < 200; ++i) {
        if (processState(job) != 'T') ran = true;
        sleepFor(0.01);
    }
    EXPECT_FALSE(ran);
    EXPECT_LT(processCpuSeconds(job) - before, 0.02);
    EXPECT_NE(manager.status(key)->summaryLine.find("1 process(es) stopped by you"), std::string::npos)
        << manager.status(key)->summaryLine;

    // `fg`: it runs and is held again.
    ::kill(-group, SIGCONT);
    EXPECT_TRUE(waitFor([&] {
        return processState(job) == 'T' && manager.status(key)->stoppedByUserCount == 0;
    }, 5.0));

    // Stopped by the user when the limiter lets go: it stays stopped.
    ::kill(-group, SIGTSTP);
    sleepFor(0.5);
    manager.shutdown();
    sleepFor(0.3);
    EXPECT_EQ(processState(job), 'T');
    EXPECT_TRUE(journalFiles(dir.path()).empty());
}

// A Wayland session with no compositor Trevlin can ask (a WAYLAND_DISPLAY
// with nothing behind it): the real platform cannot tell which app is in
// front, so a pause rule never stops the app, not even for a moment.
TEST(LimiterBusyWayland, AnUnknownFrontAppIsNeverStopped) {
    struct Session {
        std::vector<std::pair<std::string, std::string>> saved;
        Session() {
            for (const char* name : names)
                if (const char* v = std::getenv(name)) saved.emplace_back(name, v);
            for (const char* name : names) ::unsetenv(name);
            ::setenv("XDG_SESSION_TYPE", "wayland", 1);
            ::setenv("WAYLAND_DISPLAY", "trevlin-test-no-compositor", 1);
        }
        ~Session() {
            for (const char* name : names) ::unsetenv(name);
            for (const auto& [name, value] : saved) ::setenv(name.c_str(), value.c_str(), 1);
        }
        const std::vector<const char*> names = {"XDG_SESSION_TYPE", "WAYLAND_DISPLAY", "DISPLAY",
                                                 "XDG_CURRENT_DESKTOP", "SWAYSOCK", "I3SOCK",
                                                 "HYPRLAND_INSTANCE_SIGNATURE"};
    } session;
    Children kids;
    TempDir dir;
    auto loops = startLoops(kids, 2);
    ASSERT_EQ(loops.size(), 2u);
    auto context = EngineContext::make(std::make_shared<LinuxPlatform>());
    context->front().start();
    EXPECT_FALSE(context->front().known());
    EXPECT_EQ(context->front().unknownReason(), "in front or not: this desktop does not tell Trevlin");

    const std::string key = "/usr/share/applications/busy-test.desktop";
    LimiterManager manager(context, dir.path());
    manager.setRule(Rule(1.0, Method::pause, false, true, false), key, "busy",
                    [loops] { return std::vector<Pid>(loops.begin(), loops.end()); });
    const double end = monotonicSeconds() + 4.0;  // past the first looks and several turns
    bool everStopped = false;
    while (monotonicSeconds() < end && !everStopped) {
        everStopped = anyStopped(loops);
        sleepFor(0.005);
    }
    EXPECT_FALSE(everStopped);
    auto status = manager.status(key);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->pauseState, PauseState::spared);
    EXPECT_EQ(status->summaryLine.rfind("busy not paused: it is in front or not", 0), 0u) << status->summaryLine;
    manager.shutdown();
    EXPECT_FALSE(anyStopped(loops));
}

TEST_F(LimiterBusy, EcoresMovesTheHeaviestToTheLastCoreAndBack) {
    const int cores = static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
    if (cores < 2) GTEST_SKIP() << "one core: nowhere to move to";
    const std::string all = "0-" + std::to_string(cores - 1);
    const std::string last = std::to_string(cores - 1);
    auto loops = startLoops(kids, 2);
    ASSERT_EQ(loops.size(), 2u);
    for (pid_t p : loops) ASSERT_EQ(cpusAllowed(p), all);

    const std::string key = "cli:busy-loops";
    LimiterManager manager(context, dir.path());
    auto targets = [loops] { return std::vector<Pid>(loops.begin(), loops.end()); };
    manager.setRule(Rule(0.3, Method::ecores, false, false, false), key, "busy loops", targets);
    auto demoted = [&] {
        int n = 0;
        for (pid_t p : loops) n += cpusAllowed(p) == last;
        return n;
    };
    ASSERT_TRUE(waitFor([&] { return demoted() >= 1; }, 4.0));
    for (const auto& e : manager.journal().entries()) EXPECT_TRUE(e.demoted);
    EXPECT_FALSE(anyStopped(loops));  // ecores never stops anything

    // Room again under a high cap: back onto every core, one a second.
    manager.setRule(Rule(8.0, Method::ecores, false, false, false), key, "busy loops", targets);
    EXPECT_TRUE(waitFor([&] { return demoted() == 0; }, 5.0));
    for (pid_t p : loops) EXPECT_EQ(cpusAllowed(p), all) << p;
    manager.shutdown();
    EXPECT_TRUE(journalFiles(dir.path()).empty());
}

/// One run of the command-line tool in the background; killed and reaped at
/// the end unless the test reaped it.
class ToolRun {
public:
    /// With `output`, standard output goes to that file.
    explicit ToolRun(const std::vector<std::string>& argv, const std::string& output = "") {
        pid_ = ::fork();
        if (pid_ == 0) {
            if (!output.empty()) {
                const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0 || ::dup2(fd, 1) < 0) ::_exit(126);
            }
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
    }
    ~ToolRun() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    pid_t pid() const { return pid_; }
    /// Waits for the tool to end; returns its wait status.
    int wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
};

/// The command-line tool, run with its data folder in a temporary folder.
class Trevlinctl : public ::testing::Test {
protected:
    std::vector<std::string> tool(std::vector<std::string> args) {
        std::vector<std::string> argv{"/usr/bin/env", "XDG_DATA_HOME=" + home.path(), TREVLINCTL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }
    /// Runs to completion; returns the exit status and standard output.
    /// With `withErrors`, standard error is read along with it.
    int run(std::vector<std::string> args, std::string* out = nullptr, bool withErrors = false) {
        std::string cmd;
        for (const auto& a : tool(std::move(args))) cmd += "'" + a + "' ";
        FILE* f = ::popen((cmd + (withErrors ? "2>&1" : "2>/dev/null")).c_str(), "r");
        std::string text;
        char buf[4096];
        while (size_t n = std::fread(buf, 1, sizeof buf, f)) text.append(buf, n);
        int status = ::pclose(f);
        if (out) *out = text;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    /// A copy of the shell under a name of this test's own, so that the
    /// group key "cli:<name>" matches this job and nobody else's.
    std::string uniqueShell() {
        const std::string path = bin.path() + "/trevjob" + std::to_string(::getpid());
        std::filesystem::copy_file("/bin/dash", path);
        std::filesystem::permissions(path, std::filesystem::perms::owner_all);
        return path;
    }
    std::string journalDir() { return home.path() + "/Trevlin"; }

    TempDir home;
    TempDir bin;
    Children kids;
};

TEST_F(Trevlinctl, BadArgumentsExitWithTwo) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"limit"},
             {"limit", "cli:x"},
             {"limit", "cli:x", "--cores", "0"},
             {"limit", "cli:x", "--cores", "abc"},
             {"limit", "cli:x", "--cores", "1", "--method", "fast"},
             {"limit", "cli:x", "--cores", "1", "--period"},
             {"limit", "relative.desktop", "--cores", "1"},
             {"limit", "cli:x", "--cores", "1", "--frobnicate"},
             {"recover", "extra"},
         })
        EXPECT_EQ(run(args), 2) << args.size();
}

TEST_F(Trevlinctl, CoresArePlainDecimalsUpToTheMachinesCores) {
    const std::string tooMany = std::to_string(::sysconf(_SC_NPROCESSORS_ONLN) + 1);
    const std::vector<std::pair<std::string, bool>> cases = {
        {"1", true},     {"0.5", true},  {"0.25", true},  {"1.0", true},
        {"0", false},    {"0.0", false}, {"-1", false},   {"+1", false},  {"0x10", false}, {" 1", false},
        {"1 ", false},   {"1e308", false}, {"1e0", false}, {"inf", false}, {"nan", false}, {".5", false},
        {"1.", false},   {"1.2.3", false}, {"", false},   {"abc", false}, {tooMany, false},
    };
    for (const auto& [cores, good] : cases) {
        // A bad method after good cores: the tool stops at the method.
        std::string out;
        EXPECT_EQ(run({"limit", "cli:x", "--cores", cores, "--method", "fast"}, &out, true), 2) << cores;
        EXPECT_EQ(out.find("--cores needs") == std::string::npos, good) << "\"" << cores << "\": " << out;
    }
}

TEST_F(Trevlinctl, KilledWhileItsJournalCannotBeWrittenItLeftNothingStopped) {
    // The data folder is a file: no journal can be written, even as root.
    std::ofstream(journalDir()) << "not a folder";
    const std::string shell = uniqueShell();
    auto loops = startLoops(kids, 2, shell);
    ASSERT_EQ(loops.size(), 2u);
    const std::string output = bin.path() + "/out";
    ToolRun tool(this->tool({"limit", "cli:" + lastPathComponent(shell), "--cores", "0.1", "--method", "strict"}),
                 output);
    // Well past the first second, when it would have held them.
    EXPECT_FALSE(waitFor([&] { return anyStopped(loops); }, 4.0));
    ::kill(tool.pid(), SIGKILL);
    tool.wait();
    EXPECT_FALSE(anyStopped(loops));
    std::ifstream in(output);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Not holding: the journal cannot be written: Not a directory\n"), std::string::npos) << text;
}

TEST_F(Trevlinctl, InterruptRestoresEverythingAndExitsZero) {
    const std::string shell = uniqueShell();
    auto loops = startLoops(kids, 2, shell);
    ASSERT_EQ(loops.size(), 2u);
    ToolRun tool(this->tool({"limit", "cli:" + lastPathComponent(shell), "--cores", "0.2", "--method", "strict"}));
    ASSERT_TRUE(waitFor([&] { return anyStopped(loops); }, 5.0));
    ::kill(tool.pid(), SIGINT);
    const int status = tool.wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(anyStopped(loops));
    EXPECT_TRUE(journalFiles(journalDir()).empty());
}

TEST_F(Trevlinctl, RecoverContinuesWhatAKilledLimitLeftStopped) {
    const std::string shell = uniqueShell();
    auto loops = startLoops(kids, 2, shell);
    ASSERT_EQ(loops.size(), 2u);
    ToolRun tool(this->tool({"limit", "cli:" + lastPathComponent(shell), "--cores", "0.1", "--method", "strict"}));
    // Its guardian goes first, as when the whole session is killed: the tool
    // starts one and nothing else.
    ASSERT_TRUE(waitFor([&] { return childrenOf(tool.pid()).size() == 1; }, 5.0));
    const pid_t guardian = childrenOf(tool.pid())[0];
    ::kill(guardian, SIGKILL);
    ASSERT_TRUE(waitFor([&] { return childrenOf(tool.pid()).empty() || processState(guardian) == 'Z'; }, 5.0));
    // Killed the moment it holds a loop stopped (most of each period at 0.1 cores).
    ASSERT_TRUE(waitFor([&] { return processState(loops[0]) == 'T'; }, 5.0));
    ::kill(tool.pid(), SIGKILL);
    tool.wait();
    EXPECT_TRUE(anyStopped(loops));
    ASSERT_EQ(journalFiles(journalDir()).size(), 1u);

    std::string out;
    EXPECT_EQ(run({"recover"}, &out), 0);
    EXPECT_EQ(out, "restored 2 process(es)\n");
    EXPECT_FALSE(anyStopped(loops));
    EXPECT_TRUE(journalFiles(journalDir()).empty());
}

}  // namespace
