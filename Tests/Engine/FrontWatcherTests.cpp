// Choosing the front-app watcher from the session's variables, and the rule
// every watcher keeps: a desktop that cannot be reached means unknown, never
// "no app in front".
#include "FrontReports.h"
#include "FrontWatcher.h"
#include "GnomeFrontWatcher.h"
#include "HyprlandFrontWatcher.h"
#include "KWinFrontWatcher.h"
#include "SwayFrontWatcher.h"
#include "TempDir.h"
#include "X11FrontWatcher.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <typeinfo>

using namespace trevlin;
using namespace trevlin::linux;

namespace {

SessionEnvironment session(std::initializer_list<std::pair<const char*, std::string>> vars) {
    SessionEnvironment env;
    for (const auto& [name, value] : vars) {
        std::string n = name;
        if (n == "XDG_SESSION_TYPE") env.sessionType = value;
        else if (n == "WAYLAND_DISPLAY") env.waylandDisplay = value;
        else if (n == "DISPLAY") env.display = value;
        else if (n == "XDG_CURRENT_DESKTOP") env.currentDesktop = value;
        else if (n == "SWAYSOCK") env.swaySocket = value;
        else if (n == "I3SOCK") env.i3Socket = value;
        else if (n == "HYPRLAND_INSTANCE_SIGNATURE") env.hyprlandSignature = value;
        else if (n == "XDG_RUNTIME_DIR") env.runtimeDir = value;
        else if (n == "DBUS_SESSION_BUS_ADDRESS") env.sessionBusAddress = value;
        else ADD_FAILURE() << "unknown variable " << n;
    }
    return env;
}

}  // namespace

TEST(FrontWatcherChoice, FollowsWhatTheSessionOffers) {
    struct Case {
        const char* what;
        SessionEnvironment env;
        FrontBackend backend;
    } cases[] = {
        {"no desktop at all", session({}), FrontBackend::none},
        {"X11", session({{"DISPLAY", ":0"}}), FrontBackend::x11},
        {"Plasma on X11", session({{"XDG_SESSION_TYPE", "x11"}, {"DISPLAY", ":0"}, {"XDG_CURRENT_DESKTOP", "KDE"}}),
         FrontBackend::x11},
        {"X11 with a stale SWAYSOCK", session({{"DISPLAY", ":0"}, {"SWAYSOCK", "/run/user/1000/sway.sock"}}),
         FrontBackend::x11},
        {"Wayland with XWayland and nothing else",
         session({{"XDG_SESSION_TYPE", "wayland"}, {"DISPLAY", ":0"}, {"XDG_CURRENT_DESKTOP", "XFCE"}}),
         FrontBackend::none},
        {"WAYLAND_DISPLAY alone makes it Wayland", session({{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}),
         FrontBackend::none},
        {"sway", session({{"WAYLAND_DISPLAY", "wayland-1"}, {"SWAYSOCK", "/run/user/1000/sway-ipc.sock"}}),
         FrontBackend::swayIpc},
        {"i3-compatible", session({{"XDG_SESSION_TYPE", "wayland"}, {"I3SOCK", "/run/user/1000/i3.sock"}}),
         FrontBackend::swayIpc},
        {"sway started from a Plasma login",
         session({{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "KDE"}, {"SWAYSOCK", "/run/s.sock"}}),
         FrontBackend::swayIpc},
        {"Hyprland", session({{"XDG_SESSION_TYPE", "wayland"}, {"HYPRLAND_INSTANCE_SIGNATURE", "abc_123_456"}}),
         FrontBackend::hyprland},
        {"Plasma", session({{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "KDE"}}),
         FrontBackend::kwinScript},
        {"GNOME on Ubuntu", session({{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}}),
         FrontBackend::gnomeShellExtension},
        {"GNOME Classic", session({{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "GNOME-Classic:GNOME"}}),
         FrontBackend::gnomeShellExtension},
        {"a desktop whose name only starts like GNOME's",
         session({{"XDG_SESSION_TYPE", "wayland"}, {"XDG_CURRENT_DESKTOP", "GNOMEish"}}), FrontBackend::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(chooseFrontBackend(c.env), c.backend);
    }
}

// Every backend, pointed at a desktop that is not there: the right watcher,
// an unknown answer with a reason, and a destructor that returns.
TEST(FrontWatcherChoice, ABackendThatCannotReachItsDesktopAnswersUnknown) {
    test::TempDir runtime;
    const std::string noBus = "unix:path=" + runtime.path() + "/no-bus";
    struct Case {
        SessionEnvironment env;
        const std::type_info& type;
    } cases[] = {
        {session({{"DISPLAY", ":4093"}}), typeid(X11FrontWatcher)},
        {session({{"WAYLAND_DISPLAY", "wayland-1"}, {"SWAYSOCK", runtime.path() + "/sway.sock"}}),
         typeid(SwayFrontWatcher)},
        {session({{"WAYLAND_DISPLAY", "wayland-1"}, {"HYPRLAND_INSTANCE_SIGNATURE", "gone"},
                  {"XDG_RUNTIME_DIR", runtime.path()}}),
         typeid(HyprlandFrontWatcher)},
        {session({{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "KDE"},
                  {"DBUS_SESSION_BUS_ADDRESS", noBus}, {"XDG_RUNTIME_DIR", runtime.path()}}),
         typeid(KWinFrontWatcher)},
        {session({{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "GNOME"},
                  {"DBUS_SESSION_BUS_ADDRESS", noBus}}),
         typeid(GnomeFrontWatcher)},
        {session({{"WAYLAND_DISPLAY", "wayland-0"}}), typeid(UntoldFrontWatcher)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type.name());
        test::FrontReports reports;
        auto watcher = makeFrontWatcher(c.env);
        ASSERT_TRUE(watcher);
        EXPECT_EQ(typeid(*watcher), c.type);
        EXPECT_EQ(watcher->start(reports.callback()), FrontApp::unknown());
        EXPECT_EQ(watcher->unknownReason(), kFrontUntoldReason);
        watcher.reset();
        EXPECT_TRUE(reports.seen().empty());
    }

    // Without any desktop (a console, ssh, a service) nothing can be in
    // front: a settled none, so pause mode still works there.
    auto noDesktop = makeFrontWatcher(session({}));
    EXPECT_EQ(typeid(*noDesktop), typeid(NoDesktopFrontWatcher));
    EXPECT_EQ(noDesktop->start({}), FrontApp::none());
    EXPECT_EQ(noDesktop->unknownReason(), "");
}

// What the focused node of sway's layout tree says. Only a view names an
// app; an empty workspace is the one case of "no app in front".
TEST(SwayLayoutTree, TheFocusedNodeGivesTheAnswer) {
    auto view = [](int pid, bool focused) {
        return nlohmann::json{{"type", "con"}, {"focused", focused}, {"pid", pid}, {"nodes", nlohmann::json::array()}};
    };
    auto workspace = [](bool focused, nlohmann::json nodes, nlohmann::json floating = nlohmann::json::array()) {
        return nlohmann::json{{"type", "workspace"}, {"focused", focused}, {"nodes", nodes}, {"floating_nodes", floating}};
    };
    auto tree = [](nlohmann::json workspaces) {
        return nlohmann::json{{"type", "root"}, {"focused", false},
                              {"nodes", {{{"type", "output"}, {"focused", false}, {"nodes", workspaces}}}}};
    };
    struct Case {
        const char* what;
        nlohmann::json tree;
        FrontApp answer;
    } cases[] = {
        {"a focused view", tree({workspace(false, {view(11, false), view(22, true)})}), FrontApp::of(22)},
        {"a focused floating view", tree({workspace(false, nlohmann::json::array(), {view(33, true)})}),
         FrontApp::of(33)},
        {"an empty workspace", tree({workspace(false, {view(11, false)}), workspace(true, nlohmann::json::array())}),
         FrontApp::none()},
        {"a workspace with only floating windows",
         tree({workspace(true, nlohmann::json::array(), {view(33, false)})}), FrontApp::unknown()},
        {"a focused split container",
         tree({workspace(false, {{{"type", "con"}, {"focused", true}, {"nodes", {view(11, false), view(22, false)}}}})}),
         FrontApp::unknown()},
        {"a view without a pid (i3)",
         tree({workspace(false, {{{"type", "con"}, {"focused", true}, {"window", 12345}}})}), FrontApp::unknown()},
        {"nothing focused", tree({workspace(false, {view(11, false)})}), FrontApp::unknown()},
        {"not a tree", nlohmann::json::array({1, 2}), FrontApp::unknown()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SwayFrontWatcher::frontOfTree(c.tree.dump()), c.answer);
    }
}
