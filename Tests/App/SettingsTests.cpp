#include "Settings.h"

#include "Files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

using namespace trevlin;
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        char tmpl[] = "/tmp/trevlin-settings-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
    std::string str() const { return path.string(); }
    void write(const std::string& name, const std::string& text) const {
        ASSERT_TRUE(Files::writeAtomically((path / name).string(), text));
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(path)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

json savedJSON(const TempDir& dir) {
    auto bytes = Files::read(SettingsStore::path(dir.str()));
    EXPECT_TRUE(bytes.has_value());
    return json::parse(bytes.value_or("null"));
}

}  // namespace

TEST(Settings, EmptyObjectLoadsDefaultsAndSavesEveryKey) {
    TempDir dir;
    dir.write("settings.json", "{}");
    LoadedSettings loaded = SettingsStore::load(dir.str());
    EXPECT_TRUE(loaded.fileExists);
    EXPECT_EQ(loaded.settings, AppSettings());
    EXPECT_FALSE(loaded.settings.masterEnabled);
    EXPECT_TRUE(loaded.settings.autoEnabled);

    ASSERT_TRUE(SettingsStore::saveNow(loaded.settings, dir.str()));
    auto text = Files::read(SettingsStore::path(dir.str())).value_or("");
    json saved = json::parse(text);
    std::vector<std::string> keys;
    for (auto it = saved.begin(); it != saved.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"appearance", "autoAction", "autoDecisions", "autoEnabled",
                                              "autoIncludeCommandLine", "autoLimitCores", "autoTriggerCores",
                                              "autoTriggerSeconds", "chartRangeMinutes", "experimentalSystemLimits",
                                              "masterEnabled", "rules", "showInDock", "showSystemProcesses",
                                              "version", "welcomeShown"}));
    EXPECT_EQ(saved["version"], 2);
    // Written pretty with sorted keys: "appearance" comes first in the text.
    EXPECT_LT(text.find("\"appearance\""), text.find("\"autoAction\""));
    EXPECT_LT(text.find("\"showInDock\""), text.find("\"version\""));
    EXPECT_NE(text.find("\n  \"appearance\""), std::string::npos);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"settings.json"});
}

TEST(Settings, MissingFileGivesDefaultsAndAsksForASave) {
    TempDir dir;
    LoadedSettings loaded = SettingsStore::load(dir.str() + "/not-yet");
    EXPECT_FALSE(loaded.fileExists);
    EXPECT_EQ(loaded.settings, AppSettings());
    // Saving creates the missing folder.
    ASSERT_TRUE(SettingsStore::saveNow(loaded.settings, dir.str() + "/not-yet"));
    EXPECT_TRUE(SettingsStore::load(dir.str() + "/not-yet").fileExists);
}

TEST(Settings, ValuesSurviveARoundTrip) {
    TempDir dir;
    dir.write("settings.json", R"({
        "version": 1,
        "masterEnabled": true,
        "autoTriggerCores": 3,
        "autoTriggerSeconds": 12.0,
        "autoLimitCores": 0.5,
        "chartRangeMinutes": 30.0,
        "appearance": "purple",
        "autoAction": "pause",
        "unknownKey": [1, 2, 3],
        "rules": {
            "/usr/share/applications/a.desktop": {"mode": "custom", "method": "turbo", "maxCores": 2.0},
            "/usr/share/applications/b.desktop": {"mode": "custom"},
            "/usr/share/applications/c.desktop": {},
            "cli:/usr/bin/node": {"mode": "custom"},
            "cli:node": {"mode": "automatic", "pauseCatchUp": false}
        },
        "autoDecisions": {
            "cli:/bin/x": {"name": "x", "decision": "never"},
            "cli:claude": {"name": "claude", "decision": "always"},
            "/usr/share/applications/d.desktop": {"name": "D", "decision": "sometimes"}
        }
    })");
    AppSettings s = SettingsStore::load(dir.str()).settings;
    EXPECT_TRUE(s.masterEnabled);
    EXPECT_EQ(s.version, 2);
    EXPECT_EQ(s.autoTriggerCores, 3.0);
    EXPECT_EQ(s.autoTriggerSeconds, 12.0);
    EXPECT_EQ(s.autoLimitCores, 0.5);
    EXPECT_EQ(s.chartRangeMinutes, 30);
    EXPECT_EQ(s.appearance, "system");
    EXPECT_EQ(s.autoAction, "pause");

    StoredRule custom;
    custom.mode = RuleMode::custom;
    StoredRule turbo = custom;
    turbo.method = "turbo";
    turbo.maxCores = 2.0;
    StoredRule automatic;
    automatic.mode = RuleMode::automatic;
    automatic.pauseCatchUp = false;
    EXPECT_EQ(s.rules, (std::map<std::string, StoredRule>{{"/usr/share/applications/a.desktop", turbo},
                                                          {"/usr/share/applications/b.desktop", custom},
                                                          {"/usr/share/applications/c.desktop", StoredRule()},
                                                          {"cli:node", automatic}}));
    EXPECT_EQ(s.autoDecisions, (std::map<std::string, AutoDecisionRecord>{
                                   {"cli:claude", {"claude", "always"}},
                                   {"/usr/share/applications/d.desktop", {"D", "sometimes"}}}));

    ASSERT_TRUE(SettingsStore::saveNow(s, dir.str()));
    json saved = savedJSON(dir);
    EXPECT_EQ(saved["rules"]["/usr/share/applications/a.desktop"]["method"], "turbo");
    EXPECT_FALSE(saved["rules"].contains("cli:/usr/bin/node"));
    EXPECT_FALSE(saved["autoDecisions"].contains("cli:/bin/x"));
    EXPECT_FALSE(saved.contains("unknownKey"));
    EXPECT_EQ(saved["version"], 2);
    EXPECT_EQ(saved["appearance"], "system");
    EXPECT_EQ(SettingsStore::load(dir.str()).settings, s);
}

TEST(Settings, InvalidFilesAreMovedAsideAndGiveDefaults) {
    const std::vector<std::string> cases = {
        "not json",
        "[]",
        R"({"masterEnabled": 1})",
        R"({"autoTriggerCores": "2"})",
        R"({"autoTriggerCores": true})",
        R"({"chartRangeMinutes": 5.5})",
        R"({"appearance": 3})",
        R"({"rules": []})",
        R"({"rules": {"/a.desktop": {"mode": "sometimes"}}})",
        R"({"rules": {"/a.desktop": {"mode": "custom", "maxCores": "4"}}})",
        R"({"rules": {"/a.desktop": 1}})",
        R"({"autoDecisions": {"/a.desktop": {"name": "A"}}})",
        R"({"autoDecisions": {"/a.desktop": {"decision": "never"}}})",
    };
    const std::regex aside(R"(settings\.invalid-\d{4}-\d\d-\d\dT\d\d-\d\d-\d\dZ\.json)");
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        TempDir dir;
        dir.write("settings.json", text);
        testing::internal::CaptureStderr();
        LoadedSettings loaded = SettingsStore::load(dir.str());
        std::string err = testing::internal::GetCapturedStderr();

        EXPECT_EQ(loaded.settings, AppSettings());
        EXPECT_FALSE(loaded.fileExists);
        auto names = dir.names();
        ASSERT_EQ(names.size(), 1u);
        EXPECT_TRUE(std::regex_match(names[0], aside)) << names[0];
        EXPECT_EQ(Files::read((dir.path / names[0]).string()), text);
        EXPECT_NE(err.find("Trevlin: settings.json could not be read; moved aside to " + names[0] +
                           " and using defaults"),
                  std::string::npos)
            << err;
    }
}

TEST(Settings, BrokenFileThatCannotBeMovedStaysInPlace) {
    TempDir dir;
    dir.write("settings.json", R"({"masterEnabled": "yes"})");
    // Occupy the names the file would be moved to with non-empty folders.
    double t = static_cast<double>(std::time(nullptr));
    for (int s = 0; s < 5; ++s) {
        fs::path blocker = dir.path / ("settings.invalid-" + Files::fileTimestamp(t + s) + ".json");
        fs::create_directories(blocker / "keep");
    }
    testing::internal::CaptureStderr();
    LoadedSettings loaded = SettingsStore::load(dir.str());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(loaded.settings, AppSettings());
    EXPECT_TRUE(loaded.fileExists);  // nothing is written at start then
    EXPECT_EQ(Files::read(SettingsStore::path(dir.str())), R"({"masterEnabled": "yes"})");
    EXPECT_NE(err.find("Trevlin: settings.json could not be read and could not be moved aside ("), std::string::npos)
        << err;
    EXPECT_NE(err.find("); using defaults"), std::string::npos) << err;
}

TEST(Settings, FailedSaveIsLoggedAndReported) {
    TempDir dir;
    dir.write("file", "x");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(SettingsStore::saveNow(AppSettings(), dir.str() + "/file/sub"));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Trevlin: could not save settings: "), std::string::npos) << err;
}
