// The helper's side of the two files: the status file it writes must be what
// the app's reader accepts, and a change of the rules file must be noticed
// however it was made, through the rules reader's checks.

#include "HelperClient.h"
#include "RulesWatcher.h"
#include "StatusFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

using namespace trevlin;
using namespace trevlin::helper;
namespace fs = std::filesystem;

TEST(HelperStatusFile, TheAppReadsWhatTheHelperWrites) {
    test::TempDir dir;
    HelperStatusFile status;
    status.version = kStatusVersion;
    status.pid = 4321;
    status.updated = 1767225600.25;
    status.groups["spotlight"] = HelperGroupStatus{0.49, 0.5, "strict", 1.5, 3, 1767225599.5};
    status.groups["timemachine"] = HelperGroupStatus{0.0, 2.0, "ecores", 0.0, 0, 1767225600.0};
    const std::string path = dir.path() + "/helper-status.json";
    std::string error;
    ASSERT_TRUE(writeStatus(path, status, &error)) << error;
    EXPECT_EQ(HelperClient::readStatus(path), status);

    // No group in force: an empty object, which the reader accepts too.
    status.groups.clear();
    ASSERT_TRUE(writeStatus(path, status, &error)) << error;
    EXPECT_EQ(HelperClient::readStatus(path), status);
    EXPECT_EQ(fs::directory_iterator(dir.path())->path().filename(), "helper-status.json");  // no temporary left

    EXPECT_FALSE(writeStatus(dir.path() + "/missing/helper-status.json", status, &error));
    EXPECT_FALSE(error.empty());
}

TEST(RulesWatcher, NoticesEveryChangeAndRefusesWhatTheReaderRefuses) {
    test::TempDir dir;
    const std::string path = dir.path() + "/helper-rules.json";
    const HelperRules::RuleMap none;
    const HelperRules::RuleMap half{{HelperGroup::spotlight, HelperRule{0.5, HelperMethod::strict}}};
    const HelperRules::RuleMap ecores{{HelperGroup::spotlight, HelperRule{0.5, HelperMethod::ecores}}};
    const HelperRules::RuleMap both{{HelperGroup::spotlight, HelperRule{0.5, HelperMethod::strict}},
                                    {HelperGroup::timemachine, HelperRule{1.0, HelperMethod::ecores}}};
    RulesWatcher watcher(path, 4);
    auto write = [&](const HelperRules::RuleMap& rules) { HelperClient::writeRules(rules, path); };
    auto replaceWith = [&](const std::string& other) {
        fs::remove(path);
        fs::rename(other, path);
    };

    EXPECT_EQ(watcher.poll(), none) << "the first look always reports";
    EXPECT_EQ(watcher.poll(), std::nullopt);
    write(half);
    EXPECT_EQ(watcher.poll(), half);
    EXPECT_EQ(watcher.poll(), std::nullopt);
    write(half);  // rewritten unchanged
    EXPECT_EQ(watcher.poll(), std::nullopt);

    // Same size and the same modification time: still a change.
    struct stat before{};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    write(ecores);
    struct stat after{};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    ASSERT_EQ(after.st_size, before.st_size);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(watcher.poll(), ecores);

    write(both);
    EXPECT_EQ(watcher.poll(), both);

    // A symbolic link to good rules, a file above 4096 bytes and a FIFO
    // all hold no rules (and the FIFO does not block the look).
    HelperClient::writeRules(half, dir.path() + "/elsewhere.json");
    fs::remove(path);
    fs::create_symlink(dir.path() + "/elsewhere.json", path);
    EXPECT_EQ(watcher.poll(), none);
    write(half);
    EXPECT_EQ(watcher.poll(), half);
    dir.write("big.json", HelperRules::encode(half) + std::string(4096, ' '));
    replaceWith(dir.path() + "/big.json");
    EXPECT_EQ(watcher.poll(), none);
    write(both);
    EXPECT_EQ(watcher.poll(), both);
    fs::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    EXPECT_EQ(watcher.poll(), none);
    fs::remove(path);
    EXPECT_EQ(watcher.poll(), std::nullopt) << "missing is no rules, as the FIFO was";
}
