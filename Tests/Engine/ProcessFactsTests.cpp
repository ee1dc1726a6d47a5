// Process facts read from the real /proc of this machine.
#include "Children.h"
#include "RealPlatform.h"
#include "LinuxPlatform.h"
#include "LinuxProc.h"
#include "ProcessUtil.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace trevlin;
using namespace trevlin::test;

namespace {

double threadCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

TEST(ProcessFacts, OwnProcessIsListedAndDescribed) {
    auto pids = allPids(realPlatform());
    EXPECT_TRUE(std::is_sorted(pids.begin(), pids.end()));
    EXPECT_NE(std::find(pids.begin(), pids.end(), myPid(realPlatform())), pids.end());
    EXPECT_EQ(exePath(realPlatform(), myPid(realPlatform())), std::filesystem::canonical("/proc/self/exe").string());
    auto start = processStartTime(realPlatform(), myPid(realPlatform()));
    ASSERT_TRUE(start.has_value());
    double ageSeconds = realPlatform().wallClock() - static_cast<double>(*start) / 1e6;
    EXPECT_GT(ageSeconds, -2.0);  // btime has a one-second resolution
    EXPECT_LT(ageSeconds, 600.0);
    auto s = readSample(realPlatform(), myPid(realPlatform()));
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->start, *start);
    // 31 for a normal process; the tests may themselves run niced.
    EXPECT_EQ(s->priority, linux::priorityFor(0, ::getpriority(PRIO_PROCESS, 0)));

    // The extras come only when asked for.
    auto plain = realPlatform().processFacts(myPid(realPlatform()), {});
    ASSERT_TRUE(plain.has_value());
    EXPECT_FALSE(plain->uid.has_value());
    EXPECT_FALSE(plain->perfTicks.has_value());
    auto full = realPlatform().processFacts(myPid(realPlatform()), {.perfShare = true, .uid = true});
    ASSERT_TRUE(full.has_value());
    EXPECT_EQ(full->uid, ::getuid());
    ASSERT_TRUE(full->perfTicks.has_value());
    EXPECT_LE(*full->perfTicks, full->cpuTicks);
}

TEST(ProcessFacts, ExitedProcessGivesNeutralValues) {
    Children kids;
    pid_t pid = kids.spawn({"/bin/true"});
    kids.reap(pid);
    // The pid was listed a moment ago and is gone now.
    EXPECT_EQ(exePath(realPlatform(), pid), "");
    EXPECT_EQ(commandLine(realPlatform(), pid), "");
    EXPECT_FALSE(processStartTime(realPlatform(), pid).has_value());
    EXPECT_FALSE(readSample(realPlatform(), pid).has_value());
    EXPECT_EQ(owner(realPlatform(), pid), pid);
    EXPECT_FALSE(realPlatform().processFacts(pid, {.perfShare = true, .uid = true}).has_value());
}

TEST(ProcessFacts, ZombieHasNoStartTime) {
    Children kids;
    pid_t pid = kids.spawn({"/bin/true"});
    // Wait until it has exited but leave it unreaped.
    for (int i = 0; i < 200 && processState(pid) != 'Z'; ++i) sleepFor(0.01);
    ASSERT_EQ(processState(pid), 'Z');
    EXPECT_FALSE(processStartTime(realPlatform(), pid).has_value());
    EXPECT_FALSE(readSample(realPlatform(), pid).has_value());
    auto facts = realPlatform().processFacts(pid, {.uid = true});
    ASSERT_TRUE(facts.has_value());
    EXPECT_TRUE(facts->zombie);
    EXPECT_EQ(facts->uid, ::getuid());
}

TEST(ProcessFacts, CommandLineFlattensNulsAndReplacesInvalidUtf8) {
    Children kids;
    // Arguments are separated by NULs in the argument area; one holds bytes
    // that are not UTF-8.
    pid_t pid = kids.spawn({"/bin/sh", "-c", "sleep 30; true", "x", std::string("\xff\xfe-bad"), "--type=renderer"},
                           /*newSession=*/true);
    std::string cmd;
    for (int i = 0; i < 200; ++i) {
        cmd = commandLine(realPlatform(), pid);
        if (cmd.find("--type") != std::string::npos) break;
        sleepFor(0.01);
    }
    const std::string exe = exePath(realPlatform(), pid);
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(cmd, exe + " /bin/sh -c sleep 30; true x \xEF\xBF\xBD\xEF\xBF\xBD-bad --type=renderer ");
    EXPECT_NE(cmd.find(" --type="), std::string::npos);
}

TEST(ProcessFacts, SleepWithNoTimeNeverAsks) {
    int asked = 0;
    auto predicate = [&] {
        ++asked;
        return false;
    };
    double before = now(realPlatform());
    sleepSeconds(realPlatform(), 0, predicate);
    sleepSeconds(realPlatform(), -1, predicate);
    EXPECT_EQ(asked, 0);
    EXPECT_LT(now(realPlatform()) - before, 0.05);
}

TEST(ProcessFacts, SleepReachesItsDeadlineOrStopsEarly) {
    double before = now(realPlatform());
    sleepSeconds(realPlatform(), 0.05, [] { return false; });
    double slept = now(realPlatform()) - before;
    EXPECT_GE(slept, 0.05);
    EXPECT_LT(slept, 0.5);

    // A long sleep, or one too long for the clock, waits quietly until told.
    for (double seconds : {10.0, 1e30}) {
        SCOPED_TRACE(seconds);
        std::atomic<bool> quit{false};
        std::thread stopper([&] {
            sleepFor(0.1);
            quit = true;
            realPlatform().notifyWaiters();
        });
        before = now(realPlatform());
        const double cpuBefore = threadCpuSeconds();
        sleepSeconds(realPlatform(), seconds, [&] { return quit.load(); });
        EXPECT_GE(now(realPlatform()) - before, 0.09);
        EXPECT_LT(now(realPlatform()) - before, 5.0);
        EXPECT_LT(threadCpuSeconds() - cpuBefore, 0.02) << "the wait must not spin";
        stopper.join();
    }
}

TEST(ProcessFacts, JobChildrenAreOwnedByTheirGroupLeader) {
    Children kids;
    pid_t leader = kids.spawn({"/bin/bash", "-c", "sleep 30 & sleep 30 & wait"}, /*newSession=*/true);
    std::vector<pid_t> members;
    for (int i = 0; i < 300 && members.size() < 3; ++i) {
        sleepFor(0.01);
        members = processGroupMembers(leader);
    }
    ASSERT_EQ(members.size(), 3u);
    for (pid_t m : members) {
        EXPECT_EQ(owner(realPlatform(), m), leader) << m;
    }
    EXPECT_EQ(lastPathComponent(exePath(realPlatform(), leader)), "bash");
}

TEST(ProcessFacts, PriorityFollowsNiceAndPolicy) {
    Children kids;
    pid_t nice5 = kids.spawn({"/usr/bin/nice", "-n", "5", "/bin/sleep", "30"});
    pid_t nice15 = kids.spawn({"/usr/bin/nice", "-n", "15", "/bin/sleep", "30"});
    sleepFor(0.1);
    auto a = readSample(realPlatform(), nice5);
    auto b = readSample(realPlatform(), nice15);
    ASSERT_TRUE(a && b);
    const int base = ::getpriority(PRIO_PROCESS, 0);
    if (base + 5 < 10) {
        EXPECT_EQ(a->priority, 31 - (base + 5));
    } else {
        EXPECT_LT(a->priority, 11);
    }
    EXPECT_LT(b->priority, 11);
}
