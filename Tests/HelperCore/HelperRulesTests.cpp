#include "HelperClient.h"
#include "HelperRules.h"
#include "FileNames.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

using namespace trevlin;
namespace fs = std::filesystem;
using RuleMap = HelperRules::RuleMap;

namespace {

// Valid JSON padded with blanks to exactly `size` bytes.
std::string padded(const std::string& json, size_t size) { return json + std::string(size - json.size(), ' '); }

const HelperRule strict(double c) { return {c, HelperMethod::strict}; }
const HelperRule ecores(double c) { return {c, HelperMethod::ecores}; }

}  // namespace

TEST(HelperRules, ParseClampsAndSkipsBadGroupsAlone) {
    const std::string tmOne = R"("timemachine": {"method": "ecores", "cores": 1})";
    struct Case {
        std::string data;
        int logicalCores;
        RuleMap expect;
    };
    const std::vector<Case> cases = {
        {R"({"spotlight": {"method": "strict", "cores": 0.1}})", 8, {{HelperGroup::spotlight, strict(0.25)}}},
        {R"({"spotlight": {"method": "strict", "cores": 20}})", 8, {{HelperGroup::spotlight, strict(8.0)}}},
        {R"({"spotlight": {"method": "strict", "cores": 3}})", 2, {{HelperGroup::spotlight, strict(2.0)}}},
        {R"({"spotlight": {"method": "strict", "cores": 1.5}})", 1, {{HelperGroup::spotlight, strict(1.0)}}},
        {R"({"spotlight": {"method": "strict", "cores": 0.5}})", 1, {{HelperGroup::spotlight, strict(0.5)}}},
        {R"({"spotlight": {"method": "ecores", "cores": 1.5}, "version": "whatever", "extra": 1})", 4,
         {{HelperGroup::spotlight, ecores(1.5)}}},
        {R"({"spotlight": {"method": "strict", "cores": true}, )" + tmOne + "}", 8,
         {{HelperGroup::timemachine, ecores(1.0)}}},
        {R"({"spotlight": {"method": "pause", "cores": 1}, )" + tmOne + "}", 8,
         {{HelperGroup::timemachine, ecores(1.0)}}},
        {R"({"spotlight": {"method": "Strict", "cores": 1}, )" + tmOne + "}", 8,
         {{HelperGroup::timemachine, ecores(1.0)}}},
        {R"({"spotlight": {"cores": 1}, )" + tmOne + "}", 8, {{HelperGroup::timemachine, ecores(1.0)}}},
        {R"({"spotlight": {"method": "strict", "cores": "1"}, )" + tmOne + "}", 8,
         {{HelperGroup::timemachine, ecores(1.0)}}},
        {R"({"spotlight": {"method": "strict"}, )" + tmOne + "}", 8, {{HelperGroup::timemachine, ecores(1.0)}}},
        {R"({"spotlight": [1], )" + tmOne + "}", 8, {{HelperGroup::timemachine, ecores(1.0)}}},
        {"[]", 8, {}},
        {"not json", 8, {}},
        {"", 8, {}},
        {padded(R"({"spotlight": {"method": "strict", "cores": 1}})", 4096), 8, {{HelperGroup::spotlight, strict(1)}}},
        {padded(R"({"spotlight": {"method": "strict", "cores": 1}})", 4097), 8, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data.substr(0, 120) + " on " + std::to_string(c.logicalCores) + " cores");
        EXPECT_EQ(HelperRules::parse(c.data, c.logicalCores), c.expect);
    }
}

TEST(HelperRules, EncodeSortsKeysAndReadsBack) {
    RuleMap rules{{HelperGroup::timemachine, ecores(1)}, {HelperGroup::spotlight, strict(0.5)}};
    std::string bytes = HelperRules::encode(rules);
    auto root = nlohmann::json::parse(bytes);
    std::vector<std::string> keys;
    for (auto it = root.begin(); it != root.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"spotlight", "timemachine", "version"}));
    EXPECT_EQ(root["version"], 1);
    EXPECT_EQ(root["spotlight"]["method"], "strict");
    EXPECT_EQ(root["timemachine"]["cores"], 1.0);
    EXPECT_LT(bytes.find("\"spotlight\""), bytes.find("\"timemachine\""));
    EXPECT_LT(bytes.find("\"timemachine\""), bytes.find("\"version\""));
    EXPECT_NE(bytes.find('\n'), std::string::npos);  // indented
    EXPECT_EQ(HelperRules::parse(bytes, 8), rules);

    EXPECT_EQ(nlohmann::json::parse(HelperRules::encode({})), (nlohmann::json{{"version", 1}}));
}

TEST(HelperRules, ReadRefusesWhatARootReaderMustNotFollow) {
    test::TempDir dir;
    const std::string good = R"({"spotlight": {"method": "strict", "cores": 1}})";
    std::string regular = dir.write("helper-rules.json", good);
    EXPECT_EQ(HelperRules::read(regular), good);
    EXPECT_EQ(HelperRules::read(dir.write("full", std::string(4096, ' '))), std::string(4096, ' '));
    EXPECT_EQ(HelperRules::read(dir.write("big", padded(good, 4097))), std::nullopt);

    fs::create_symlink(regular, dir.path() + "/link");
    EXPECT_EQ(HelperRules::read(dir.path() + "/link"), std::nullopt);

    fs::create_directory(dir.path() + "/folder");
    EXPECT_EQ(HelperRules::read(dir.path() + "/folder"), std::nullopt);

    // A FIFO with no writer would block a plain open for good.
    ASSERT_EQ(::mkfifo((dir.path() + "/fifo").c_str(), 0600), 0);
    EXPECT_EQ(HelperRules::read(dir.path() + "/fifo"), std::nullopt);

    EXPECT_EQ(HelperRules::read(dir.path() + "/missing"), std::nullopt);
}

TEST(HelperClient, WriteRulesReplacesTheFileAndCleansUpOnFailure) {
    test::TempDir dir;
    const std::string target = dir.path() + "/helper-rules.json";
    dir.write("helper-rules.json", "old");
    RuleMap rules{{HelperGroup::spotlight, strict(0.5)}};
    HelperClient::writeRules(rules, target);
    EXPECT_EQ(HelperRules::parse(HelperRules::read(target).value_or(""), 8), rules);
    EXPECT_EQ(test::fileNames(dir.path()), std::vector<std::string>{"helper-rules.json"});

    // The folder is missing: the temporary file cannot be written.
    try {
        HelperClient::writeRules(rules, dir.path() + "/Rules/helper-rules.json");
        ADD_FAILURE() << "no error thrown";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
    }

    // The target is a non-empty folder: the rename fails and the temporary
    // file must not stay behind.
    fs::create_directories(dir.path() + "/occupied/inside");
    try {
        HelperClient::writeRules(rules, dir.path() + "/occupied");
        ADD_FAILURE() << "no error thrown";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code().category(), std::generic_category());
        EXPECT_EQ(e.code().value(), EISDIR) << e.what();
    }
    EXPECT_EQ(test::fileNames(dir.path()), (std::vector<std::string>{"helper-rules.json", "occupied"}));
}
