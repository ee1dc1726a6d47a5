#include "Settings.h"

#include "Files.h"
#include "FileNames.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

using namespace trevlin;
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

json savedJSON(const test::TempDir& dir) {
    auto bytes = Files::read(SettingsStore::path(dir.path()));
    EXPECT_TRUE(bytes.has_value());
    return json::parse(bytes.value_or("null"));
}

}  // namespace

TEST(Settings, EmptyObjectLoadsDefaultsAndSavesEveryKey) {
    test::TempDir dir;
    dir.write("settings.json", "{}");
    LoadedSettings loaded = SettingsStore::load(dir.path());
    EXPECT_TRUE(loaded.fileExists);
    EXPECT_EQ(loaded.settings, AppSettings());
    EXPECT_FALSE(loaded.settings.masterEnabled);
    EXPECT_TRUE(loaded.settings.autoEnabled);

    ASSERT_TRUE(SettingsStore::saveNow(loaded.settings, dir.path()));
    auto text = Files::read(SettingsStore::path(dir.path())).value_or("");
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
    EXPECT_EQ(test::fileNames(dir.path()), std::vector<std::string>{"settings.json"});
}

TEST(Settings, MissingFileGivesDefaultsAndAsksForASave) {
    test::TempDir dir;
    LoadedSettings loaded = SettingsStore::load(dir.path() + "/not-yet");
    EXPECT_FALSE(loaded.fileExists);
    EXPECT_EQ(loaded.settings, AppSettings());
    // Saving creates the missing folder.
    ASSERT_TRUE(SettingsStore::saveNow(loaded.settings, dir.path() + "/not-yet"));
    EXPECT_TRUE(SettingsStore::load(dir.path() + "/not-yet").fileExists);
}

TEST(Settings, ValuesSurviveARoundTrip) {
    test::TempDir dir;
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
    AppSettings s = SettingsStore::load(dir.path()).settings;
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

    ASSERT_TRUE(SettingsStore::saveNow(s, dir.path()));
    json saved = savedJSON(dir);
    EXPECT_EQ(saved["rules"]["/usr/share/applications/a.desktop"]["method"], "turbo");
    EXPECT_FALSE(saved["rules"].contains("cli:/usr/bin/node"));
    EXPECT_FALSE(saved["autoDecisions"].contains("cli:/bin/x"));
    EXPECT_FALSE(saved.contains("unknownKey"));
    EXPECT_EQ(saved["version"], 2);
    EXPECT_EQ(saved["appearance"], "system");
    EXPECT_EQ(SettingsStore::load(dir.path()).settings, s);
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
        test::TempDir dir;
        dir.write("settings.json", text);
        testing::internal::CaptureStderr();
        LoadedSettings loaded = SettingsStore::load(dir.path());
        std::string err = testing::internal::GetCapturedStderr();

        EXPECT_EQ(loaded.settings, AppSettings());
        EXPECT_FALSE(loaded.fileExists);
        auto files = test::fileNames(dir.path());
        ASSERT_EQ(files.size(), 1u);
        EXPECT_TRUE(std::regex_match(files[0], aside)) << files[0];
        EXPECT_EQ(Files::read(dir.path() + "/" + files[0]), text);
        EXPECT_NE(err.find("Trevlin: settings.json could not be read; moved aside to " + files[0] +
                           " and using defaults"),
                  std::string::npos)
            << err;
    }
}

TEST(Settings, BrokenFileThatCannotBeMovedStaysInPlace) {
    test::TempDir dir;
    dir.write("settings.json", R"({"masterEnabled": "yes"})");
    // Occupy every name the file could be moved to with non-empty folders
    // (a moved-aside file is never replaced: taken names are skipped).
    double t = static_cast<double>(std::time(nullptr));
    for (int s = 0; s < 5; ++s) {
        for (int n = 1; n <= Files::maxAsideNames; ++n) {
            const std::string counter = n == 1 ? "" : "-" + std::to_string(n);
            fs::path blocker =
                fs::path(dir.path()) / ("settings.invalid-" + Files::fileTimestamp(t + s) + counter + ".json");
            fs::create_directories(blocker / "keep");
        }
    }
    testing::internal::CaptureStderr();
    LoadedSettings loaded = SettingsStore::load(dir.path());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(loaded.settings, AppSettings());
    EXPECT_TRUE(loaded.fileExists);  // nothing is written at start then
    EXPECT_EQ(Files::read(SettingsStore::path(dir.path())), R"({"masterEnabled": "yes"})");
    EXPECT_NE(err.find("Trevlin: settings.json could not be read and could not be moved aside ("), std::string::npos)
        << err;
    EXPECT_NE(err.find("); using defaults"), std::string::npos) << err;
}

TEST(Settings, BrokenFilesMovedAsideInTheSameSecondAllSurvive) {
    test::TempDir dir;
    // Earlier moved-aside files under every name of the next few seconds.
    const double t = static_cast<double>(std::time(nullptr));
    std::vector<std::string> earlier;
    for (int s = 0; s < 5; ++s)
        earlier.push_back(dir.write("settings.invalid-" + Files::fileTimestamp(t + s) + ".json", "earlier"));
    const std::vector<std::string> broken = {"first", "[\"second\"]"};
    for (const auto& text : broken) {
        dir.write("settings.json", text);
        testing::internal::CaptureStderr();
        EXPECT_EQ(SettingsStore::load(dir.path()).settings, AppSettings());
        testing::internal::GetCapturedStderr();
    }
    for (const auto& path : earlier) EXPECT_EQ(Files::read(path), "earlier");
    std::vector<std::string> moved;
    const std::regex counted(R"(settings\.invalid-\d{4}-\d\d-\d\dT\d\d-\d\d-\d\dZ-\d+\.json)");
    for (const auto& name : test::fileNames(dir.path())) {
        if (Files::read(dir.path() + "/" + name) == "earlier") continue;
        EXPECT_TRUE(std::regex_match(name, counted)) << name;
        moved.push_back(*Files::read(dir.path() + "/" + name));
    }
    std::sort(moved.begin(), moved.end());
    EXPECT_EQ(moved, (std::vector<std::string>{"[\"second\"]", "first"}));
}

TEST(Settings, AFileFarAboveAnyRealSizeIsMovedAsideUnread) {
    test::TempDir dir;
    const std::string path = dir.write("settings.json", "");
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(SettingsStore::maxFileBytes) + 1), 0);
    testing::internal::CaptureStderr();
    LoadedSettings loaded = SettingsStore::load(dir.path());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(loaded.settings, AppSettings());
    EXPECT_FALSE(loaded.fileExists);
    auto files = test::fileNames(dir.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(fs::file_size(dir.path() + "/" + files[0]), SettingsStore::maxFileBytes + 1);
    EXPECT_NE(err.find("Trevlin: settings.json is larger than 16777216 bytes and was not read; moved aside to " +
                       files[0] + " and using defaults"),
              std::string::npos)
        << err;
}

TEST(Settings, FailedSaveIsLoggedAndReported) {
    test::TempDir dir;
    dir.write("file", "x");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(SettingsStore::saveNow(AppSettings(), dir.path() + "/file/sub"));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Trevlin: could not save settings: "), std::string::npos) << err;
}
