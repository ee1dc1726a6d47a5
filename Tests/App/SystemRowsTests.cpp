#include "SystemRows.h"

#include <gtest/gtest.h>

using namespace trevlin;

namespace {

SystemProcess proc(Pid pid, double cores, const std::string& command) {
    auto names = SystemProcessNames::friendly(command);
    return SystemProcess{pid, "root", command, names.name, cores, names.needsHelper};
}

SystemBreakdown breakdown(std::vector<SystemProcess> processes, double interval = 5) {
    return SystemBreakdown{1.7e9, interval, std::move(processes)};
}

double elseCores(const std::vector<SystemRow>& rows) {
    EXPECT_FALSE(rows.empty());
    EXPECT_EQ(rows.back().id, "else");
    return rows.empty() ? -1 : rows.back().cores;
}

}  // namespace

TEST(SystemRows, EverythingElseFromTheOtherHistory) {
    auto three = breakdown({proc(1, 0.3, "a"), proc(2, 0.3, "b"), proc(3, 0.3, "c")}, 5);
    const AllowList& allow = AllowList::production();
    struct Case {
        const char* what;
        SystemBreakdown b;
        std::vector<float> history;
        std::optional<double> latest;
        double expect;
    };
    const std::vector<Case> cases = {
        {"average 1.5 minus 0.9", three, {1.5f, 1.5f, 1.5f, 1.5f, 1.5f}, std::nullopt, 0.6},
        {"average below the named rows", three, {0.8f, 0.8f}, std::nullopt, 0.0},
        {"only the last 5 samples count", three, {9, 9, 9, 1.5f, 1.5f, 1.5f, 1.5f, 1.5f}, std::nullopt, 0.6},
        {"interval 4.5 rounds away from zero to 5", breakdown(three.processes, 4.5), {9, 3.5f, 1, 1, 1, 1},
         std::nullopt, 0.6},
        {"interval 4.4 rounds to 4", breakdown(three.processes, 4.4), {9, 1.5f, 1.5f, 1.5f, 1.5f}, std::nullopt, 0.6},
        {"at least one sample", breakdown(three.processes, 0.2), {9, 1.5f}, std::nullopt, 0.6},
        {"shorter history than the interval", three, {1.5f, 1.5f}, std::nullopt, 0.6},
        {"empty history uses the latest snapshot", three, {}, 2.0, 1.1},
        {"no history, no snapshot", three, {}, std::nullopt, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto rows = buildSystemRows(c.b, c.history, c.latest, false, allow);
        ASSERT_EQ(rows.size(), 4u);
        EXPECT_NEAR(elseCores(rows), c.expect, 1e-6);
        EXPECT_EQ(rows.back(), (SystemRow{"else", "everything else", rows.back().cores, "can't limit", std::nullopt}));
    }
}

TEST(SystemRows, EightNamedRowsWithoutOurOwnProcesses) {
    std::vector<SystemProcess> ps;
    ps.push_back(proc(1, 2.0, "/usr/lib/trevlin/Trevlin"));
    for (int i = 0; i < 10; ++i) ps.push_back(proc(100 + i, 1.0 - i * 0.1, "/usr/sbin/d" + std::to_string(i)));
    auto rows = buildSystemRows(breakdown(ps), {0.0f}, std::nullopt, false, AllowList::production());
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[0].id, "pid100");
    EXPECT_EQ(rows[0].name, "d0");
    EXPECT_EQ(rows[7].id, "pid107");
    // Beyond the first eight: 0.2 + 0.1, larger than the history's claim.
    EXPECT_NEAR(elseCores(rows), 0.3, 1e-9);
}

TEST(SystemRows, HintsAndGroups) {
    const AllowList& allow = AllowList::production();
    // Task names (cut to 15 bytes), and paths where the command is one.
    auto b = breakdown({proc(1, 0.9, "tracker-miner-f"), proc(2, 0.8, "restic"), proc(3, 0.7, "/usr/bin/restic"),
                        proc(4, 0.6, "/opt/restic/restic"), proc(5, 0.5, "python3"), proc(6, 0.4, "cron"),
                        proc(7, 0.3, "updatedb.plocat")});
    struct Expect {
        std::string hint;
        std::optional<HelperGroup> group;
    };
    auto check = [&](bool enabled, const std::vector<Expect>& expect) {
        SCOPED_TRACE(enabled ? "limits enabled" : "limits disabled");
        auto rows = buildSystemRows(b, {}, std::nullopt, enabled, allow);
        ASSERT_EQ(rows.size(), expect.size() + 1);
        for (size_t i = 0; i < expect.size(); ++i) {
            EXPECT_EQ(rows[i].hint, expect[i].hint) << rows[i].name;
            EXPECT_EQ(rows[i].group, expect[i].group) << rows[i].name;
        }
    };
    check(false, {{"needs helper", std::nullopt},
                  {"needs helper", std::nullopt},
                  {"needs helper", std::nullopt},
                  {"needs helper", std::nullopt},
                  {"can't limit", std::nullopt},
                  {"can't limit", std::nullopt},
                  {"needs helper", std::nullopt}});
    // A path is compared whole: restic anywhere but /usr/bin is no backup
    // tool of the list.
    check(true, {{"needs helper", HelperGroup::spotlight},
                 {"needs helper", HelperGroup::timemachine},
                 {"needs helper", HelperGroup::timemachine},
                 {"can't limit", std::nullopt},
                 {"can't limit", std::nullopt},
                 {"can't limit", std::nullopt},
                 {"needs helper", HelperGroup::spotlight}});
}
