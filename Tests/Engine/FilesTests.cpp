// The base library's file helpers where they guard against hostile or
// leftover files: refused reads, the atomic write's temporary file, clearing
// what killed writers left behind, and moving aside without replacing.
#include "Children.h"
#include "FileNames.h"
#include "Files.h"
#include "LiveWriter.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>

using namespace trevlin;
using namespace trevlin::test;
namespace fs = std::filesystem;

namespace {

/// A pid that no process has any more.
pid_t deadPid(Children& kids) {
    pid_t pid = kids.spawn({"true"});
    kids.kill(pid);
    return pid;
}

/// Sets a file's modification time `seconds` into the past.
void age(const std::string& path, double seconds) {
    struct timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= static_cast<time_t>(seconds);
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

std::string tmpName(const std::string& name, pid_t pid) { return name + ".tmp-" + std::to_string(pid); }

}  // namespace

TEST(Files, ReadsAreRefusedWithANumberThatSaysWhy) {
    TempDir dir;
    const std::string file = dir.write("file.json", std::string(100, 'x'));
    fs::create_symlink(file, dir.path() + "/link");
    fs::create_directory(dir.path() + "/folder");
    ASSERT_EQ(::mkfifo((dir.path() + "/fifo").c_str(), 0600), 0);
    // Far beyond any limit, without taking the space: refused by its size alone.
    const std::string huge = dir.path() + "/huge.json";
    ASSERT_EQ(::truncate(dir.write("huge.json", "").c_str(), 200ll * 1024 * 1024), 0);

    const struct {
        const char* what;
        std::string path;
        Files::ReadOptions options;
        int code;  // 0: read
    } cases[] = {
        {"exactly at the limit", file, {.maxBytes = 100}, 0},
        {"one byte above the limit", file, {.maxBytes = 99}, EFBIG},
        {"a sparse 200 MB file", huge, {.maxBytes = 8 << 20}, EFBIG},
        {"a link, followed", dir.path() + "/link", {}, 0},
        {"a link, not to be followed", dir.path() + "/link", {.noFollow = true}, ELOOP},
        {"a folder", dir.path() + "/folder", {}, EISDIR},
        {"a FIFO without writer", dir.path() + "/fifo", {}, EINVAL},
        {"missing", dir.path() + "/missing", {}, ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Files::Error error;
        auto bytes = Files::read(c.path, c.options, &error);
        if (c.code == 0) {
            EXPECT_EQ(bytes, std::string(100, 'x'));
        } else {
            EXPECT_EQ(bytes, std::nullopt);
            EXPECT_EQ(error.code, c.code) << error.message;
            EXPECT_EQ(error.message.rfind(c.path + ": ", 0), 0u) << error.message;
        }
    }
}

TEST(Files, AtomicWriteNeverWritesThroughWhatIsAtItsTemporaryName) {
    TempDir dir;
    const std::string target = dir.path() + "/settings.json";
    const std::string temporary = Files::temporaryPath(target);
    const std::string victim = dir.write("outside/victim", "precious");
    const std::string nowhere = dir.path() + "/outside/created";
    const std::string stale = "stale bytes of an earlier run with this pid";

    const struct {
        const char* what;
        std::function<void()> plant;
    } cases[] = {
        {"a link to an existing file", [&] { fs::create_symlink(victim, temporary); }},
        {"a link to a file that does not exist yet", [&] { fs::create_symlink(nowhere, temporary); }},
        {"a hard link to another file", [&] { fs::create_hard_link(victim, temporary); }},
        {"a stale file", [&] { dir.write(fs::path(temporary).filename().string(), stale); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.plant();
        Files::Error error;
        EXPECT_TRUE(Files::writeAtomically(target, "new", &error)) << error.message;
        EXPECT_EQ(Files::read(target), "new");
        EXPECT_EQ(Files::read(victim), "precious");
        EXPECT_FALSE(fs::exists(fs::symlink_status(nowhere)));
        EXPECT_FALSE(fs::exists(fs::symlink_status(temporary)));
        EXPECT_FALSE(fs::is_symlink(target));
    }
}

TEST(Files, StaleTemporaryFilesGoAndThoseOfLiveWritersStay) {
    TempDir dir;
    Children kids;
    const pid_t writer = writerInTheMiddleOf(kids, dir.path() + "/journal-1.json");
    ASSERT_GT(writer, 0);
    const pid_t dead = deadPid(kids);
    // A pid that now belongs to another program: not the writer that named it.
    const pid_t other = kids.spawn({"sleep", "1000"});
    const pid_t self = ::getpid();
    const std::string victim = dir.write("outside/victim", "precious");

    const std::string deadFile = dir.write(tmpName("settings.json", dead), "{\"mast");
    const std::string reusedOld = dir.write(tmpName("savings.json", other), "{");
    age(reusedOld, 60);
    // Unlocked and fresh: could be a live writer that has just created it.
    const std::string reusedFresh = dir.write(tmpName("settings.json", other), "{");
    const std::string own = dir.write(tmpName("savings.json", self), "{");
    const std::string planted = dir.path() + "/" + tmpName("journal-2.json", other);
    fs::create_symlink(victim, planted);
    for (const char* name : {"settings.json", "journal-1.json", "notes.tmp-abc", "notes.tmp-0", ".tmp-123",
                             "notes.tmp-99999999999"})
        dir.write(name, "kept");

    const auto removed = Files::removeStaleTemporaryFiles(dir.path());
    std::vector<std::string> expected{fs::path(deadFile).filename().string(),
                                      fs::path(reusedOld).filename().string(), fs::path(planted).filename().string()};
    std::vector<std::string> sortedRemoved = removed;
    std::sort(sortedRemoved.begin(), sortedRemoved.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sortedRemoved, expected);
    EXPECT_EQ(Files::read(victim), "precious");

    EXPECT_FALSE(Files::exists(deadFile));
    EXPECT_FALSE(Files::exists(reusedOld));
    EXPECT_FALSE(fs::exists(fs::symlink_status(planted)));
    const std::string live = dir.path() + "/" + tmpName("journal-1.json", writer);
    EXPECT_EQ(Files::read(live), "{\"entries\": [");
    EXPECT_TRUE(Files::exists(reusedFresh));
    EXPECT_TRUE(Files::exists(own));
    for (const char* name : {"settings.json", "journal-1.json", "notes.tmp-abc", "notes.tmp-0", ".tmp-123",
                             "notes.tmp-99999999999"})
        EXPECT_TRUE(Files::exists(dir.path() + "/" + name)) << name;

    // However long the writer has been at it, its file stays while it lives.
    age(live, 3600);
    EXPECT_TRUE(Files::removeStaleTemporaryFiles(dir.path()).empty());
    EXPECT_TRUE(Files::exists(live));
    kids.kill(writer);
    EXPECT_EQ(Files::removeStaleTemporaryFiles(dir.path()),
              std::vector<std::string>{fs::path(live).filename().string()});
}

TEST(Files, MovingAsideNeverReplacesAnEarlierFile) {
    TempDir dir;
    const double now = 1772878530;  // 2026-03-07T10:15:30Z
    const std::string path = dir.path() + "/settings.json";
    std::vector<std::string> names;
    for (int i = 1; i <= 3; ++i) {
        dir.write("settings.json", "broken " + std::to_string(i));
        Files::Error error;
        auto name = Files::moveAside(path, now, &error);
        ASSERT_TRUE(name) << error.message;
        names.push_back(*name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"settings.invalid-2026-03-07T10-15-30Z.json",
                                               "settings.invalid-2026-03-07T10-15-30Z-2.json",
                                               "settings.invalid-2026-03-07T10-15-30Z-3.json"}));
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(Files::read(dir.path() + "/" + names[i - 1]), "broken " + std::to_string(i));
    EXPECT_FALSE(Files::exists(path));

    // Every name of that second taken: the file stays where it is.
    for (int n = 4; n <= Files::maxAsideNames; ++n)
        dir.mkdir("settings.invalid-2026-03-07T10-15-30Z-" + std::to_string(n) + ".json");
    dir.write("settings.json", "broken 4");
    Files::Error error;
    EXPECT_EQ(Files::moveAside(path, now, &error), std::nullopt);
    EXPECT_EQ(error.code, EEXIST);
    EXPECT_EQ(Files::read(path), "broken 4");
    EXPECT_EQ(Files::read(dir.path() + "/" + names[0]), "broken 1");
}
