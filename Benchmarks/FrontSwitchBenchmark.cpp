// How fast an app paused in the background runs again when it comes to the
// front: on an X server (Xvfb) where this program plays the window manager,
// from the change of _NET_ACTIVE_WINDOW to the moment the paused app runs,
// over 100 switches. The app is a busy child that notices each gap in its
// own running and reports when it resumed.
//   FrontSwitchBenchmark [--switches N]
#include "BenchmarkSupport.h"
#include "EngineContext.h"
#include "LimiterManager.h"
#include "LinuxPlatform.h"
#include "LinuxProc.h"

#include <fcntl.h>
#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace trevlin;
using namespace trevlin::bench;

namespace {

char linuxState(pid_t pid) {
    auto st = linux::readStat("/proc", pid);
    return st ? st->state : 0;
}

/// A gap in the busy child's running: when it stopped running and resumed.
struct Gap {
    double from = 0;
    double to = 0;
};

/// Spins, and writes every gap of more than 2 ms in its own running to `fd`.
[[noreturn]] void spinAndReport(int fd) {
    double last = monotonic();
    for (;;) {
        const double now = monotonic();
        if (now - last > 0.002) {
            Gap g{last, now};
            if (::write(fd, &g, sizeof g) != sizeof g) ::_exit(0);
        }
        last = now;
    }
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    xcb_atom_t a = r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

/// An X server of its own on a free display; killed when this goes.
struct Xvfb {
    Xvfb() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 1), ::dup2(null, 2);
            const std::string fd = std::to_string(fds[1]);
            ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                    "320x200x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        char buf[32] = {0};
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 10000) == 1 && ::read(fds[0], buf, sizeof buf - 1) > 0) display = ":" + std::to_string(std::atoi(buf));
        ::close(fds[0]);
    }
    ~Xvfb() {
        if (pid > 0) ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
    }
    pid_t pid = -1;
    std::string display;
};

}  // namespace

int main(int argc, char** argv) {
    int switches = 100;
    for (int i = 1; i + 1 < argc; i += 2)
        if (!std::strcmp(argv[i], "--switches")) switches = std::atoi(argv[i + 1]);
    if (::access("/usr/bin/Xvfb", X_OK) != 0) {
        std::fprintf(stderr, "Xvfb is not installed\n");
        return 1;
    }
    Xvfb server;
    if (server.display.empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    for (const char* name : {"WAYLAND_DISPLAY", "SWAYSOCK", "I3SOCK", "HYPRLAND_INSTANCE_SIGNATURE", "XDG_CURRENT_DESKTOP"})
        ::unsetenv(name);
    ::setenv("DISPLAY", server.display.c_str(), 1);
    ::setenv("XDG_SESSION_TYPE", "x11", 1);

    xcb_connection_t* x = xcb_connect(server.display.c_str(), nullptr);
    if (xcb_connection_has_error(x)) return 1;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const xcb_atom_t wmPid = atom(x, "_NET_WM_PID"), active = atom(x, "_NET_ACTIVE_WINDOW");
    auto windowOf = [&](uint32_t pid) {
        uint32_t w = xcb_generate_id(x);
        xcb_create_window(x, XCB_COPY_FROM_PARENT, w, root, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_change_property(x, XCB_PROP_MODE_REPLACE, w, wmPid, XCB_ATOM_CARDINAL, 32, 1, &pid);
        xcb_flush(x);
        return w;
    };
    auto activate = [&](uint32_t window) {
        xcb_change_property(x, XCB_PROP_MODE_REPLACE, root, active, XCB_ATOM_WINDOW, 32, 1, &window);
        xcb_flush(x);
    };

    int gaps[2];
    if (::pipe(gaps) != 0) return 1;
    const pid_t app = ::fork();
    if (app == 0) {
        ::close(gaps[0]);
        spinAndReport(gaps[1]);
    }
    ::close(gaps[1]);
    ::fcntl(gaps[0], F_SETFL, O_NONBLOCK);
    const uint32_t appWindow = windowOf(static_cast<uint32_t>(app));
    const uint32_t otherWindow = windowOf(static_cast<uint32_t>(::getpid()));
    activate(otherWindow);

    char dir[] = "/tmp/trevlin-front-XXXXXX";
    if (!::mkdtemp(dir)) return 1;
    std::vector<double> latencies;
    int missed = 0;
    {
        auto context = EngineContext::make(std::make_shared<LinuxPlatform>());
        context->front().start();
        LimiterManager manager(context, dir);
        const std::string key = "/usr/share/applications/front-switch-benchmark.desktop";
        manager.setRule(Rule(1.0, Method::pause, false, false, false), key, "busy app",
                        [app] { return std::vector<Pid>{app}; });

        auto drain = [&](std::vector<Gap>& into) {
            Gap g;
            while (::read(gaps[0], &g, sizeof g) == sizeof g) into.push_back(g);
        };
        std::vector<Gap> seen;
        for (int i = 0; i < switches; ++i) {
            // In the background until paused.
            activate(otherWindow);
            const double deadline = monotonic() + 10;
            while (linuxState(app) != 'T' && monotonic() < deadline) sleepSeconds(0.005);
            if (linuxState(app) != 'T') {
                ++missed;
                continue;
            }
            sleepSeconds(0.05);
            drain(seen);
            seen.clear();
            const double switched = monotonic();
            activate(appWindow);
            // The gap that spans the switch ends when the app runs again.
            std::optional<double> resumed;
            while (!resumed && monotonic() < switched + 5) {
                drain(seen);
                for (const Gap& g : seen)
                    if (g.from < switched && g.to >= switched) resumed = g.to;
                if (!resumed) sleepSeconds(0.0005);
            }
            if (resumed) latencies.push_back((*resumed - switched) * 1000);
            else ++missed;
            sleepSeconds(0.2);  // in front for a moment, as a user would be
        }
        manager.shutdown();
    }
    ::kill(app, SIGCONT);
    ::kill(app, SIGKILL);
    ::waitpid(app, nullptr, 0);
    xcb_disconnect(x);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);

    if (latencies.empty()) {
        std::printf("no switch measured (%d missed)\n", missed);
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) { return latencies[std::min(latencies.size() - 1, static_cast<size_t>(q * latencies.size()))]; };
    std::printf("%zu switches measured, %d missed: from the change of the active window to the paused app running\n",
                latencies.size(), missed);
    std::printf("median %.2f ms, 90th percentile %.2f ms, worst %.2f ms, best %.2f ms (target: median under 10 ms: %s)\n",
                at(0.5), at(0.9), latencies.back(), latencies.front(), at(0.5) < 10 ? "met" : "MISSED");
    std::printf("load average %.2f\n", loadAverage());
    return missed == 0 ? 0 : 1;
}
