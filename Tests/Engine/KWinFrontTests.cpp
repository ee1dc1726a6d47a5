// The KWin watcher against a fake KWin on a private session bus: it owns
// org.kde.KWin, serves /Scripting's loadScript and unloadScript and the script
// object's run(), and "runs" the script the way KWin does: it reads the file
// it was given and makes the script's own call (the bus name, object, method
// written in it) with each activated window's pid.
#include "BusPeer.h"
#include "FrontReports.h"
#include "KWinFrontWatcher.h"
#include "PrivateBus.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <sstream>

using namespace trevlin;
using namespace trevlin::test;

namespace {

class FakeKWin {
public:
    /// `firstPid`: the active window's pid when the script starts.
    FakeKWin(const std::string& address, std::string firstPid) : peer_(address), firstPid_(std::move(firstPid)) {
        static const sd_bus_vtable scripting[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("loadScript", "ss", "i", loadScript, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("unloadScript", "s", "b", unloadScript, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_VTABLE_END,
        };
        static const sd_bus_vtable script[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("run", "", "", run, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_VTABLE_END,
        };
        peer_.run([&](sd_bus* bus) {
            sd_bus_add_object_vtable(bus, nullptr, "/Scripting", "org.kde.kwin.Scripting", scripting, this);
            sd_bus_add_object_vtable(bus, nullptr, "/Scripting/Script0", "org.kde.kwin.Script", script, this);
            sd_bus_request_name(bus, "org.kde.KWin", 0);
        });
    }

    /// A window with this pid becomes active ("0": none, "-1": pid unknown).
    void activate(const std::string& pid) {
        peer_.run([&](sd_bus* bus) { report(bus, pid); });
    }
    /// KWin quits: its name goes with its connection.
    void quit() { peer_.leave(); }

    std::string scriptPath() {
        std::lock_guard<std::mutex> g(lock_);
        return scriptPath_;
    }
    std::string target() {
        std::lock_guard<std::mutex> g(lock_);
        return target_[0];
    }
    std::vector<std::string> unloaded() {
        std::lock_guard<std::mutex> g(lock_);
        return unloaded_;
    }

private:
    static int loadScript(sd_bus_message* m, void* userdata, sd_bus_error*) {
        auto* self = static_cast<FakeKWin*>(userdata);
        const char *path = nullptr, *name = nullptr;
        sd_bus_message_read(m, "ss", &path, &name);
        std::lock_guard<std::mutex> g(self->lock_);
        // KWin refuses a second script of the same name.
        if (self->loaded_) return sd_bus_reply_method_return(m, "i", -1);
        self->loaded_ = true;
        self->scriptPath_ = path;
        return sd_bus_reply_method_return(m, "i", 0);
    }
    static int unloadScript(sd_bus_message* m, void* userdata, sd_bus_error*) {
        auto* self = static_cast<FakeKWin*>(userdata);
        const char* name = nullptr;
        sd_bus_message_read(m, "s", &name);
        std::lock_guard<std::mutex> g(self->lock_);
        self->unloaded_.push_back(name);
        bool was = self->loaded_;
        self->loaded_ = false;
        return sd_bus_reply_method_return(m, "b", was);
    }
    static int run(sd_bus_message* m, void* userdata, sd_bus_error* error) {
        auto* self = static_cast<FakeKWin*>(userdata);
        std::string path;
        {
            std::lock_guard<std::mutex> g(self->lock_);
            if (!self->loaded_) return sd_bus_error_set(error, "org.kde.kwin.Scripting.FileError", "not loaded");
            path = self->scriptPath_;
        }
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        std::smatch call;
        const std::string script = text.str();
        static const std::regex callDBus(R"re(callDBus\("([^"]+)", "([^"]+)", "([^"]+)", "([^"]+)")re");
        if (!std::regex_search(script, call, callDBus))
            return sd_bus_error_set(error, "org.kde.kwin.Scripting.FileError", "no call in the script");
        {
            std::lock_guard<std::mutex> g(self->lock_);
            for (int i = 0; i < 4; ++i) self->target_[i] = call[i + 1];
        }
        // Like KWin: the script's first report goes out before run() answers.
        self->report(sd_bus_message_get_bus(m), self->firstPid_);
        return sd_bus_reply_method_return(m, "");
    }
    void report(sd_bus* bus, const std::string& pid) {
        std::lock_guard<std::mutex> g(lock_);
        sd_bus_call_method_async(bus, nullptr, target_[0].c_str(), target_[1].c_str(), target_[2].c_str(),
                                 target_[3].c_str(), nullptr, nullptr, "s", pid.c_str());
    }

    BusPeer peer_;
    std::string firstPid_;
    std::mutex lock_;
    bool loaded_ = false;          // guarded by lock_
    std::string scriptPath_;       // guarded by lock_
    std::string target_[4];        // guarded by lock_: service, path, interface, method
    std::vector<std::string> unloaded_;  // guarded by lock_
};

class KWinFront : public ::testing::Test {
protected:
    void SetUp() override {
        if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon could not be started";
    }
    PrivateBus bus;
    TempDir runtime;
};

}  // namespace

TEST_F(KWinFront, ReportsEachActivationAndUnloadsItsScriptOnStop) {
    FakeKWin kwin(bus.address(), "1111");
    FrontReports reports;
    std::string script;
    {
        linux::KWinFrontWatcher watcher(bus.address(), runtime.path());
        EXPECT_EQ(watcher.start(reports.callback()), FrontApp::of(1111));
        script = kwin.scriptPath();
        EXPECT_EQ(script.rfind(runtime.path() + "/", 0), 0u) << script;

        // Nobody but KWin speaks for KWin.
        BusPeer stranger(bus.address());
        int refused = 0;
        stranger.run([&](sd_bus* b) {
            refused = sd_bus_call_method(b, kwin.target().c_str(), linux::KWinFrontWatcher::objectPath,
                                         linux::KWinFrontWatcher::interfaceName, "Activated", nullptr, nullptr, "s",
                                         "9999");
        });
        EXPECT_LT(refused, 0);

        kwin.activate("2222");
        kwin.activate("2222");  // the same window again: no report
        kwin.activate("0");     // no window active
        kwin.activate("-1");    // a window whose process KWin does not know
        kwin.activate("3333");
        EXPECT_EQ(reports.waitFor(4), (std::vector<FrontApp>{FrontApp::of(2222), FrontApp::none(),
                                                              FrontApp::unknown(), FrontApp::of(3333)}));
    }
    EXPECT_EQ(kwin.unloaded(), std::vector<std::string>{linux::KWinFrontWatcher::pluginName});
    EXPECT_NE(::access(script.c_str(), F_OK), 0) << "the script file is left behind";
}

TEST_F(KWinFront, FollowsKWinComingAndGoingAndSurvivesTheBus) {
    FrontReports reports;
    linux::KWinFrontWatcher watcher(bus.address(), runtime.path());
    EXPECT_EQ(watcher.start(reports.callback()), FrontApp::unknown());
    EXPECT_EQ(watcher.unknownReason(), linux::kFrontUntoldReason);
    {
        FakeKWin first(bus.address(), "1111");
        reports.waitFor(1);
        first.quit();
        reports.waitFor(2);
    }
    FakeKWin second(bus.address(), "4444");
    reports.waitFor(3);
    bus.stop();
    EXPECT_EQ(reports.waitFor(4), (std::vector<FrontApp>{FrontApp::of(1111), FrontApp::unknown(),
                                                          FrontApp::of(4444), FrontApp::unknown()}));
    EXPECT_EQ(watcher.unknownReason(), linux::kFrontUntoldReason);
}
