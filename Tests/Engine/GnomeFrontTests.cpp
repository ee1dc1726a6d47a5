// The GNOME Shell watcher against a fake of Trevlin's extension on a private
// session bus: the bus name app.trevlin.FrontWindow with the Pid property,
// PropertiesChanged on each focus change, and the name coming and going as the
// user enables and disables the extension. Also: installing the extension.
#include "BusPeer.h"
#include "Files.h"
#include "FrontReports.h"
#include "GnomeFrontWatcher.h"
#include "GnomeShellExtension.h"
#include "PrivateBus.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace trevlin;
using namespace trevlin::test;
using linux::GnomeFrontWatcher;

namespace {

class FakeExtension {
public:
    FakeExtension(const std::string& address, int32_t pid) : peer_(address), pid_(pid) {
        static const sd_bus_vtable vtable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_PROPERTY("Pid", "i", readPid, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
            SD_BUS_VTABLE_END,
        };
        peer_.run([&](sd_bus* bus) {
            sd_bus_add_object_vtable(bus, nullptr, GnomeFrontWatcher::objectPath, GnomeFrontWatcher::interfaceName,
                                     vtable, this);
        });
        enable();
    }

    /// The window of `pid` gets the focus (0: none, -1: its pid is not known).
    void focus(int32_t pid) {
        peer_.run([&](sd_bus* bus) {
            pid_ = pid;
            sd_bus_emit_properties_changed(bus, GnomeFrontWatcher::objectPath, GnomeFrontWatcher::interfaceName, "Pid",
                                           nullptr);
        });
    }
    void enable() {
        peer_.run([](sd_bus* bus) { sd_bus_request_name(bus, GnomeFrontWatcher::busName, 0); });
    }
    void disable() {
        peer_.run([](sd_bus* bus) { sd_bus_release_name(bus, GnomeFrontWatcher::busName); });
    }

private:
    static int readPid(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* userdata,
                       sd_bus_error*) {
        return sd_bus_message_append(reply, "i", static_cast<FakeExtension*>(userdata)->pid_);
    }

    BusPeer peer_;
    int32_t pid_;  // touched on the peer's thread only
};

class GnomeFront : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
    }
    PrivateBus bus;
};

}  // namespace

TEST_F(GnomeFront, ReportsEachFocusAndFollowsTheExtensionBeingEnabledAndDisabled) {
    FrontReports reports;
    GnomeFrontWatcher watcher(bus.address());
    EXPECT_EQ(watcher.start(reports.callback()), FrontApp::unknown());
    EXPECT_EQ(watcher.unknownReason(), linux::kFrontGnomeExtensionReason);

    FakeExtension extension(bus.address(), 1111);
    reports.waitFor(1);
    EXPECT_EQ(watcher.unknownReason(), "");
    extension.focus(2222);
    extension.focus(2222);  // the same window again: no report
    extension.focus(0);     // nothing has the focus
    extension.focus(-1);    // a window whose process the shell does not know
    extension.focus(3333);
    reports.waitFor(5);
    extension.disable();
    extension.enable();
    EXPECT_EQ(reports.waitFor(7),
              (std::vector<FrontApp>{FrontApp::of(1111), FrontApp::of(2222), FrontApp::none(), FrontApp::unknown(),
                                     FrontApp::of(3333), FrontApp::unknown(), FrontApp::of(3333)}));
}

TEST_F(GnomeFront, SurvivesTheShellAndTheBusGoingAway) {
    FrontReports reports;
    GnomeFrontWatcher watcher(bus.address());
    {
        FakeExtension extension(bus.address(), 1111);
        EXPECT_EQ(watcher.start(reports.callback()), FrontApp::of(1111));
    }
    reports.waitFor(1);
    EXPECT_EQ(watcher.unknownReason(), linux::kFrontGnomeExtensionReason);
    FakeExtension again(bus.address(), 2222);
    reports.waitFor(2);
    bus.stop();
    EXPECT_EQ(reports.waitFor(3),
              (std::vector<FrontApp>{FrontApp::unknown(), FrontApp::of(2222), FrontApp::unknown()}));
    EXPECT_EQ(watcher.unknownReason(), linux::kFrontUntoldReason);
}

TEST(GnomeExtensionInstall, WritesTheFormatOfTheRunningShell) {
    TempDir home;
    const std::string dir = home.path() + "/gnome-shell/extensions/trevlin-front@trevlin.app";
    // This file sits in Tests/Engine/ of the source tree.
    const std::string resources =
        (std::filesystem::path(__FILE__).parent_path() / "../../Resources/gnome-shell-extension").string();
    struct Case {
        int shellMajor;
        const char* script;
    } cases[] = {{43, "/legacy/extension.js"}, {46, "/extension.js"}, {0, "/extension.js"}, {43, "/legacy/extension.js"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shellMajor);
        std::string error;
        ASSERT_TRUE(linux::installGnomeExtension(home.path(), c.shellMajor, &error)) << error;
        EXPECT_EQ(Files::read(dir + "/extension.js"), Files::read(resources + c.script));
        EXPECT_EQ(Files::read(dir + "/metadata.json"), Files::read(resources + "/metadata.json"));
    }
    std::string error;
    EXPECT_FALSE(linux::installGnomeExtension(home.write("file", "") + "/under-a-file", 46, &error));
    EXPECT_FALSE(error.empty());
}
