// The helper program against real busy processes, in test mode: copies of a
// shell under the test allow list's names, held by app.trevlin.helper to the
// rules written the way the app writes them, measured from /proc, and read
// back through the app's own status reader.
//
// Every busy loop runs under a `Children` guard, which continues, kills and
// reaps it whatever happens; every helper under a `Program`, killed with its
// group at the end. Neither can leave a process stopped behind.

#include "FileNames.h"
#include "HelperClient.h"
#include "HelperProcess.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cstring>
#include <cmath>
#include <functional>
#include <memory>

using namespace trevlin;
using namespace trevlin::test;
namespace fs = std::filesystem;

namespace {

double monotonicSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double wallSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

bool waitFor(const std::function<bool()>& condition, double seconds) {
    const double end = monotonicSeconds() + seconds;
    while (monotonicSeconds() < end) {
        if (condition()) return true;
        sleepFor(0.005);
    }
    return condition();
}

double cpuOf(const std::vector<pid_t>& pids) {
    double sum = 0;
    for (pid_t p : pids) sum += processCpuSeconds(p);
    return sum;
}

bool anyStopped(const std::vector<pid_t>& pids) {
    for (pid_t p : pids)
        if (processState(p) == 'T') return true;
    return false;
}

/// Looks a few times over `seconds`: a process the helper holds is stopped
/// most of the time, but not at every instant.
bool stoppedAtAnyLook(const std::vector<pid_t>& pids, double seconds) {
    return waitFor([&] { return anyStopped(pids); }, seconds);
}

std::string cpusAllowed(pid_t pid) {
    std::istringstream in(readText("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("Cpus_allowed_list:", 0) == 0) return line.substr(line.find_first_not_of(" \t", 18));
    return "";
}

std::string exeOf(pid_t pid) {
    std::error_code ec;
    return fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string();
}

HelperRules::RuleMap indexingRule(double cores, HelperMethod method) {
    return {{HelperGroup::spotlight, HelperRule{cores, method}}};
}

class HelperDaemonBusy : public ::testing::Test {
protected:
    void SetUp() override {
        giveToTestUser(root.path());
        allowDir = root.mkdir("allow");
        dataDir = root.mkdir("data");
        giveToTestUser(allowDir);
        giveToTestUser(dataDir);
        for (const char* name : {"mdworker", "mdworker_shared"}) {
            fs::copy_file("/bin/dash", allowDir + "/" + name);
            ::chmod((allowDir + "/" + name).c_str(), 0755);
        }
        rulesPath = dataDir + "/helper-rules.json";
        statusPath = dataDir + "/helper-status.json";
        logPath = root.path() + "/helper.log";
    }

    /// Two busy loops in one session of their own, run as the test account:
    /// one a copy of the shell named "mdworker", the other one named
    /// "mdworker_shared", under an idle "mdworker" that waits for them.
    std::vector<pid_t> startIndexers() {
        const std::string script = "(while :; do :; done) & " + allowDir + "/mdworker_shared -c 'while :; do :; done' & wait";
        const pid_t leader = kids.spawn(asTestUser({allowDir + "/mdworker", "-c", script}), true);
        std::vector<pid_t> loops;
        waitFor(
            [&] {
                loops.clear();
                for (pid_t p : processGroupMembers(leader))
                    if (p != leader && exeOf(p).rfind(allowDir + "/", 0) == 0) loops.push_back(p);
                std::sort(loops.begin(), loops.end());
                return loops.size() == 2 && exeOf(loops[0]) != exeOf(loops[1]);
            },
            5.0);
        return loops;
    }

    /// One busy loop that no rule covers, in another session: what a session
    /// of work can get on this machine right now.
    std::vector<pid_t> startReference() {
        const pid_t leader = kids.shell("while :; do :; done", true);
        return {leader};
    }

    std::unique_ptr<Program> startHelper() {
        std::vector<std::string> env{"PATH=/usr/bin:/bin", "TREVLIN_HELPER_TEST_DIR=" + dataDir,
                                     "TREVLIN_HELPER_TEST_ALLOW=" + allowDir};
        return std::make_unique<Program>(asTestUser({TREVLIN_HELPER_PATH}), env, "", logPath);
    }

    void writeRules(const HelperRules::RuleMap& rules) { HelperClient::writeRules(rules, rulesPath); }

    std::optional<HelperStatusFile> status() { return HelperClient::readStatus(statusPath); }

    const HelperGroupStatus* indexingStatus() {
        lastStatus = status();
        return lastStatus ? lastStatus->group(HelperGroup::spotlight) : nullptr;
    }

    std::vector<std::string> journalFiles() {
        std::vector<std::string> out;
        if (!fs::exists(dataDir + "/journal")) return out;
        for (const auto& name : fileNames(dataDir + "/journal"))
            if (name.rfind("journal-", 0) == 0) out.push_back(name);
        return out;
    }

    TempDir root;
    std::string allowDir, dataDir, rulesPath, statusPath, logPath;
    std::optional<HelperStatusFile> lastStatus;
    Children kids;
};

TEST_F(HelperDaemonBusy, HoldsTheGroupReportsAndFollowsTheRules) {
    auto loops = startIndexers();
    auto reference = startReference();
    ASSERT_EQ(loops.size(), 2u);
    writeRules(indexingRule(0.5, HelperMethod::strict));
    auto helper = startHelper();

    // The status file shows the group, and the app's judgement is "running".
    ASSERT_TRUE(waitFor([&] { return indexingStatus() != nullptr; }, 5.0)) << readText(logPath);
    EXPECT_EQ(HelperClient::state(lastStatus, false, wallSeconds()), HelperState::running);
    EXPECT_EQ(lastStatus->pid, helper->pid());
    EXPECT_EQ(lastStatus->group(HelperGroup::timemachine), nullptr);
    EXPECT_EQ(indexingStatus()->cap, 0.5);
    EXPECT_EQ(indexingStatus()->method, "strict");

    // Held to the cap, as /proc counts it; while measuring, the status file
    // is rewritten every 2 seconds.
    sleepFor(2.0);  // the first second runs free, then the duty cycle settles
    const double c0 = cpuOf(loops), r0 = cpuOf(reference), t0 = monotonicSeconds();
    std::vector<double> rewrites;
    while (monotonicSeconds() - t0 < 5.0) {
        if (auto s = status(); s && (rewrites.empty() || s->updated != rewrites.back())) rewrites.push_back(s->updated);
        sleepFor(0.05);
    }
    const double elapsed = monotonicSeconds() - t0;
    const double used = (cpuOf(loops) - c0) / elapsed;
    const double share = (cpuOf(reference) - r0) / elapsed;
    EXPECT_LE(used, 0.6);
    // Below the cap only as far as other work keeps the loops from it: held
    // back, never stopped for good.
    EXPECT_GE(used, std::min(0.4, 0.8 * share)) << "a busy session got " << share << " cores";
    ASSERT_GE(rewrites.size(), 2u);
    for (size_t i = 1; i < rewrites.size(); ++i) EXPECT_LE(rewrites[i] - rewrites[i - 1], 2.5) << i;
    ASSERT_NE(indexingStatus(), nullptr);
    EXPECT_GE(indexingStatus()->processCount, 2);
    EXPECT_GT(indexingStatus()->cores, 0.0);
    EXPECT_LE(indexingStatus()->cores, 1.0);
    EXPECT_EQ(journalFiles().size(), 1u);

    // A changed rule is in force within 2 seconds (with room for a loaded
    // machine): on the efficiency cores nothing is stopped any more, and the
    // busiest loop moves to the last core.
    writeRules(indexingRule(0.3, HelperMethod::ecores));
    ASSERT_TRUE(waitFor([&] { auto g = indexingStatus(); return g && g->method == "ecores"; }, 3.0));
    EXPECT_EQ(indexingStatus()->cap, 0.3);
    sleepFor(0.3);  // the next duty-cycle turn continues what was stopped
    EXPECT_FALSE(stoppedAtAnyLook(loops, 0.5));
    const int cores = static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
    const std::string all = cores > 1 ? "0-" + std::to_string(cores - 1) : "0";
    // A loop moves only while the group uses more than its cap, which it
    // cannot when other work leaves this session too little of the machine.
    if (cores > 1 && share >= 0.5) {
        const std::string last = std::to_string(cores - 1);
        EXPECT_TRUE(waitFor([&] { return cpusAllowed(loops[0]) == last || cpusAllowed(loops[1]) == last; }, 5.0))
            << "the group used " << indexingStatus()->cores << " cores";
    }

    // Without the rule they are let go: running, on every core, and the
    // group leaves the status file.
    writeRules({});
    ASSERT_TRUE(waitFor([&] { return status() && indexingStatus() == nullptr; }, 3.0));
    EXPECT_FALSE(stoppedAtAnyLook(loops, 0.5));
    for (pid_t p : loops) EXPECT_EQ(cpusAllowed(p), all) << p;
    EXPECT_TRUE(journalFiles().empty());

    helper->signal(SIGTERM);
    const int st = helper->wait();
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << readText(logPath);
}

TEST_F(HelperDaemonBusy, StopSignalsRestoreEverythingAndTheNextStartResumesAKilledRun) {
    auto loops = startIndexers();
    ASSERT_EQ(loops.size(), 2u);
    // At a quarter core the loops are stopped most of every period.
    writeRules(indexingRule(0.25, HelperMethod::strict));

    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(::strsignal(sig));
        auto helper = startHelper();
        ASSERT_TRUE(stoppedAtAnyLook(loops, 5.0)) << readText(logPath);
        helper->signal(sig);
        const int st = helper->wait();
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << readText(logPath);
        EXPECT_FALSE(stoppedAtAnyLook(loops, 0.3));
        EXPECT_FALSE(fs::exists(statusPath));
        EXPECT_TRUE(journalFiles().empty());
    }

    // Killed while it holds a loop stopped: the journal stays behind.
    {
        auto helper = startHelper();
        ASSERT_TRUE(waitFor([&] { return processState(loops[0]) == 'T'; }, 5.0));
        // Meanwhile a second helper on the same folder refuses to run.
        auto second = startHelper();
        int st = 0;
        ASSERT_TRUE(second->endsWithin(5.0, &st));
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 1);
        EXPECT_NE(readText(logPath).find("another helper is running"), std::string::npos);
        // The first one goes on holding.
        EXPECT_TRUE(waitFor([&] { return processState(loops[0]) == 'T'; }, 2.0));
        helper->signal(SIGKILL);
        helper->wait();
    }
    EXPECT_TRUE(anyStopped(loops));
    ASSERT_EQ(journalFiles().size(), 1u);

    // The next start resumes them before anything else; without a rule it
    // holds nothing new.
    writeRules({});
    auto helper = startHelper();
    // Its first status file comes after the resuming.
    ASSERT_TRUE(waitFor([&] { auto s = status(); return s && s->pid == helper->pid(); }, 5.0)) << readText(logPath);
    EXPECT_FALSE(stoppedAtAnyLook(loops, 0.5));
    EXPECT_TRUE(journalFiles().empty());
    EXPECT_NE(readText(logPath).find("that an earlier run left held"), std::string::npos) << readText(logPath);
    helper->signal(SIGTERM);
    helper->wait();
}

}  // namespace
