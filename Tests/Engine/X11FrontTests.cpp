// The front-app watcher against a real X server (Xvfb). The test plays the
// window manager's part: it sets _NET_WM_PID on windows and points the root
// window's _NET_ACTIVE_WINDOW at them.
#include "Children.h"
#include "X11FrontWatcher.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

using namespace trevlin;
using namespace trevlin::test;

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    xcb_atom_t a = r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

class X11Front : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
        display = ":" + std::to_string(90 + (::getpid() % 9));
        server = kids.spawn({"/usr/bin/Xvfb", display, "-nolisten", "tcp", "-screen", "0", "320x200x24"});
        for (int i = 0; i < 200 && !connection; ++i) {
            sleepFor(0.02);
            auto* c = xcb_connect(display.c_str(), nullptr);
            if (c && !xcb_connection_has_error(c)) connection = c;
            else if (c) xcb_disconnect(c);
        }
        ASSERT_NE(connection, nullptr) << "Xvfb did not start";
        root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        oldDisplay = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
        setenv("DISPLAY", display.c_str(), 1);
    }
    void TearDown() override {
        if (connection) xcb_disconnect(connection);
        if (oldDisplay.empty()) unsetenv("DISPLAY");
        else setenv("DISPLAY", oldDisplay.c_str(), 1);
    }

    uint32_t windowOf(uint32_t pid) {
        uint32_t w = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, w, root, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, w, atom(connection, "_NET_WM_PID"), XCB_ATOM_CARDINAL,
                            32, 1, &pid);
        return w;
    }
    void activate(uint32_t window) {
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, atom(connection, "_NET_ACTIVE_WINDOW"),
                            XCB_ATOM_WINDOW, 32, 1, &window);
        xcb_flush(connection);
    }

    Children kids;
    pid_t server = 0;
    std::string display, oldDisplay;
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
};

}  // namespace

TEST_F(X11Front, ReportsEachNewlyActivatedAppsPid) {
    activate(windowOf(1111));
    uint32_t second = windowOf(2222);
    uint32_t third = windowOf(3333);

    std::mutex m;
    std::vector<Pid> seen;
    linux::X11FrontWatcher watcher;
    FrontApp initial = watcher.start([&](FrontApp p) {
        std::lock_guard<std::mutex> g(m);
        seen.push_back(p.pid);
    });
    EXPECT_EQ(initial, FrontApp::of(1111));

    auto waitFor = [&](size_t n) {
        for (int i = 0; i < 300; ++i) {
            {
                std::lock_guard<std::mutex> g(m);
                if (seen.size() >= n) return;
            }
            sleepFor(0.01);
        }
    };
    activate(second);
    waitFor(1);
    activate(second);  // the same app again: no report
    activate(third);
    waitFor(2);
    std::lock_guard<std::mutex> g(m);
    EXPECT_EQ(seen, (std::vector<Pid>{2222, 3333}));
}

TEST(X11FrontWithoutServer, FrontAppIsUnknown) {
    std::string old = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    unsetenv("DISPLAY");
    linux::X11FrontWatcher watcher;
    EXPECT_EQ(watcher.start([](FrontApp) {}), FrontApp::unknown());
    if (!old.empty()) setenv("DISPLAY", old.c_str(), 1);
}
