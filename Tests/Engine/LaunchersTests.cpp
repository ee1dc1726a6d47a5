#include "Launchers.h"
#include "SimulatedEngine.h"

#include <gtest/gtest.h>

using namespace trevlin;
using trevlin::test::SimulatedEngine;

namespace {

struct EligibilityCase {
    const char* what;
    std::string exe;
    uint32_t uid;
    std::set<std::string> runningTops;
    bool eligible;
};

class LaunchersTest : public SimulatedEngine {};

}  // namespace

TEST_F(LaunchersTest, EligibleExecutables) {
    const uint32_t me = 1000, other = 1001;
    const EligibilityCase cases[] = {
        {"a shell of this user", "/usr/bin/bash", me, {}, true},
        {"node in /usr/local/bin", "/usr/local/bin/node", me, {}, true},
        {"make stays eligible in /usr/bin", "/usr/bin/make", me, {}, true},
        {"another user's node", "/usr/local/bin/node", other, {}, false},
        {"unreadable executable", "", me, {}, false},
        {"/usr/libexec", "/usr/libexec/anything", me, {}, false},
        {"/usr/sbin", "/usr/sbin/cron", me, {}, false},
        {"/sbin", "/sbin/agetty", me, {}, false},
        {"systemd in /usr/lib", "/usr/lib/systemd/systemd", me, {}, false},
        {"systemd in /lib", "/lib/systemd/systemd-journald", me, {}, false},
        {"a library's helper", "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/WebKitWebProcess", me, {}, false},
        {"another architecture's library helper", "/usr/lib/aarch64-linux-gnu/libexec/kf6/kioworker", me, {}, false},
        {"a program elsewhere in /usr/lib", "/usr/lib/jvm/java-17-openjdk-amd64/bin/java", me, {}, true},
        {"inside a running app's bundle", "/opt/Foo.desktop/bin/foo", me, {"/opt/Foo.desktop"}, false},
        {"inside a bundle whose app is not running", "/opt/Foo.desktop/bin/foo", me, {"/opt/Bar.desktop"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim->remove(500);
        auto& p = sim->spawn(500, c.exe);
        p.uid = c.uid;
        auto got = Launchers::eligibleExecutable(*sim, 500, {}, c.runningTops);
        EXPECT_EQ(got.has_value(), c.eligible);
        if (c.eligible && got) {
            EXPECT_EQ(*got, c.exe);
        }
    }
}

TEST_F(LaunchersTest, ProcessesThatAreNeverLaunchers) {
    sim->spawn(1, "/usr/bin/bash");
    sim->spawn(600, "/usr/bin/bash");
    sim->spawn(700, "/usr/bin/bash");
    sim->setMyPid(700);
    EXPECT_FALSE(Launchers::eligibleExecutable(*sim, 1, {}, {})) << "init";
    EXPECT_FALSE(Launchers::eligibleExecutable(*sim, 700, {}, {})) << "this program";
    EXPECT_FALSE(Launchers::eligibleExecutable(*sim, 600, {600}, {})) << "a running app's own process";
    EXPECT_FALSE(Launchers::eligibleExecutable(*sim, 601, {}, {})) << "a process that is gone";
    EXPECT_TRUE(Launchers::eligibleExecutable(*sim, 600, {601}, {}));
}
