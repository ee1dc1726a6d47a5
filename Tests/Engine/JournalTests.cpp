// The journal with real processes: children are stopped, demoted and listed
// in journal files the way a crashed instance would leave them.

#include "Children.h"
#include "FileNames.h"
#include "Files.h"
#include "Journal.h"
#include "ProcessUtil.h"
#include "RealPlatform.h"
#include "SimulatedPlatform.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <signal.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <memory>

using namespace trevlin;
using namespace trevlin::test;
using json = nlohmann::json;

namespace {

bool waitForState(pid_t pid, char state, double seconds = 2.0) {
    for (double waited = 0; waited < seconds; waited += 0.01) {
        if (processState(pid) == state) return true;
        sleepFor(0.01);
    }
    return processState(pid) == state;
}

bool isStopped(pid_t pid) { return processState(pid) == 'T'; }

pid_t stoppedChild(Children& kids) {
    pid_t pid = kids.spawn({"sleep", "1000"});
    // Wait for the exec, so the start time and state are those of sleep.
    for (int i = 0; i < 200 && exePath(realPlatform(), pid).find("sleep") == std::string::npos; ++i) sleepFor(0.01);
    ::kill(pid, SIGSTOP);
    EXPECT_TRUE(waitForState(pid, 'T'));
    return pid;
}

/// A pid that no process has any more.
pid_t deadPid(Children& kids) {
    pid_t pid = kids.spawn({"true"});
    kids.kill(pid);
    return pid;
}

json entry(const std::string& app, pid_t pid, uint64_t start, bool paused, bool demoted) {
    return json{{"app", app}, {"pid", pid}, {"start", start}, {"paused", paused}, {"demoted", demoted}};
}

std::string writeJournal(const TempDir& dir, const std::string& name, pid_t writer, uint64_t writerStart,
                         std::vector<json> entries) {
    json file{{"limiterPid", writer}, {"limiterStart", writerStart}, {"entries", entries}};
    return dir.write(name, file.dump(2));
}

int cpusAllowed(pid_t pid) {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(pid, sizeof set, &set) != 0) return -1;
    return CPU_COUNT(&set);
}

enum class Writer { dead, aliveSameStart, aliveOtherStart, aliveStartUnknown, self, earlierSelf };

}  // namespace

TEST(JournalRecovery, WhichFilesAreReplayed) {
    const struct {
        const char* what;
        Writer writer;
        const char* name;  // file name; nullptr = "journal-<writer>.json"
        bool corrupt;
        bool entryStartMatches;
        bool continued;
        bool fileKept;
    } cases[] = {
        {"dead writer", Writer::dead, nullptr, false, true, true, false},
        {"live writer, same start", Writer::aliveSameStart, nullptr, false, true, false, true},
        {"reused writer pid", Writer::aliveOtherStart, nullptr, false, true, true, false},
        {"live writer that could not tell its start", Writer::aliveStartUnknown, nullptr, false, true, false, true},
        {"this program's own file", Writer::self, nullptr, false, true, false, true},
        {"an ended instance that had this program's pid", Writer::earlierSelf, nullptr, false, true, true, false},
        {"name that is no pid", Writer::dead, "journal-abc.json", false, true, false, true},
        {"name with a sign", Writer::dead, "journal--5.json", false, true, false, true},
        {"corrupt file of a dead writer", Writer::dead, nullptr, true, true, false, false},
        {"held process replaced since (other start)", Writer::dead, nullptr, false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Children kids;
        const pid_t held = stoppedChild(kids);
        const uint64_t heldStart = processStartTime(realPlatform(), held).value_or(0);
        ASSERT_NE(heldStart, 0u);

        pid_t writer = 0;
        uint64_t writerStart = 0;
        switch (c.writer) {
        case Writer::dead:
            writer = deadPid(kids);
            writerStart = 12345;
            break;
        case Writer::self:
        case Writer::earlierSelf:
            writer = ::getpid();
            writerStart = processStartTime(realPlatform(), writer).value_or(0);
            if (c.writer == Writer::earlierSelf) writerStart -= 1000000;
            break;
        default:
            writer = kids.spawn({"sleep", "1000"});
            sleepFor(0.05);
            writerStart = processStartTime(realPlatform(), writer).value_or(0);
            if (c.writer == Writer::aliveOtherStart) writerStart += 1000000;
            if (c.writer == Writer::aliveStartUnknown) writerStart = 0;
            break;
        }
        const std::string name = c.name ? c.name : "journal-" + std::to_string(writer) + ".json";
        std::string path;
        if (c.corrupt) {
            path = dir.write(name, "{\"limiterPid\": " + std::to_string(writer) + ", \"entries\": [");
        } else {
            const uint64_t listedStart = c.entryStartMatches ? heldStart : heldStart + 1;
            path = writeJournal(dir, name, writer, writerStart, {entry("cli:bash", held, listedStart, true, false)});
        }

        const int restored = Journal::recoverOrphans(realPlatform(), dir.path());
        if (c.continued) EXPECT_TRUE(waitForState(held, 'S'));
        else EXPECT_TRUE(isStopped(held));
        EXPECT_EQ(restored, c.continued ? 1 : 0);
        EXPECT_EQ(Files::exists(path), c.fileKept);
    }
}

TEST(JournalRecovery, StartTimesAreLinedUpWithTheBootTheyCountFrom) {
    const StartClock clock = realPlatform().startClock();
    if (clock.bootId.empty()) GTEST_SKIP() << "the kernel gives no boot id";
    constexpr uint64_t step = 3000000;  // the clock was set 3 s back since the file was written
    const struct {
        const char* what;
        bool sameBoot;
        bool saysBoot;
        bool stepped;
        bool continued;
    } cases[] = {
        {"this boot, clock stepped since", true, true, true, true},
        {"this boot, same clock", true, true, false, true},
        {"an earlier boot, a process that happens to match", false, true, false, false},
        {"a file that does not say its boot, clock stepped", true, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Children kids;
        const pid_t held = stoppedChild(kids);
        const uint64_t heldStart = processStartTime(realPlatform(), held).value_or(0);
        ASSERT_GT(heldStart, step);
        const pid_t writer = deadPid(kids);
        const uint64_t shift = c.stepped ? step : 0;
        json file{{"limiterPid", writer},
                  {"limiterStart", 12345},
                  {"entries", {entry("cli:make", held, heldStart + shift, true, false)}}};
        if (c.saysBoot) {
            file["bootId"] = c.sameBoot ? clock.bootId : "00000000-0000-0000-0000-000000000000";
            file["bootTime"] = clock.bootMicros + shift;
        }
        const std::string path = dir.write("journal-" + std::to_string(writer) + ".json", file.dump(2));

        EXPECT_EQ(Journal::recoverOrphans(realPlatform(), dir.path()), c.continued ? 1 : 0);
        if (c.continued) EXPECT_TRUE(waitForState(held, 'S'));
        else EXPECT_TRUE(isStopped(held));
        EXPECT_FALSE(Files::exists(path));
    }
}

TEST(JournalRecovery, ContinuesAndPromotesEverythingListed) {
    TempDir dir;
    Children kids;
    const pid_t a = stoppedChild(kids);
    const pid_t b = stoppedChild(kids);
    const pid_t demoted = kids.spawn({"sleep", "1000"});
    sleepFor(0.05);
    const int all = cpusAllowed(demoted);
    ASSERT_TRUE(realPlatform().demote(demoted));
    if (all > 1) {
        EXPECT_LT(cpusAllowed(demoted), all);
    }
    const pid_t gone = deadPid(kids);

    const pid_t writer = deadPid(kids);
    writeJournal(dir, "journal-" + std::to_string(writer) + ".json", writer, 1,
                 {entry("/opt/A.desktop", a, *processStartTime(realPlatform(), a), true, false),
                  entry("/opt/A.desktop", demoted, *processStartTime(realPlatform(), demoted), false, true),
                  entry("cli:make", b, *processStartTime(realPlatform(), b), true, true),
                  entry("cli:make", gone, 1, true, false),
                  entry("cli:make", ::getpid(), *processStartTime(realPlatform(), ::getpid()), true, false)});
    EXPECT_EQ(Journal::recoverOrphans(realPlatform(), dir.path()), 3);
    EXPECT_TRUE(waitForState(a, 'S'));
    EXPECT_TRUE(waitForState(b, 'S'));
    EXPECT_EQ(cpusAllowed(demoted), all);
    EXPECT_EQ(cpusAllowed(b), all);
    EXPECT_EQ(Journal::recoverOrphans(realPlatform(), dir.path()), 0) << "the file is gone after one replay";
}

TEST(JournalRecovery, AFileFarAboveAnyRealSizeIsNeverRead) {
    TempDir dir;
    Children kids;
    const pid_t dead = deadPid(kids);
    const pid_t live = kids.spawn({"sleep", "1000"});
    // 200 MB without taking the space.
    const long long size = 200ll * 1024 * 1024;
    auto huge = [&](pid_t writer) {
        const std::string path = dir.write("journal-" + std::to_string(writer) + ".json", "");
        EXPECT_EQ(::truncate(path.c_str(), size), 0);
        return path;
    };
    const std::string deadFile = huge(dead);
    const std::string liveFile = huge(live);

    struct rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Journal::recoverOrphans(realPlatform(), dir.path()), 0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    ::getrusage(RUSAGE_SELF, &after);
    // Reading it would have taken hundreds of MB at the peak (kilobytes here).
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);

    // A corrupt file of a dead writer is deleted; this one was never read,
    // so it is moved aside whole.
    const std::string deadName = "journal-" + std::to_string(dead);
    std::string aside;
    for (const auto& name : fileNames(dir.path()))
        if (name.rfind(deadName + ".invalid-", 0) == 0) aside = name;
    ASSERT_FALSE(aside.empty()) << err;
    EXPECT_EQ(std::filesystem::file_size(dir.path() + "/" + aside), static_cast<uintmax_t>(size));
    EXPECT_FALSE(Files::exists(deadFile));
    EXPECT_NE(err.find("Trevlin: " + deadName + ".json is larger than 8388608 bytes; moved aside unread to " + aside +
                       "\n"),
              std::string::npos)
        << err;
    // The live writer's file is its own business.
    EXPECT_TRUE(Files::exists(liveFile));
    EXPECT_NE(err.find("Trevlin: journal-" + std::to_string(live) +
                       ".json is larger than 8388608 bytes; left alone unread while its writer runs\n"),
              std::string::npos)
        << err;

    // What was moved aside is no journal any more.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Journal::recoverOrphans(realPlatform(), dir.path()), 0);
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Files::exists(dir.path() + "/" + aside));
}

TEST(JournalRecovery, MissingFolderIsEmpty) {
    TempDir dir;
    EXPECT_EQ(Journal::recoverOrphans(realPlatform(), dir.path() + "/does/not/exist"), 0);
}

TEST(Journal, FlushWritesSortedEntriesAndDeletesTheFileWhenEmpty) {
    TempDir dir;
    Journal j(realPlatform(), dir.path() + "/nested/folder");
    j.update("cli:make", 30, 3, true, false);
    j.update("/opt/B.desktop", 20, 2, false, true);
    j.update("/opt/A.desktop", 50, 5, true, true);
    j.update("/opt/A.desktop", 10, 1, true, false);
    j.flush();
    ASSERT_EQ(j.filePath(), dir.path() + "/nested/folder/journal-" + std::to_string(::getpid()) + ".json");
    auto text = Files::read(j.filePath());
    ASSERT_TRUE(text);
    auto file = json::parse(*text);
    EXPECT_EQ(file.at("limiterPid"), ::getpid());
    EXPECT_EQ(file.at("limiterStart").get<uint64_t>(), processStartTime(realPlatform(), ::getpid()).value());
    EXPECT_EQ(file.at("bootId"), realPlatform().startClock().bootId);
    EXPECT_EQ(file.at("bootTime").get<uint64_t>(), realPlatform().startClock().bootMicros);
    std::vector<std::pair<std::string, int>> order;
    for (auto& e : file.at("entries")) order.emplace_back(e.at("app"), e.at("pid"));
    EXPECT_EQ(order, (std::vector<std::pair<std::string, int>>{
                         {"/opt/A.desktop", 10}, {"/opt/A.desktop", 50}, {"/opt/B.desktop", 20}, {"cli:make", 30}}));
    EXPECT_EQ(file.at("entries")[1], entry("/opt/A.desktop", 50, 5, true, true));
    // Pretty-printed, keys in alphabetical order.
    EXPECT_NE(text->find("\n"), std::string::npos);
    EXPECT_LT(text->find("\"app\""), text->find("\"demoted\""));
    EXPECT_LT(text->find("\"demoted\""), text->find("\"paused\""));
    EXPECT_LT(text->find("\"entries\""), text->find("\"limiterPid\""));

    j.removeAll("/opt/A.desktop");
    j.remove("/opt/B.desktop", 20);
    j.update("cli:make", 30, 3, false, false);
    EXPECT_TRUE(j.entries().empty());
    j.flush();
    EXPECT_FALSE(Files::exists(j.filePath()));
    j.flush();  // nothing changed, nothing to delete: no error
    EXPECT_FALSE(Files::exists(j.filePath()));
}

TEST(Journal, OnlyRealChangesMakeItDirty) {
    TempDir dir;
    Journal j(realPlatform(), dir.path());
    EXPECT_FALSE(j.isDirty());
    const struct {
        const char* what;
        std::function<void()> change;
        bool dirty;
    } steps[] = {
        {"a new entry", [&] { j.update("a", 1, 7, true, false); }, true},
        {"the same entry again", [&] { j.update("a", 1, 7, true, false); }, false},
        {"a flag changes", [&] { j.update("a", 1, 7, true, true); }, true},
        {"the start changes", [&] { j.update("a", 1, 8, true, true); }, true},
        {"both flags off removes", [&] { j.update("a", 1, 8, false, false); }, true},
        {"both flags off for nothing stored", [&] { j.update("a", 1, 8, false, false); }, false},
        {"removing what is not there", [&] { j.remove("a", 1); }, false},
        {"removing an app without entries", [&] { j.removeAll("b"); }, false},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.what);
        s.change();
        EXPECT_EQ(j.isDirty(), s.dirty);
        j.flush();
        EXPECT_FALSE(j.isDirty());
    }
    EXPECT_FALSE(j.entry("a", 1));

    // An unchanged journal is not rewritten: a file deleted behind its back stays deleted.
    j.update("a", 2, 9, true, false);
    j.flush();
    ASSERT_TRUE(Files::exists(j.filePath()));
    ASSERT_TRUE(Files::remove(j.filePath()));
    j.update("a", 2, 9, true, false);
    j.flush();
    EXPECT_FALSE(Files::exists(j.filePath()));
}

/// A folder that refuses the journal for a reason of its own, and can be
/// given room again.
class Refusing {
public:
    virtual ~Refusing() = default;
    virtual std::string folder() = 0;
    virtual void giveRoom() = 0;
    virtual int code() = 0;
};

/// A file where the folder should be: refused even to root.
class BlockedByFile : public Refusing {
public:
    std::string folder() override { return blocker_ + "/journal"; }
    void giveRoom() override { std::filesystem::remove(blocker_); }
    int code() override { return ENOTDIR; }

private:
    TempDir dir_;
    std::string blocker_ = dir_.write("not-a-folder", "x");
};

/// A folder without write permission: refused to anyone but root.
class ReadOnly : public Refusing {
public:
    ReadOnly() { std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec); }
    ~ReadOnly() override { giveRoom(); }
    std::string folder() override { return dir_.path(); }
    void giveRoom() override { std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_all); }
    int code() override { return EACCES; }

private:
    TempDir dir_;
};

/// A full 64 KiB tmpfs: refused to root as well. Needs the right to mount.
class FullDisk : public Refusing {
public:
    FullDisk() {
        if (::mount("trevlin-test", dir_.path().c_str(), "tmpfs", 0, "size=64k") != 0) return;
        mounted_ = true;
        // The journal's folder exists; the filler takes every block left.
        std::filesystem::create_directory(dir_.path() + "/data");
        std::ofstream fill(dir_.path() + "/filler");
        const std::string block(4096, 'x');
        for (int i = 0; i < 64 && fill.write(block.data(), block.size()); ++i) fill.flush();
    }
    ~FullDisk() override {
        if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    std::string folder() override { return dir_.path() + "/data"; }
    void giveRoom() override { std::filesystem::remove(dir_.path() + "/filler"); }
    int code() override { return ENOSPC; }

private:
    TempDir dir_;
    bool mounted_ = false;
};

class JournalFailure : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        const std::string kind = GetParam();
        if (kind == "file") {
            folder_ = std::make_unique<BlockedByFile>();
        } else if (kind == "readOnly") {
            if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
            folder_ = std::make_unique<ReadOnly>();
        } else {
            auto full = std::make_unique<FullDisk>();
            if (!full->mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
            folder_ = std::move(full);
        }
    }
    std::unique_ptr<Refusing> folder_;
    SimulatedPlatform sim_;
};

TEST_P(JournalFailure, IsReportedOnceKeptDirtyAndTriedAgainEachSecond) {
    Journal j(sim_, folder_->folder());
    j.update("cli:make", 42, 7, true, false);
    ::testing::internal::CaptureStderr();
    const Journal::Written first = j.flush();
    const Journal::Written again = j.flush();  // within the second: not tried, the same answer
    sim_.advance(Journal::retrySeconds);
    const Journal::Written later = j.flush();  // tried, and failing the same way: no new line
    const std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(first.code, folder_->code()) << first.message;
    EXPECT_EQ(again.code, first.code);
    EXPECT_EQ(later.code, first.code);
    EXPECT_EQ(err, "Trevlin: could not write journal: " + first.message + "\n");
    EXPECT_EQ(j.failure(), folder_->code());
    EXPECT_TRUE(j.isDirty());
    EXPECT_TRUE(j.entry("cli:make", 42));
    EXPECT_FALSE(j.isDurable("cli:make", 42, 7, true, false));

    // Room again: the next try after a second writes it.
    folder_->giveRoom();
    EXPECT_FALSE(j.flush().ok());
    sim_.advance(Journal::retrySeconds);
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(j.flush().ok());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Trevlin: the journal is written again\n");
    EXPECT_FALSE(j.failure());
    EXPECT_FALSE(j.isDirty());
    EXPECT_TRUE(j.isDurable("cli:make", 42, 7, true, false));
    EXPECT_FALSE(j.isDurable("cli:make", 42, 7, true, true));  // listed, but not as demoted
    EXPECT_FALSE(j.isDurable("cli:make", 42, 8, true, false));  // another process under that pid
    auto file = Journal::decode(*Files::read(j.filePath()));
    ASSERT_TRUE(file);
    ASSERT_EQ(file->entries.size(), 1u);
    EXPECT_EQ(file->entries[0].pid, 42);
}

INSTANTIATE_TEST_SUITE_P(Journal, JournalFailure, ::testing::Values("file", "readOnly", "fullDisk"),
                         [](const auto& p) { return std::string(p.param); });

TEST(Journal, OwnFlushedFileIsLeftToItsWriter) {
    TempDir dir;
    Children kids;
    const pid_t held = stoppedChild(kids);
    Journal j(realPlatform(), dir.path());
    j.update("cli:sleep", held, *processStartTime(realPlatform(), held), true, false);
    j.flush();
    EXPECT_EQ(Journal::recoverOrphans(realPlatform(), dir.path()), 0);
    EXPECT_TRUE(isStopped(held));
    EXPECT_TRUE(Files::exists(j.filePath()));
}

TEST(Journal, AKeyThatIsNotUtf8IsStillWrittenAndReplayed) {
    // A launcher's file name is whatever bytes the file system holds.
    TempDir dir;
    Children kids;
    const pid_t held = stoppedChild(kids);
    const std::string key = "cli:build-\xe9t\xe9";
    Journal j(realPlatform(), dir.path());
    j.update(key, held, *processStartTime(realPlatform(), held), true, false);
    j.update("cli:make", 7, 1, true, false);
    ::testing::internal::CaptureStderr();
    EXPECT_NO_THROW(j.flush());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    ASSERT_TRUE(Files::exists(j.filePath()));
    auto file = json::parse(*Files::read(j.filePath()), nullptr, false);
    ASSERT_FALSE(file.is_discarded());
    EXPECT_EQ(file.at("entries").size(), 2u);

    // Left behind by a dead writer, it still gets the process going again.
    const pid_t writer = deadPid(kids);
    ASSERT_TRUE(Files::move(j.filePath(), dir.path() + "/journal-" + std::to_string(writer) + ".json"));
    EXPECT_EQ(Journal::recoverOrphans(realPlatform(), dir.path()), 1);
    EXPECT_TRUE(waitForState(held, 'S'));
}

TEST(Journal, DecodingSkipsEntriesThatNameNoSingleProcess) {
    // Signalling pid 0 or a negative pid reaches a process group or every process.
    auto file = Journal::decode(R"({"limiterPid": 9, "limiterStart": 1, "entries": [
        {"app": "cli:a", "pid": 0, "start": 5, "paused": true, "demoted": false},
        {"app": "cli:a", "pid": -1, "start": 5, "paused": true, "demoted": false},
        {"app": "cli:a", "pid": 5001, "start": 5, "paused": true, "demoted": true}]})");
    ASSERT_TRUE(file);
    ASSERT_EQ(file->entries.size(), 1u);
    EXPECT_EQ(file->entries[0], (Journal::Entry{"cli:a", 5001, 5, true, true}));
    EXPECT_FALSE(Journal::decode(R"({"limiterPid": 9, "entries": []})"));
}
