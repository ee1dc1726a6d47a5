#include "AllowList.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

using namespace trevlin;
namespace fs = std::filesystem;

extern char** environ;

namespace {

const std::string kSupport =
    "/System/Library/Frameworks/CoreServices.framework/Versions/A/Frameworks/Metadata.framework/Versions/A/Support/";

// A sleeping child started from `exe`; killed and reaped on destruction.
struct Child {
    pid_t pid = -1;
    explicit Child(const std::string& exe) {
        char* argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>("30"), nullptr};
        if (::posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, environ) != 0) pid = -1;
    }
    ~Child() {
        if (pid <= 0) return;
        ::kill(pid, SIGCONT);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
};

struct TempDir {
    fs::path path;
    TempDir() {
        char tmpl[] = "/tmp/trevlin-allow-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    // A copy of sleep under `name`, so that its executable path is exactly that.
    std::string program(const std::string& name) const {
        fs::create_directories((path / name).parent_path());
        fs::copy_file("/bin/sleep", path / name);
        return (path / name).string();
    }
};

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
    TempDir dir;
    const std::string backupd = dir.program("bin/backupd");
    const std::string mdworker = dir.program("bin/mdworker");
    const std::string elsewhere = dir.program("other/backupd");
    double clock = 100;
    AllowListScanner scanner(AllowList::test((dir.path / "bin").string()), "/proc", [&] { return clock; });

    Child tm(backupd), impostor(elsewhere);
    ASSERT_GT(tm.pid, 0);
    ASSERT_GT(impostor.pid, 0);
    EXPECT_EQ(AllowListScanner::path(tm.pid), backupd);

    auto first = scanner.pids(HelperGroup::timemachine);
    EXPECT_EQ(first, std::vector<pid_t>{tm.pid});
    EXPECT_TRUE(scanner.pids(HelperGroup::spotlight).empty());

    // Started after the scan: not seen until the cache is older than 0.5 s.
    Child md(mdworker);
    ASSERT_GT(md.pid, 0);
    clock += 0.5;
    EXPECT_TRUE(scanner.pids(HelperGroup::spotlight).empty());
    clock += 0.01;
    EXPECT_EQ(scanner.pids(HelperGroup::spotlight), std::vector<pid_t>{md.pid});
    EXPECT_EQ(scanner.pids(HelperGroup::timemachine), std::vector<pid_t>{tm.pid});

    // The production list matches none of them.
    AllowListScanner production(AllowList::production());
    EXPECT_FALSE(contains(production.pids(HelperGroup::timemachine), tm.pid));
    EXPECT_FALSE(contains(production.pids(HelperGroup::spotlight), md.pid));
}

TEST(AllowListScanner, PathOfAGoneProcessIsNone) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ASSERT_GT(pid, 0);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(AllowListScanner::path(pid), std::nullopt);
    EXPECT_EQ(AllowListScanner::path(::getpid()), fs::read_symlink("/proc/self/exe").string());
}
