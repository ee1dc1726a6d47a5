#include "AllowList.h"
#include "Children.h"
#include "SystemProcesses.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

using namespace trevlin;
namespace fs = std::filesystem;

namespace {

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
    const auto indexing = HelperGroup::spotlight;
    const auto backups = HelperGroup::timemachine;
    struct Case {
        std::string path;
        std::optional<HelperGroup> group;
    };
    const std::vector<Case> cases = {
        {"/usr/sbin/updatedb.plocate", indexing},
        {"/usr/sbin/plocate-build", indexing},
        {"/usr/bin/updatedb.mlocate", indexing},
        {"/usr/libexec/tracker-miner-fs-3", indexing},
        {"/usr/libexec/tracker-extract-3", indexing},
        {"/usr/libexec/localsearch-3", indexing},
        {"/usr/libexec/localsearch-extractor-3", indexing},
        {"/usr/lib/tracker/tracker-miner-fs", indexing},
        {"/usr/lib/tracker/tracker-extract", indexing},
        {"/usr/bin/baloo_file", indexing},
        {"/usr/bin/baloo_file_extractor", indexing},
#if defined(__x86_64__) && !defined(__ILP32__)
        {"/usr/lib/x86_64-linux-gnu/libexec/baloo_file", indexing},
        {"/usr/lib/x86_64-linux-gnu/libexec/baloo_file_extractor", indexing},
#endif
        {"/usr/bin/timeshift", backups},
        {"/usr/bin/timeshift-gtk", backups},
        {"/usr/share/backintime/common/backintime.py", backups},
        {"/usr/bin/deja-dup", backups},
        {"/usr/libexec/deja-dup/deja-dup-monitor", backups},
        {"/usr/lib/deja-dup/deja-dup-monitor", backups},
        {"/usr/bin/duplicity", backups},
        {"/usr/bin/borg", backups},
        {"/usr/bin/borgbackup", backups},
        {"/usr/bin/restic", backups},
        // The same names elsewhere, paths that merely end in a listed name,
        // near misses and the interpreters themselves.
        {"/usr/local/bin/restic", std::nullopt},
        {"/home/user/bin/restic", std::nullopt},
        {"/tmp/usr/bin/restic", std::nullopt},
        {"/usr/bin/restic ", std::nullopt},
        {"/usr/bin//restic", std::nullopt},
        {"/usr/libexec/tracker-miner-fs-3.bak", std::nullopt},
        {"/usr/bin/tracker-miner-fs-3", std::nullopt},
        {"/usr/lib/aarch64-linux-gnu/libexec/baloo_fileX", std::nullopt},
        {"/usr/share/backintime/qt/app.py", std::nullopt},
        {"/usr/bin/backintime", std::nullopt},
        {"/usr/sbin/updatedb", std::nullopt},
        {"restic", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(list.group(c.path), c.group);
        // What a program that is no interpreter is given to run does not matter.
        EXPECT_EQ(list.groupOfProcess(c.path, {c.path, "/usr/bin/restic"}), c.group);
        for (HelperGroup g : kAllHelperGroups) EXPECT_EQ(list.allows(c.path, g), c.group == g);
    }
    EXPECT_FALSE(AllowList{}.allows("/usr/bin/restic", backups));

    EXPECT_EQ(AllowList::test("/opt/t"), AllowList::test("/opt/t/"));
    EXPECT_EQ(AllowList::test("/opt/t").group("/opt/t/backupd"), backups);
    EXPECT_EQ(AllowList::test("/opt/t").group("/opt/t/mdworker_shared"), indexing);
    EXPECT_EQ(AllowList::test("/opt/t").group("/opt/tbackupd"), std::nullopt);
    EXPECT_EQ(AllowList::test("/opt/t").group("/usr/bin/restic"), std::nullopt);
}

TEST(AllowList, ScriptsMatchByWhatTheirInterpreterRuns) {
    const AllowList& list = AllowList::production();
    const auto backups = HelperGroup::timemachine;
    const std::string bit = "/usr/share/backintime/common/backintime.py";
    struct Case {
        const char* what;
        std::string exe;
        std::vector<std::string> argv;
        std::optional<HelperGroup> group;
    };
    const std::vector<Case> cases = {
        {"shebang", "/usr/bin/python3.11", {"/usr/bin/python3.11", "/usr/bin/duplicity", "full", "/home"}, backups},
        {"through the borgbackup link", "/usr/bin/python3.11", {"/usr/bin/python3", "/usr/bin/borgbackup", "create"},
         backups},
        {"Back In Time's wrapper", "/usr/bin/python3.11", {"python3", "-Es", bit, "backup-job"}, backups},
        {"merged /bin", "/bin/python3", {"python3", "-s", "/usr/bin/borg"}, backups},
        {"value of -W skipped", "/usr/bin/python3.11", {"python3", "-W", "ignore", "/usr/bin/duplicity"}, backups},
        {"value of a clustered -W skipped", "/usr/bin/python3.11", {"python3", "-bW", "ignore", "/usr/bin/borg"},
         backups},
        {"attached -X value", "/usr/bin/python3.12", {"python3", "-Xdev", "/usr/bin/borg"}, backups},
        {"long option with a value", "/usr/bin/python3.11",
         {"python3", "--check-hash-based-pycs", "never", "/usr/bin/borg"}, backups},
        {"after --", "/usr/bin/python3.11", {"python3", "-s", "--", "/usr/bin/duplicity"}, backups},
        {"perl", "/usr/bin/perl", {"perl", "-w", "-I", "/usr/share/perl5", bit}, backups},
        // A Python running anything else, or naming the path where no
        // script is.
        {"another script", "/usr/bin/python3.11", {"python3", "/home/user/backup.py", "/usr/bin/duplicity"},
         std::nullopt},
        {"a listed path as the value of -W", "/usr/bin/python3.11", {"python3", "-W", "/usr/bin/duplicity", "x.py"},
         std::nullopt},
        {"code on the command line", "/usr/bin/python3.11", {"python3", "-c", "pass", "/usr/bin/duplicity"},
         std::nullopt},
        {"code after other flags", "/usr/bin/python3.11", {"python3", "-Ec", "pass", "/usr/bin/duplicity"},
         std::nullopt},
        {"a module", "/usr/bin/python3.11", {"python3", "-m", "borg", "/usr/bin/borg"}, std::nullopt},
        {"standard input", "/usr/bin/python3.11", {"python3", "-", "/usr/bin/borg"}, std::nullopt},
        {"perl -e", "/usr/bin/perl", {"perl", "-e", "1", bit}, std::nullopt},
        {"only options", "/usr/bin/python3.11", {"python3", "-s"}, std::nullopt},
        {"no arguments at all", "/usr/bin/python3.11", {}, std::nullopt},
        {"an interpreter outside the system's folders", "/home/user/bin/python3",
         {"python3", "/usr/bin/duplicity"}, std::nullopt},
        {"python 2", "/usr/bin/python2.7", {"python2", "/usr/bin/duplicity"}, std::nullopt},
        {"a name that only begins like python3", "/usr/bin/python3-evil", {"x", "/usr/bin/duplicity"},
         std::nullopt},
        {"a shell is no interpreter here", "/usr/bin/dash", {"sh", "/usr/bin/duplicity"}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(list.groupOfProcess(c.exe, c.argv), c.group);
    }
}

TEST(AllowList, TaskNamesAndRowNamesFollowTheList) {
    const AllowList& list = AllowList::production();
    // Every program of the list, by its task name, is a row
    // that needs the helper and leads to its group: the file name, cut to
    // 15 bytes the way the kernel keeps it. A script run by python3 shows as
    // "python3" and has no row name of its own.
    for (const auto& [group, paths] : list.paths) {
        for (const std::string& path : paths) {
            const std::string name = path.substr(path.rfind('/') + 1);
            if (name.size() > 3 && name.compare(name.size() - 3, 3, ".py") == 0) continue;
            const std::string task = name.substr(0, 15);
            SCOPED_TRACE(path);
            EXPECT_EQ(list.groupOfTaskName(task), group);
            EXPECT_TRUE(SystemProcessNames::friendly(task).needsHelper);
            EXPECT_TRUE(SystemProcessNames::friendly(path).needsHelper);
        }
    }
    for (const char* name : {"python3", "restic2", "resti", "tracker-miner-", "updatedb", "cron", "", "backintime"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(list.groupOfTaskName(name), std::nullopt);
    }
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

TEST(AllowListScanner, FindsAScriptByWhatItsInterpreterRuns) {
    // perl is part of every Debian system, so this needs nothing installed.
    const std::string perl = "/usr/bin/perl";
    if (!fs::exists(perl)) GTEST_SKIP() << "no " << perl;
    test::TempDir dir;
    test::Children children;
    const std::string script = dir.write("bin/backupd", "sleep 30;\n");
    AllowListScanner scanner(AllowList::test(dir.path() + "/bin"));
    auto started = [&](std::vector<std::string> argv) {
        pid_t pid = children.spawn(argv);
        for (int i = 0; i < 200 && AllowListScanner::path(pid) != fs::canonical(perl).string(); ++i)
            test::sleepFor(0.01);
        return pid;
    };
    const pid_t runs = started({perl, "-w", script});
    const pid_t mentions = started({perl, "-e", "sleep 30", script});
    test::sleepFor(0.05);
    ASSERT_EQ(AllowListScanner::arguments(runs), (std::vector<std::string>{perl, "-w", script}));
    auto pids = scanner.pids(HelperGroup::timemachine);
    EXPECT_TRUE(contains(pids, runs));
    EXPECT_FALSE(contains(pids, mentions));
}

TEST(AllowListScanner, PathOfAGoneProcessIsNone) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ASSERT_GT(pid, 0);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(AllowListScanner::path(pid), std::nullopt);
    EXPECT_EQ(AllowListScanner::path(::getpid()), fs::read_symlink("/proc/self/exe").string());
}
