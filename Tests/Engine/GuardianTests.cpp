// The guardian's watch on real processes: a holder's end of a socket pair, a
// holder process with a pidfd, a journal file listing stopped children.
#include "Children.h"
#include "Guardian.h"
#include "Journal.h"
#include "ProcessUtil.h"
#include "RealPlatform.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

using namespace trevlin;
using namespace trevlin::test;

namespace {

pid_t stoppedSleeper(Children& kids) {
    const pid_t pid = kids.spawn({"sleep", "1000"});
    for (int i = 0; i < 200 && exePath(realPlatform(), pid).find("sleep") == std::string::npos; ++i) sleepFor(0.01);
    ::kill(pid, SIGSTOP);
    for (int i = 0; i < 200 && processState(pid) != 'T'; ++i) sleepFor(0.01);
    return pid;
}

bool becomes(pid_t pid, char state, double seconds) {
    for (double waited = 0; waited < seconds; waited += 0.01) {
        if (processState(pid) == state) return true;
        sleepFor(0.01);
    }
    return false;
}

}  // namespace

TEST(Guardian, LetsGoOnlyOnceItsHolderHasEndedAndNotWhenReleased) {
    for (const bool released : {false, true}) {
        SCOPED_TRACE(released ? "released" : "holder ended");
        TempDir dir;
        Children kids;
        const pid_t held = stoppedSleeper(kids);
        ASSERT_EQ(processState(held), 'T');
        const pid_t holder = kids.spawn({"sleep", "1000"});
        const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, holder, 0u));
        ASSERT_GE(pidfd, 0);
        const std::string path = Journal::filePathIn(dir.path(), holder);
        nlohmann::json entry{{"app", "cli:job"}, {"pid", held}, {"start", *processStartTime(realPlatform(), held)},
                             {"paused", true}, {"demoted", false}};
        dir.write(std::filesystem::path(path).filename().string(),
                  nlohmann::json{{"limiterPid", holder}, {"limiterStart", 0}, {"entries", {entry}}}.dump());

        int ends[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        std::atomic<int> restored{-1};
        std::thread guardian([&] { restored = Guardian::watch(realPlatform(), ends[0], pidfd, path); });
        if (released) {
            ASSERT_EQ(::write(ends[1], "q", 1), 1);
        }
        ::close(ends[1]);
        // The end of the stream alone is not the holder's end: it may still be
        // writing its journal.
        sleepFor(0.3);
        EXPECT_EQ(processState(held), 'T');
        kids.kill(holder);
        guardian.join();
        ::close(ends[0]);
        ::close(pidfd);

        if (released) {
            EXPECT_EQ(restored, 0);
            EXPECT_EQ(processState(held), 'T') << "a released guardian touches nothing";
            EXPECT_TRUE(std::filesystem::exists(path));
        } else {
            EXPECT_EQ(restored, 1);
            EXPECT_TRUE(becomes(held, 'S', 2));
            EXPECT_FALSE(std::filesystem::exists(path));
        }
    }
}

TEST(Guardian, IsFoundBesideTheProgramOrInItsLibexecFolder) {
    TempDir dir;
    const std::string exe = std::string("#!/bin/sh\n");
    dir.write("bin/Trevlin", exe);
    EXPECT_FALSE(Guardian::locate(dir.path() + "/bin/Trevlin"));
    dir.write("libexec/trevlin/trevlin-guardian", exe);
    std::filesystem::permissions(dir.path() + "/libexec/trevlin/trevlin-guardian", std::filesystem::perms::owner_all);
    EXPECT_EQ(Guardian::locate(dir.path() + "/bin/Trevlin"), dir.path() + "/libexec/trevlin/trevlin-guardian");
    dir.write("bin/trevlin-guardian", exe);
    std::filesystem::permissions(dir.path() + "/bin/trevlin-guardian", std::filesystem::perms::owner_all);
    EXPECT_EQ(Guardian::locate(dir.path() + "/bin/Trevlin"), dir.path() + "/bin/trevlin-guardian");
}
