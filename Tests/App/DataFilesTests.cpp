// Every file Trevlin keeps, seen the way a hostile user or a killed run
// leaves the folder: links planted at the temporary names of the saves, and
// temporary files left behind by writers that are gone.
// Before any Qt header: the simulated platform has a member named like
// Qt's `signals` keyword.
#include "SimulatedPlatform.h"

#include "AppModel.h"
#include "Children.h"
#include "EngineContext.h"
#include "Files.h"
#include "HelperClient.h"
#include "Journal.h"
#include "LiveWriter.h"
#include "QtTestApp.h"
#include "RealPlatform.h"
#include "SavingsLedger.h"
#include "Settings.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>

using namespace trevlin;
using namespace trevlin::test;
namespace fs = std::filesystem;

namespace {

/// Saves one kind of file into `dir` the way the program does; true when
/// the save succeeded and the file reads back.
struct Saver {
    const char* what;
    const char* file;
    std::function<bool(const std::string& dir)> save;
};

const Saver kSavers[] = {
    {"settings", "settings.json",
     [](const std::string& dir) {
         AppSettings s;
         s.masterEnabled = true;
         return SettingsStore::saveNow(s, dir) && SettingsStore::load(dir).settings == s;
     }},
    {"savings", "savings.json",
     [](const std::string& dir) {
         double uptime = 100;
         SavingsLedger ledger([&] { return uptime; }, [] { return 1772878530.0; });
         ledger.enablePersistence(dir + "/savings.json");
         ledger.record("cli:make", 1.0);
         uptime += 1;
         ledger.record("cli:make", 1.0);
         SavingsLedger again([&] { return uptime; }, [] { return 1772878530.0; });
         again.enablePersistence(dir + "/savings.json");
         return ledger.writes() == 1 && again.days().size() == 1;
     }},
    {"journal", "journal-<pid>.json",
     [](const std::string& dir) {
         Journal journal(realPlatform(), dir);
         journal.update("cli:make", 42, 1, true, false);
         ::testing::internal::CaptureStderr();
         journal.flush();
         const bool quiet = ::testing::internal::GetCapturedStderr().empty();
         auto bytes = Files::read(journal.filePath());
         return quiet && bytes && bytes->find("\"cli:make\"") != std::string::npos;
     }},
    {"helper rules", "helper-rules.json",
     [](const std::string& dir) {
         const HelperRules::RuleMap rules{{HelperGroup::spotlight, HelperRule{0.5, HelperMethod::strict}}};
         HelperClient::writeRules(rules, dir + "/helper-rules.json");
         return HelperRules::parse(HelperRules::read(dir + "/helper-rules.json").value_or(""), 8) == rules;
     }},
};

std::string fileName(const Saver& saver) {
    std::string name = saver.file;
    if (auto at = name.find("<pid>"); at != std::string::npos) name.replace(at, 5, std::to_string(::getpid()));
    return name;
}

/// A pid that no process has any more.
pid_t deadPid(Children& kids) {
    pid_t pid = kids.spawn({"true"});
    kids.kill(pid);
    return pid;
}

/// What a run killed in the middle of its writes leaves in `dir`, and the
/// temporary file of a live writer beside it.
struct Leftovers {
    std::vector<std::string> stale;
    std::string live;
};

Leftovers leaveBehind(Children& kids, const TempDir& dir, const std::string& relative) {
    const std::string folder = dir.mkdir(relative);
    Leftovers out;
    const pid_t writer = writerInTheMiddleOf(kids, folder + "/settings.json");
    EXPECT_GT(writer, 0);
    out.live = folder + "/settings.json.tmp-" + std::to_string(writer);
    const std::string dead = std::to_string(deadPid(kids));
    for (const std::string& name : {"journal-" + dead + ".json", std::string("savings.json"),
                                   std::string("settings.json")})
        out.stale.push_back(dir.write(relative + "/" + name + ".tmp-" + dead, "{\"partial\": "));
    return out;
}

}  // namespace

TEST(DataFiles, ALinkPlantedAtATemporaryNameIsNeverWrittenThrough) {
    for (const Saver& saver : kSavers) {
        for (bool dangling : {false, true}) {
            SCOPED_TRACE(std::string(saver.what) + (dangling ? ", link to a missing file" : ", link to a file"));
            TempDir dir;
            const std::string victim = dir.write("outside/victim", "precious");
            const std::string created = dir.path() + "/outside/created";
            const std::string temporary = Files::temporaryPath(dir.path() + "/" + fileName(saver));
            fs::create_symlink(dangling ? created : victim, temporary);

            EXPECT_TRUE(saver.save(dir.path()));
            EXPECT_EQ(Files::read(victim), "precious");
            EXPECT_FALSE(fs::exists(fs::symlink_status(created)));
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.path() + "/" + fileName(saver))));
            EXPECT_FALSE(fs::exists(fs::symlink_status(temporary)));
        }
    }
}

TEST(DataFiles, TheAppsStartRemovesWhatKilledWritersLeft) {
    TempDir dir;
    Children kids;
    // Both children are forked before Qt starts any thread.
    const Leftovers data = leaveBehind(kids, dir, "data");
    const Leftovers journals = leaveBehind(kids, dir, "journal");

    trevlin::testing::qtApp();
    AppModelOptions o;
    o.context = EngineContext::make(std::make_shared<SimulatedPlatform>());
    o.dataDirectory = dir.path() + "/data";
    o.journalDirectory = dir.path() + "/journal";
    o.monitorTimer = false;
    o.notifications = false;
    ::testing::internal::CaptureStderr();
    auto model = std::make_unique<AppModel>(o);
    const std::string err = ::testing::internal::GetCapturedStderr();

    for (const Leftovers* left : {&data, &journals}) {
        for (const auto& path : left->stale) {
            EXPECT_FALSE(Files::exists(path)) << path;
            EXPECT_NE(err.find("Trevlin: removed " + fs::path(path).filename().string()), std::string::npos) << err;
        }
        EXPECT_EQ(Files::read(left->live), "{\"entries\": [") << left->live;
    }
    model.reset();
}

TEST(DataFiles, RecoverRemovesWhatKilledWritersLeft) {
    TempDir home;
    Children kids;
    const Leftovers left = leaveBehind(kids, home, "Trevlin");

    const std::string command = "XDG_DATA_HOME=" + home.path() + " " TREVLINCTL_PATH " recover 2>&1";
    FILE* out = ::popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, out)) > 0;) text.append(buf, n);
    EXPECT_EQ(::pclose(out), 0) << text;

    for (const auto& path : left.stale) EXPECT_FALSE(Files::exists(path)) << text;
    EXPECT_EQ(Files::read(left.live), "{\"entries\": [") << text;
    EXPECT_NE(text.find("restored 0 process(es)"), std::string::npos) << text;
}
