#include "SystemProcesses.h"
#include "RealPlatform.h"

#include "Children.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <fstream>
#include <thread>

using namespace trevlin;
using Parsed = SystemProcessSampler::ParsedLine;

namespace {

// An executable shell script in the folder.
std::string script(const test::TempDir& dir, const std::string& name, const std::string& body) {
    std::string path = dir.write(name, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
    return path;
}

// The first line of a file the script wrote, as a pid.
pid_t pidIn(const test::TempDir& dir, const std::string& name) {
    std::ifstream in(dir.path() + "/" + name);
    pid_t pid = -1;
    in >> pid;
    return pid;
}

double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Gone, or a zombie nobody has reaped yet: either way it runs no more.
bool notRunning(pid_t pid) {
    char state = test::processState(pid);
    return state == '?' || state == 'Z';
}

// Feeds scripted outputs and clock readings to a sampler.
struct Script {
    std::deque<std::optional<std::string>> outputs;
    std::deque<double> clock;
    SystemProcessSampler sampler{[this](double) {
                                     auto o = outputs.front();
                                     outputs.pop_front();
                                     return o;
                                 },
                                 [this] {
                                     double t = clock.front();
                                     clock.pop_front();
                                     return t;
                                 },
                                 [] { return 1.7e9; }};

    std::optional<SystemBreakdown> run(double start, std::optional<std::string> output,
                                       const std::set<Pid>& excluding = {}) {
        outputs.push_back(std::move(output));
        clock.clear();  // a failed run reads the clock only once
        clock.push_back(start);
        clock.push_back(start + 0.5);  // the run takes half a second
        return sampler.sample(excluding, 4);
    }
};

std::vector<std::pair<Pid, double>> rates(const SystemBreakdown& b) {
    std::vector<std::pair<Pid, double>> out;
    for (const auto& p : b.processes) out.emplace_back(p.pid, p.cores);
    return out;
}

}  // namespace

TEST(SystemProcessSampler, ParsesLines) {
    struct Case {
        std::string line;
        std::optional<Parsed> expect;
    };
    const std::vector<Case> cases = {
        {"  123     0 root  1-00:00:01.00   /usr/libexec/some daemon", Parsed{123, "root", 86401, "/usr/libexec/some daemon"}},
        {"1\t0\troot\t00:00:02\tprocess_api", Parsed{1, "root", 2, "process_api"}},
        {"4242 1000 alice 12:34.56 Web Content ", Parsed{4242, "alice", 754.56, "Web Content "}},
        {"  123     0 root  1-00:00:01.00", std::nullopt},
        {"  123     0 root  1-00:00:01.00   ", std::nullopt},
        {"123 0 root 1:xx.0 /bin/x", std::nullopt},
        {"12a 0 root 1:00 /bin/x", std::nullopt},
        {"2147483648 0 root 1:00 /bin/x", std::nullopt},
        {"123", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(SystemProcessSampler::parse(c.line), c.expect);
    }
}

TEST(SystemProcessSampler, ParsesCPUTimes) {
    const std::vector<std::pair<std::string, std::optional<double>>> cases = {
        {"12:34.56", 754.56},     {"1-02:03:04.50", 93784.5}, {"00:00:02", 2.0}, {"3-00:00:00", 259200.0},
        {"5", 5.0},               {"1:xx.0", std::nullopt},   {"", std::nullopt}, {"1::2", std::nullopt},
        {":5", std::nullopt},     {"x-1:00", std::nullopt},   {"1-", std::nullopt}, {"-1:00", std::nullopt},
        {"1:-2", std::nullopt},   {"1.2.3", std::nullopt},
        // Each piece fits a double, the whole does not.
        {std::string(308, '9') + ":" + std::string(308, '9'), std::nullopt},
    };
    for (const auto& [text, expect] : cases) {
        SCOPED_TRACE(text);
        auto got = SystemProcessSampler::parseCPUTime(text);
        ASSERT_EQ(got.has_value(), expect.has_value());
        if (got) {
            EXPECT_NEAR(*got, *expect, 1e-9);
        }
    }
}

TEST(SystemProcessSampler, RatesBetweenRuns) {
    Script s;
    auto first = s.run(100, std::string("  10 0 root 00:10.00 /usr/sbin/alpha\n"
                                        "  11 0 root 00:01.000 /usr/sbin/idle\n"
                                        "  12 0 root 00:01.00 /usr/sbin/gamma\n"
                                        "  13 0 root 00:05.00 /usr/sbin/old\n"
                                        "  14 0 root 00:09.00 /usr/sbin/shrinking\n"
                                        "  16 0 root 00:01.00 /usr/sbin/excluded\n"
                                        "  17 0 user 00:01.00 tracker-miner-f\n"));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->interval, 0);
    EXPECT_TRUE(first->processes.empty());
    EXPECT_EQ(s.sampler.runs(), 1);

    auto second = s.run(105, std::string("garbage line\n"
                                         "\n"
                                         "  10 0 root 00:12.50 /usr/sbin/alpha\n"
                                         "  11 0 root 00:01.001 /usr/sbin/idle\n"
                                         "  12 0 root 00:03.50 /usr/sbin/gamma\n"
                                         "  13 0 root 00:09.00 /usr/sbin/new\n"
                                         "  14 0 root 00:08.00 /usr/sbin/shrinking\n"
                                         "  15 0 root 00:03.00 /usr/sbin/born\n"
                                         "  16 0 root 00:09.00 /usr/sbin/excluded\n"
                                         "  17 0 user 00:02.00 tracker-miner-f\n"),
                         {16});
    ASSERT_TRUE(second);
    EXPECT_EQ(second->interval, 5.0);
    EXPECT_EQ(second->timestamp, 1.7e9);
    // Equal cores are ordered by pid; 0.0002 cores is left out; a reused pid,
    // a counter that went down, a new pid and an excluded pid get no rate.
    EXPECT_EQ(rates(*second), (std::vector<std::pair<Pid, double>>{{10, 0.5}, {12, 0.5}, {17, 0.2}}));
    EXPECT_EQ(second->processes[0].name, "alpha");
    EXPECT_EQ(second->processes[0].user, "root");
    // The task name, cut to 15 bytes, gets the whole program's name.
    EXPECT_EQ(second->processes[2].name, "File indexing (tracker-miner-fs-3)");
    EXPECT_TRUE(second->processes[2].needsHelper);

    // A failed run keeps the baseline and the run count.
    EXPECT_EQ(s.run(107, std::nullopt), std::nullopt);
    EXPECT_EQ(s.sampler.runs(), 2);
    auto third = s.run(110, std::string("  10 0 root 00:13.00 /usr/sbin/alpha\n"));
    ASSERT_TRUE(third);
    EXPECT_EQ(rates(*third), (std::vector<std::pair<Pid, double>>{{10, 0.1}}));

    // An interval of 60 s or more forms no rates but replaces the baseline.
    auto late = s.run(170, std::string("  10 0 root 00:20.00 /usr/sbin/alpha\n"));
    ASSERT_TRUE(late);
    EXPECT_EQ(late->interval, 0);
    EXPECT_TRUE(late->processes.empty());
    auto again = s.run(172, std::string("  10 0 root 00:21.00 /usr/sbin/alpha\n"));
    EXPECT_EQ(rates(*again), (std::vector<std::pair<Pid, double>>{{10, 0.5}}));

    // Too close together: no rates either.
    auto close = s.run(172.4, std::string("  10 0 root 00:22.00 /usr/sbin/alpha\n"));
    EXPECT_EQ(close->interval, 0);

    s.sampler.reset();
    auto afterReset = s.run(180, std::string("  10 0 root 00:30.00 /usr/sbin/alpha\n"));
    EXPECT_EQ(afterReset->interval, 0);
    EXPECT_EQ(s.sampler.runs(), 7);
}

TEST(SystemProcessNames, FriendlyNames) {
    using F = SystemProcessNames::Friendly;
    const std::vector<std::pair<std::string, F>> cases = {
        // Paths and whole task names.
        {"/usr/sbin/updatedb.plocate", {"File indexing (updatedb.plocate)", true}},
        {"/usr/libexec/tracker-extract-3", {"File indexing (tracker-extract-3)", true}},
        {"baloo_file", {"File indexing (baloo_file)", true}},
        {"localsearch-3", {"File indexing (localsearch-3)", true}},
        {"restic", {"Backups (restic)", true}},
        {"/usr/bin/timeshift", {"Backups (timeshift)", true}},
        {"borg", {"Backups (borg)", true}},
        // What `ps` prints for names longer than 15 bytes.
        {"updatedb.plocat", {"File indexing (updatedb.plocate)", true}},
        {"tracker-miner-f", {"File indexing (tracker-miner-fs-3)", true}},
        {"tracker-extract", {"File indexing (tracker-extract-3)", true}},
        {"baloo_file_extr", {"File indexing (baloo_file_extractor)", true}},
        {"localsearch-ext", {"File indexing (localsearch-extractor-3)", true}},
        {"deja-dup-monito", {"Backups (deja-dup-monitor)", true}},
        // Near misses and everything else keep their own name.
        {"tracker-miner", {"tracker-miner", false}},
        {"restic2", {"restic2", false}},
        {"baloo_file_extractor_x", {"baloo_file_extractor_x", false}},
        {"python3", {"python3", false}},
        {"mdworker_shared", {"mdworker_shared", false}},
        {"/usr/sbin/cron", {"cron", false}},
        {"Web Content", {"Web Content", false}},
        {"/usr/bin/", {"bin", false}},
        // Linux prints a task name, not a path: a kernel thread's "/" is part
        // of its name.
        {"ksoftirqd/0", {"ksoftirqd/0", false}},
        {"kworker/u8:0-flush-254:0", {"kworker/u8:0-flush-254:0", false}},
    };
    for (const auto& [command, expect] : cases) {
        SCOPED_TRACE(command);
        EXPECT_EQ(SystemProcessNames::friendly(command), expect);
    }
}

TEST(RunProgram, ReturnsOutputOnlyForACleanExit) {
    test::TempDir dir;
    EXPECT_EQ(runProgram(script(dir, "ok", "echo \"$1 $2\"; cat; echo err >&2"), {"-axo", "x="}, 4),
              std::string("-axo x=\n"));  // stdin is empty, stderr goes nowhere
    EXPECT_EQ(runProgram(script(dir, "fails", "echo data; exit 1"), {}, 4), std::nullopt);
    EXPECT_EQ(runProgram(script(dir, "silent", "exit 0"), {}, 4), std::nullopt);
    EXPECT_EQ(runProgram(dir.path() + "/missing", {}, 4), std::nullopt);
    EXPECT_EQ(runProgram(script(dir, "bytes", "printf 'a\\377b\\n'"), {}, 4), std::string("a\xEF\xBF\xBD" "b\n"));

    // More than a pipe holds: drained while waiting.
    auto big = runProgram(script(dir, "big", "head -c 1000000 /dev/zero | tr '\\0' x"), {}, 4);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->size(), 1000000u);
}

TEST(RunProgram, AHangingProgramIsStoppedAndReaped) {
    test::TempDir dir;
    struct Case {
        const char* name;
        std::string body;
        double maxSeconds;
    };
    const std::vector<Case> cases = {
        // Holds the pipe open through a child of its own.
        {"hangs", "cd \"$(dirname \"$0\")\"; echo $$ > pid; sleep 30 & echo $! > child; echo partial; wait", 0.3 + 1.0},
        // Ignores SIGTERM: needs the kill after the grace second.
        {"stubborn", "cd \"$(dirname \"$0\")\"; trap '' TERM; echo $$ > pid; sleep 30 & echo $! > child; while :; do wait; done",
         0.3 + 1.0 + 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        double start = seconds();
        EXPECT_EQ(runProgram(script(dir, c.name, c.body), {}, 0.3), std::nullopt);
        double took = seconds() - start;
        EXPECT_GE(took, 0.3);
        EXPECT_LT(took, c.maxSeconds);
        pid_t pid = pidIn(dir, "pid");
        pid_t child = pidIn(dir, "child");
        ASSERT_GT(pid, 0);
        ASSERT_GT(child, 0);
        // The program itself was reaped by us, and its child was stopped too.
        EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
        for (int i = 0; i < 100 && !notRunning(child); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(notRunning(child));
        std::remove((dir.path() + "/pid").c_str());
        std::remove((dir.path() + "/child").c_str());
    }
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // no child of ours is left

    // Through the sampler: nothing, and no run counted.
    SystemProcessSampler sampler(SystemProcessSampler::psRunner(script(dir, "ps", "exec sleep 30")));
    EXPECT_EQ(sampler.sample({}, 0.2), std::nullopt);
    EXPECT_EQ(sampler.runs(), 0);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

TEST(SystemProcessSampler, RealPsGivesABreakdown) {
    // Every line the real tool prints parses.
    auto text = runProgram(SystemProcessSampler::psPath, {"-axo", "pid=,uid=,user=,cputime=,comm="}, 4);
    ASSERT_TRUE(text);
    size_t lines = 0, self = 0;
    size_t start = 0;
    while (start < text->size()) {
        size_t nl = text->find('\n', start);
        std::string line = text->substr(start, nl - start);
        start = nl == std::string::npos ? text->size() : nl + 1;
        if (line.empty()) continue;
        ++lines;
        auto parsed = SystemProcessSampler::parse(line);
        EXPECT_TRUE(parsed) << line;
        if (parsed && parsed->pid == ::getpid()) ++self;
    }
    EXPECT_GT(lines, 1u);
    EXPECT_EQ(self, 1u);

    SystemProcessSampler sampler(test::realPlatform());
    auto first = sampler.sample({}, 4);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->interval, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    auto second = sampler.sample({::getpid()}, 4);
    ASSERT_TRUE(second);
    EXPECT_GT(second->interval, 0.5);
    EXPECT_EQ(sampler.runs(), 2);
    for (const auto& p : second->processes) {
        EXPECT_NE(p.pid, ::getpid());
        EXPECT_GT(p.cores, 0.0005);
    }
}
