// The breakdown from the real /proc: a busy child shows with the use the
// kernel's own clock of that child measures.
#include "SystemProcesses.h"

#include "Children.h"
#include "RealPlatform.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <time.h>
#include <unistd.h>

using namespace trevlin;

namespace {

double clockSeconds(clockid_t clock) {
    struct timespec ts{};
    ::clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string commOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

}  // namespace

TEST(SystemProcessSampler, ABusyChildShowsItsMeasuredUse) {
    test::Children children;
    const pid_t busy = children.shell("while :; do :; done");
    clockid_t childClock{};
    ASSERT_EQ(::clock_getcpuclockid(busy, &childClock), 0);
    // A pid whose name changes between two passes gets no rate (it may be
    // another program), so the baseline is taken once the child runs the shell.
    for (int i = 0; i < 200 && commOf(busy) != "sh"; ++i) test::sleepFor(0.01);
    ASSERT_EQ(commOf(busy), "sh");

    SystemProcessSampler sampler(test::realPlatform());
    ASSERT_TRUE(sampler.sample({::getpid()}, 4));
    const double cpu0 = clockSeconds(childClock), wall0 = clockSeconds(CLOCK_MONOTONIC);
    test::sleepFor(2.0);
    auto b = sampler.sample({::getpid()}, 4);
    const double cpu1 = clockSeconds(childClock), wall1 = clockSeconds(CLOCK_MONOTONIC);
    ASSERT_TRUE(b);
    EXPECT_GT(b->interval, 1.5);
    const double measured = (cpu1 - cpu0) / (wall1 - wall0);

    const SystemProcess* found = nullptr;
    for (const SystemProcess& p : b->processes) {
        EXPECT_NE(p.pid, ::getpid());
        EXPECT_GT(p.cores, 0.0005);
        if (p.pid == busy) found = &p;
    }
    ASSERT_NE(found, nullptr) << "measured " << measured << " cores";
    EXPECT_EQ(found->command, "sh");
    EXPECT_NEAR(found->cores, measured, 0.1);
}
