// The sway watcher against a real sway: headless, with the pixman renderer
// and no input devices, so it runs without a display or a GPU. sway refuses
// to run as root, so under root (as in CI) it runs as `nobody`, with a runtime
// folder of that account's own. Two Wayland clients (wev) give it windows;
// swaymsg moves the focus between them.
#include "Children.h"
#include "FrontReports.h"
#include "SwayFrontWatcher.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace trevlin;
using namespace trevlin::test;

namespace {

class SwayFront : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"/usr/bin/sway", "/usr/bin/swaymsg", "/usr/bin/wev", "/usr/bin/setpriv"})
            if (::access(tool, X_OK) != 0) GTEST_SKIP() << tool << " is not installed";
        // As root, run everything of the session as nobody; otherwise as ourselves.
        if (::getuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody) GTEST_SKIP() << "no unprivileged account to run sway as";
            asUser = "exec setpriv --reuid=" + std::to_string(nobody->pw_uid) +
                     " --regid=" + std::to_string(nobody->pw_gid) + " --clear-groups ";
            ::chmod(top.path().c_str(), 0755);
            runtime = top.mkdir("run");
            ASSERT_EQ(::chown(runtime.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        } else {
            asUser = "exec ";
            runtime = top.mkdir("run");
        }
        ::chmod(runtime.c_str(), 0700);
        std::string config = top.write("config", "xwayland disable\n");
        ::chmod(config.c_str(), 0644);
        log = top.path() + "/sway.log";

        sway = kids.shell(asUser + "env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR=" + runtime + " HOME=" + runtime +
                          " WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman /usr/bin/sway -c " +
                          config + " >" + log + " 2>&1");
        for (int i = 0; i < 600 && (socket.empty() || display.empty()); ++i) {
            sleepFor(0.05);
            if (processState(sway) == '?' || processState(sway) == 'Z') break;
            std::error_code ec;
            for (const auto& entry : std::filesystem::directory_iterator(runtime, ec)) {
                std::string name = entry.path().filename().string();
                if (name.rfind("sway-ipc.", 0) == 0) socket = entry.path().string();
                if (name.rfind("wayland-", 0) == 0 && name.find(".lock") == std::string::npos) display = name;
            }
        }
        if (socket.empty() || display.empty()) GTEST_SKIP() << "sway could not run here:\n" << tail(log);
    }

    /// Starts a Wayland client with a window of its own; its pid.
    pid_t client() {
        return kids.shell(asUser + "env -i XDG_RUNTIME_DIR=" + runtime + " WAYLAND_DISPLAY=" + display +
                          " /usr/bin/wev >/dev/null 2>&1");
    }
    /// Runs a sway command; true when sway carried it out.
    bool command(const std::string& what) {
        pid_t p = kids.spawn({"/usr/bin/swaymsg", "-q", "-s", socket, what});
        int status = kids.reap(p);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    static std::string tail(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        std::string s = text.str();
        return s.size() > 2000 ? s.substr(s.size() - 2000) : s;
    }

    TempDir top;
    Children kids;  // after `top`: every process ends before the folder goes
    std::string asUser, runtime, log, socket, display;
    pid_t sway = 0;
};

}  // namespace

TEST_F(SwayFront, FollowsTheFocusedWindowsPidAndSurvivesSwayQuitting) {
    FrontReports reports;
    linux::SwayFrontWatcher watcher(socket);
    // Nothing open yet: the focus is on an empty workspace.
    EXPECT_EQ(watcher.start(reports.callback()), FrontApp::none());

    // A new window takes the focus.
    pid_t first = client();
    reports.waitFor(1);
    pid_t second = client();
    reports.waitFor(2);
    ASSERT_TRUE(command("[pid=" + std::to_string(first) + "] focus"));
    reports.waitFor(3);
    ASSERT_TRUE(command("[pid=" + std::to_string(second) + "] focus"));
    reports.waitFor(4);
    kids.kill(sway);
    EXPECT_EQ(reports.waitFor(5), (std::vector<FrontApp>{FrontApp::of(first), FrontApp::of(second), FrontApp::of(first),
                                                          FrontApp::of(second), FrontApp::unknown()}))
        << tail(log);
    EXPECT_EQ(watcher.unknownReason(), linux::kFrontUntoldReason);
}
