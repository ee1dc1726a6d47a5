// Which platform the app starts on, for environments and machines given as
// tables: what answers, which plugins are installed.
#include "DisplayChoice.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace trevlin;

namespace {

struct Machine {
    std::set<std::string> x11;      // DISPLAY values an X server answers at
    std::set<std::string> wayland;  // socket paths a compositor listens on
    std::set<std::string> plugins{"xcb", "wayland"};
};

DisplayChoice chooseOn(const Machine& m, const std::map<std::string, std::string>& env) {
    DisplayChoice::Probes probes;
    probes.x11Answers = [&](const std::string& d) { return m.x11.count(d) > 0; };
    probes.waylandAnswers = [&](const std::string& p) { return m.wayland.count(p) > 0; };
    probes.pluginInstalled = [&](const std::string& p) { return m.plugins.count(p) > 0; };
    return DisplayChoice::choose(
        [&](const char* name) -> std::optional<std::string> {
            auto it = env.find(name);
            if (it == env.end()) return std::nullopt;
            return it->second;
        },
        probes);
}

}  // namespace

TEST(DisplayChoice, FallsBackToWhatWorksAndSaysWhy) {
    const Machine desktop{{":0"}, {"/run/user/1000/wayland-0"}};
    Machine noPlugin = desktop;
    noPlugin.plugins = {"xcb"};
    const std::string headless = ", running without the tray icon and windows";
    struct Row {
        const char* name;
        Machine machine;
        std::map<std::string, std::string> env;
        std::optional<std::string> platform;
        bool headless;
        std::string message;
    };
    const std::map<std::string, std::string> wayland{
        {"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", "/run/user/1000"}, {"DISPLAY", ":0"}};
    auto with = [](std::map<std::string, std::string> env, const std::string& k, const std::string& v) {
        env[k] = v;
        return env;
    };
    const Row rows[] = {
        {"X11 that works", desktop, {{"DISPLAY", ":0"}}, "xcb", false, ""},
        {"Wayland that works", desktop, wayland, "wayland", false, ""},
        {"nothing", desktop, {}, "offscreen", true, "Trevlin: no display" + headless},
        {"empty DISPLAY", desktop, {{"DISPLAY", ""}}, "offscreen", true, "Trevlin: DISPLAY is set but empty" + headless},
        {"nobody at DISPLAY", desktop, {{"DISPLAY", ":7"}}, "offscreen", true,
         "Trevlin: no X server answers at DISPLAY=:7" + headless},
        {"Wayland without its plugin, X11 there", noPlugin, wayland, "xcb", false,
         "Trevlin: Qt's Wayland platform plugin is not installed, using X11 instead"},
        {"Wayland without its plugin, no X11", noPlugin, with(wayland, "DISPLAY", ""), "offscreen", true,
         "Trevlin: Qt's Wayland platform plugin is not installed; DISPLAY is set but empty" + headless},
        {"empty WAYLAND_DISPLAY, X11 there", desktop, with(wayland, "WAYLAND_DISPLAY", ""), "xcb", false,
         "Trevlin: WAYLAND_DISPLAY is set but empty, using X11 instead"},
        {"a Wayland session with nobody at the socket", desktop,
         {{"XDG_SESSION_TYPE", "wayland"}, {"XDG_RUNTIME_DIR", "/run/user/1000"}, {"WAYLAND_DISPLAY", "wayland-9"}},
         "offscreen", true, "Trevlin: no Wayland compositor answers at /run/user/1000/wayland-9" + headless},
        {"an absolute WAYLAND_DISPLAY", Machine{{}, {"/tmp/w"}}, {{"WAYLAND_DISPLAY", "/tmp/w"}}, "wayland", false, ""},
        {"the user's own platform that works", desktop, with(wayland, "QT_QPA_PLATFORM", "xcb"), std::nullopt, false, ""},
        {"the user's own platform that does not", noPlugin, with(wayland, "QT_QPA_PLATFORM", "wayland"), "xcb", false,
         "Trevlin: Qt's Wayland platform plugin is not installed, using X11 instead"},
        {"a platform without a display", desktop, {{"QT_QPA_PLATFORM", "offscreen"}}, std::nullopt, true, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const DisplayChoice c = chooseOn(row.machine, row.env);
        EXPECT_EQ(c.platform, row.platform);
        EXPECT_EQ(c.headless, row.headless);
        EXPECT_EQ(c.message, row.message);
    }
}
