#include "AllowList.h"
#include "Children.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

using namespace trevlin;
namespace fs = std::filesystem;

namespace {

const std::string kSupport =
    "/System/Library/Frameworks/CoreServices.framework/Versions/A/Frameworks/Metadata.framework/Versions/A/Support/";

// A copy of sleep named `name` in `folder`, so that its executable path is exactly that.
std::string program(const test::TempDir& dir, const std::string& folder, const std::string& name) {
    std::string path = dir.mkdir(folder) + "/" + name;
    fs::copy_file("/bin/sleep", path);
    return path;
}

// Starts `exe` and waits until the child runs it (fork returns before exec).
pid_t start(test::Children& children, const std::string& exe) {
    pid_t pid = children.spawn({exe, "30"});
    for (int i = 0; i < 200 && AllowListScanner::path(pid) != exe; ++i) test::sleepFor(0.01);
    return pid;
}

bool contains(const std::vector<pid_t>& pids, pid_t pid) { return std::find(pids.begin(), pids.end(), pid) != pids.end(); }

}  // namespace

TEST(AllowList, MatchesExactPathsOnly) {
    const AllowList& list = AllowList::production();
    struct Case {
        std::string path;
        std::optional<HelperGroup> group;
    };
    const std::vector<Case> cases = {
        {"/System/Library/CoreServices/TimeMachine/backupd", HelperGroup::timemachine},
        {kSupport + "mds_stores", HelperGroup::spotlight},
        {kSupport + "mdworker", HelperGroup::spotlight},
        {kSupport + "mdworker_shared", HelperGroup::spotlight},
        {kSupport + "mdbulkimport", HelperGroup::spotlight},
        {kSupport + "mds", std::nullopt},
        {kSupport + "mdsync", std::nullopt},
        {kSupport + "mdworker_other", std::nullopt},
        {"/usr/bin/backupd", std::nullopt},
        {"/tmp/System/Library/CoreServices/TimeMachine/backupd", std::nullopt},
        {"/System/Library/CoreServices/TimeMachine/backupd ", std::nullopt},
        {"backupd", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(list.group(c.path), c.group);
        for (HelperGroup g : kAllHelperGroups) EXPECT_EQ(list.allows(c.path, g), c.group == g);
    }
    EXPECT_EQ(list.paths.at(HelperGroup::spotlight).size(), 4u);
    EXPECT_EQ(list.paths.at(HelperGroup::timemachine).size(), 1u);
    EXPECT_FALSE(AllowList{}.allows("/System/Library/CoreServices/TimeMachine/backupd", HelperGroup::timemachine));

    EXPECT_EQ(AllowList::test("/opt/t"), AllowList::test("/opt/t/"));
    EXPECT_EQ(AllowList::test("/opt/t").group("/opt/t/backupd"), HelperGroup::timemachine);
    EXPECT_EQ(AllowList::test("/opt/t").group("/opt/t/mdworker_shared"), HelperGroup::spotlight);
    EXPECT_EQ(AllowList::test("/opt/t").group("/opt/tbackupd"), std::nullopt);
}

TEST(AllowListScanner, FindsRealProcessesAndCachesForHalfASecond) {
    test::TempDir dir;
    test::Children children;
    const std::string backupd = program(dir, "bin", "backupd");
    const std::string mdworker = program(dir, "bin", "mdworker");
    const std::string elsewhere = program(dir, "other", "backupd");
    double clock = 100;
    AllowListScanner scanner(AllowList::test(dir.path() + "/bin"), "/proc", [&] { return clock; });

    const pid_t tm = start(children, backupd);
    ASSERT_EQ(AllowListScanner::path(tm), backupd);
    ASSERT_EQ(AllowListScanner::path(start(children, elsewhere)), elsewhere);

    auto first = scanner.pids(HelperGroup::timemachine);
    EXPECT_EQ(first, std::vector<pid_t>{tm});
    EXPECT_TRUE(scanner.pids(HelperGroup::spotlight).empty());

    // Started after the scan: not seen until the cache is older than 0.5 s.
    const pid_t md = start(children, mdworker);
    ASSERT_EQ(AllowListScanner::path(md), mdworker);
    clock += 0.5;
    EXPECT_TRUE(scanner.pids(HelperGroup::spotlight).empty());
    clock += 0.01;
    EXPECT_EQ(scanner.pids(HelperGroup::spotlight), std::vector<pid_t>{md});
    EXPECT_EQ(scanner.pids(HelperGroup::timemachine), std::vector<pid_t>{tm});

    // The production list matches none of them.
    AllowListScanner production(AllowList::production());
    EXPECT_FALSE(contains(production.pids(HelperGroup::timemachine), tm));
    EXPECT_FALSE(contains(production.pids(HelperGroup::spotlight), md));
}

TEST(AllowListScanner, PathOfAGoneProcessIsNone) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ASSERT_GT(pid, 0);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(AllowListScanner::path(pid), std::nullopt);
    EXPECT_EQ(AllowListScanner::path(::getpid()), fs::read_symlink("/proc/self/exe").string());
}
