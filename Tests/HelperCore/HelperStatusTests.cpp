#include "HelperClient.h"
#include "HelperEnvironment.h"
#include "TempDir.h"

#include <gtest/gtest.h>


using namespace trevlin;

namespace {

const char* kStatus = R"({
    "version": 1, "pid": 4242, "updated": 1700000000.5,
    "groups": {
        "spotlight": {"cores": 0.4, "cap": 0.5, "method": "strict", "savedCores": 1.25,
                      "processCount": 3, "updated": 1700000000}
    }
})";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    auto pos = text.find(from);
    EXPECT_NE(pos, std::string::npos) << from;
    if (pos != std::string::npos) text.replace(pos, from.size(), to);
    return text;
}

}  // namespace

TEST(HelperStatus, DecodesAndRequiresEveryKey) {
    auto status = HelperClient::decodeStatus(kStatus);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->pid, 4242);
    EXPECT_EQ(status->updated, 1700000000.5);
    ASSERT_NE(status->group(HelperGroup::spotlight), nullptr);
    EXPECT_EQ(*status->group(HelperGroup::spotlight), (HelperGroupStatus{0.4, 0.5, "strict", 1.25, 3, 1700000000}));
    EXPECT_EQ(status->group(HelperGroup::timemachine), nullptr);

    const std::vector<std::pair<std::string, std::string>> broken = {
        {R"("version": 1, )", ""},
        {R"("pid": 4242)", R"("pid": "4242")"},
        {R"("pid": 4242)", R"("pid": 4294967296)"},
        {R"("updated": 1700000000.5)", R"("updated": true)"},
        {R"("processCount": 3, )", ""},
        {R"("processCount": 3)", R"("processCount": 3.5)"},
        {R"("savedCores": 1.25)", R"("savedCores": null)"},
        {R"("method": "strict")", R"("method": 1)"},
        {R"("groups": {)", R"("groups": {"timemachine": 1, )"},
    };
    for (const auto& [from, to] : broken) {
        SCOPED_TRACE(from + " -> " + to);
        EXPECT_EQ(HelperClient::decodeStatus(replaced(kStatus, from, to)), std::nullopt);
    }
    EXPECT_EQ(HelperClient::decodeStatus("[]"), std::nullopt);
    EXPECT_EQ(HelperClient::decodeStatus(""), std::nullopt);
}

TEST(HelperStatus, ReadsTheFile) {
    test::TempDir dir;
    EXPECT_EQ(HelperClient::readStatus(dir.write("helper-status.json", kStatus)), HelperClient::decodeStatus(kStatus));
    EXPECT_EQ(HelperClient::readStatus(dir.path() + "/missing.json"), std::nullopt);
}

TEST(HelperStatus, StateFollowsTheAgeOfTheFile) {
    auto at = [](double updated) {
        HelperStatusFile f;
        f.updated = updated;
        return std::optional<HelperStatusFile>(f);
    };
    const double now = 1000.0;
    struct Case {
        std::optional<HelperStatusFile> status;
        bool installed;
        HelperState expect;
    };
    const std::vector<Case> cases = {
        {std::nullopt, false, HelperState::notInstalled},
        {std::nullopt, true, HelperState::notResponding},
        {at(now - 7.9), false, HelperState::running},
        {at(now - 8.0), true, HelperState::notResponding},
        {at(now - 300), true, HelperState::notResponding},
        {at(now + 60), true, HelperState::running},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status ? c.status->updated : -1);
        EXPECT_EQ(HelperClient::state(c.status, c.installed, now), c.expect);
    }
}

TEST(HelperEnvironment, TestOverridesOnlyForOrdinaryUsers) {
    using Env = std::map<std::string, std::string>;
    const Env dirOnly{{"TREVLIN_HELPER_TEST_DIR", "/tmp/x"}};
    const Env both{{"TREVLIN_HELPER_TEST_DIR", "/tmp/x"}, {"TREVLIN_HELPER_TEST_ALLOW", "/tmp/bin"}};

    auto none = HelperEnvironment::resolve({}, 501);
    EXPECT_FALSE(none.testMode);
    EXPECT_EQ(none.rulesPath, "/var/lib/trevlin/Rules/helper-rules.json");
    EXPECT_EQ(none.statusPath, "/var/lib/trevlin/helper-status.json");
    EXPECT_EQ(none.journalDir, "/var/lib/trevlin/Journal");
    EXPECT_EQ(none.allow, AllowList::production());

    auto user = HelperEnvironment::resolve(dirOnly, 501);
    EXPECT_TRUE(user.testMode);
    EXPECT_EQ(user.rulesPath, "/tmp/x/helper-rules.json");
    EXPECT_EQ(user.statusPath, "/tmp/x/helper-status.json");
    EXPECT_EQ(user.journalDir, "/tmp/x/journal");
    EXPECT_EQ(user.allow, AllowList::production());
    EXPECT_TRUE(user.refusedOverrides.empty());

    auto userBoth = HelperEnvironment::resolve(both, 501);
    EXPECT_EQ(userBoth.allow, AllowList::test("/tmp/bin"));

    auto root = HelperEnvironment::resolve(both, 0);
    EXPECT_FALSE(root.testMode);
    EXPECT_EQ(root.rulesPath, none.rulesPath);
    EXPECT_EQ(root.allow, AllowList::production());
    EXPECT_EQ(root.refusedOverrides,
              (std::vector<std::string>{"TREVLIN_HELPER_TEST_ALLOW", "TREVLIN_HELPER_TEST_DIR"}));

    auto relative = HelperEnvironment::resolve({{"TREVLIN_HELPER_TEST_DIR", "x/y"}, {"TREVLIN_HELPER_TEST_ALLOW", ""}}, 501);
    EXPECT_FALSE(relative.testMode);
    EXPECT_EQ(relative.rulesPath, none.rulesPath);
    EXPECT_EQ(relative.allow, AllowList::production());
    EXPECT_TRUE(relative.refusedOverrides.empty());
}
