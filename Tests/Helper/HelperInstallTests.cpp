// The helper program's start-up choices and its installation: where it works
// with and without root rights, the install script into a scratch root, and
// the systemd unit as systemd-analyze judges it.

#include "HelperProcess.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

using namespace trevlin;
using namespace trevlin::test;
namespace fs = std::filesystem;

namespace {

const std::string kScript = std::string(TREVLIN_SOURCE_DIR) + "/scripts/install-helper.sh";
const std::string kUnit = std::string(TREVLIN_SOURCE_DIR) + "/packaging/systemd/trevlin-helper.service";
const char* const kPath = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

ProgramResult install(const std::string& root, std::vector<std::string> extra = {}) {
    std::vector<std::string> argv{"/bin/bash", kScript, "--root", root};
    argv.insert(argv.end(), extra.begin(), extra.end());
    std::vector<std::string> env{kPath};
    // As root, the rules folder goes to the user who ran sudo.
    if (runningAsRoot()) env.push_back("SUDO_USER=nobody");
    return runProgramToEnd(argv, env);
}

std::optional<std::string> systemdAnalyze() {
    for (const char* p : {"/usr/bin/systemd-analyze", "/bin/systemd-analyze"})
        if (::access(p, X_OK) == 0) return p;
    return std::nullopt;
}

/// The folder of the system's own units, which the unit's dependencies come from.
std::optional<std::string> systemUnitDir() {
    for (const char* d : {"/usr/lib/systemd/system", "/lib/systemd/system"})
        if (fs::exists(std::string(d) + "/multi-user.target")) return d;
    return std::nullopt;
}

}  // namespace

TEST(HelperProgram, TestOverridesOnlyWithoutRootRights) {
    TempDir dir;
    giveToTestUser(dir.path());
    const std::vector<std::string> env{kPath, "TREVLIN_HELPER_TEST_ALLOW=" + dir.path() + "/allow",
                                       "TREVLIN_HELPER_TEST_DIR=" + dir.path()};

    auto user = runProgramToEnd(asTestUser({TREVLIN_HELPER_PATH, "--show-paths"}), env);
    ASSERT_TRUE(WIFEXITED(user.status) && WEXITSTATUS(user.status) == 0) << user.err;
    EXPECT_TRUE(contains(user.out, "rules " + dir.path() + "/helper-rules.json\n")) << user.out;
    EXPECT_TRUE(contains(user.out, "status " + dir.path() + "/helper-status.json\n")) << user.out;
    EXPECT_TRUE(contains(user.out, "journal " + dir.path() + "/journal\n")) << user.out;
    EXPECT_TRUE(contains(user.out, "test mode on\n"));
    EXPECT_TRUE(contains(user.out, "allow timemachine " + dir.path() + "/allow/backupd\n")) << user.out;
    EXPECT_FALSE(contains(user.out, "/usr/bin/restic"));
    EXPECT_FALSE(contains(user.err, "refused"));

    if (!runningAsRoot()) GTEST_SKIP() << "the refusal needs root rights";
    auto root = runProgramToEnd({TREVLIN_HELPER_PATH, "--show-paths"}, env);
    ASSERT_TRUE(WIFEXITED(root.status) && WEXITSTATUS(root.status) == 0) << root.err;
    EXPECT_TRUE(contains(root.out, "rules /var/lib/trevlin/Rules/helper-rules.json\n")) << root.out;
    EXPECT_TRUE(contains(root.out, "status /var/lib/trevlin/helper-status.json\n"));
    EXPECT_TRUE(contains(root.out, "journal /var/lib/trevlin/Journal\n"));
    EXPECT_TRUE(contains(root.out, "test mode off\n"));
    EXPECT_TRUE(contains(root.out, "allow timemachine /usr/bin/restic\n"));
    EXPECT_FALSE(contains(root.out, dir.path()));
    const auto allow = root.err.find("refused TREVLIN_HELPER_TEST_ALLOW");
    const auto testDir = root.err.find("refused TREVLIN_HELPER_TEST_DIR");
    EXPECT_NE(allow, std::string::npos) << root.err;
    EXPECT_NE(testDir, std::string::npos) << root.err;
    EXPECT_LT(allow, testDir);
}

TEST(HelperProgram, RejectsUnknownArguments) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--frobnicate"}, {"--recover", "--show-paths"}, {"extra"}}) {
        std::vector<std::string> argv{TREVLIN_HELPER_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        auto r = runProgramToEnd(asTestUser(argv), {kPath});
        EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 2) << args[0];
        EXPECT_TRUE(contains(r.err, "usage: app.trevlin.helper")) << r.err;
    }
}

TEST(HelperInstall, InstallsIntoAScratchRootAndRemovesItAgain) {
    TempDir root;
    auto r = install(root.path(), {"--binary", TREVLIN_HELPER_PATH});
    ASSERT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.out << r.err;

    const std::string binary = root.path() + "/usr/libexec/trevlin/app.trevlin.helper";
    const std::string unit = root.path() + "/etc/systemd/system/trevlin-helper.service";
    const std::string rules = root.path() + "/var/lib/trevlin/Rules";
    struct stat st{};
    ASSERT_EQ(::stat(binary.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(readText(binary), readText(TREVLIN_HELPER_PATH));
    ASSERT_EQ(::stat(unit.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(readText(unit), readText(kUnit));
    ASSERT_EQ(::stat(rules.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    if (runningAsRoot()) {
        EXPECT_EQ(st.st_uid, kNobody) << "the rules folder belongs to the user who ran sudo";
    }
    ASSERT_EQ(::stat((root.path() + "/var/lib/trevlin").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, ::geteuid());

    // A rules file and a journal from the helper's life go with it.
    fs::create_directories(root.path() + "/var/lib/trevlin/Journal");
    std::ofstream(rules + "/helper-rules.json") << "{}";
    r = install(root.path(), {"--uninstall"});
    ASSERT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.out << r.err;
    EXPECT_FALSE(fs::exists(binary));
    EXPECT_FALSE(fs::exists(root.path() + "/usr/libexec/trevlin"));
    EXPECT_FALSE(fs::exists(unit));
    EXPECT_FALSE(fs::exists(root.path() + "/var/lib/trevlin"));

    // Mistakes stop the script before it touches anything.
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--binary", root.path() + "/none"},
                                                {"--frobnicate"}}) {
        r = install(root.path(), bad);
        EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) != 0) << bad[0];
        EXPECT_FALSE(fs::exists(binary));
    }
    r = runProgramToEnd({"/bin/bash", kScript, "--root", "relative/folder", "--binary", TREVLIN_HELPER_PATH}, {kPath});
    EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) != 0);
}

TEST(HelperInstall, AReinstallFollowsNoLinkTheUserPlantedInTheRulesFolder) {
    if (!runningAsRoot()) GTEST_SKIP() << "only root hands the rules folder to the user";
    TempDir root, outside;
    auto r = install(root.path(), {"--binary", TREVLIN_HELPER_PATH});
    ASSERT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.out << r.err;
    const std::string rules = root.path() + "/var/lib/trevlin/Rules/helper-rules.json";
    const std::string secret = outside.write("shadow", "root's");
    struct stat st{};

    // A symbolic link goes; its target keeps its owner.
    fs::create_symlink(secret, rules);
    r = install(root.path(), {"--binary", TREVLIN_HELPER_PATH});
    ASSERT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.out << r.err;
    EXPECT_FALSE(fs::exists(fs::symlink_status(rules)));
    ASSERT_EQ(::stat(secret.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);

    // A hard link to a file of root's is left as it is.
    fs::create_hard_link(secret, rules);
    r = install(root.path(), {"--binary", TREVLIN_HELPER_PATH});
    ASSERT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.out << r.err;
    ASSERT_EQ(::stat(secret.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    fs::remove(rules);

    // A rules file of an earlier install's user is handed on.
    std::ofstream(rules) << "{}";
    ASSERT_EQ(::chown(rules.c_str(), 1234, 1234), 0);
    r = install(root.path(), {"--binary", TREVLIN_HELPER_PATH});
    ASSERT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.out << r.err;
    ASSERT_EQ(::lstat(rules.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, kNobody);
}

TEST(HelperInstall, TheInstalledUnitPassesSystemdAnalyzeVerify) {
    auto analyze = systemdAnalyze();
    if (!analyze) GTEST_SKIP() << "systemd-analyze is not installed";
    auto unitDir = systemUnitDir();
    if (!unitDir) GTEST_SKIP() << "no systemd units on this machine";
    TempDir root;
    auto r = install(root.path(), {"--binary", TREVLIN_HELPER_PATH});
    ASSERT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.out << r.err;
    // The targets the unit names come from this machine's own units.
    fs::create_directories(root.path() + "/usr/lib/systemd");
    fs::copy(*unitDir, root.path() + "/usr/lib/systemd/system",
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);

    auto verify = [&](const std::string& unit) {
        return runProgramToEnd({*analyze, "verify", "--root=" + root.path(), unit}, {kPath});
    };
    auto good = verify("/etc/systemd/system/trevlin-helper.service");
    EXPECT_TRUE(WIFEXITED(good.status) && WEXITSTATUS(good.status) == 0) << good.out << good.err;
    EXPECT_EQ(good.out + good.err, "");

    // The same check finds a fault: a misspelt setting only draws a warning,
    // so silence is what tells a clean unit.
    std::string text = readText(kUnit);
    text.replace(text.find("NoNewPrivileges="), 16, "NoNewPrivilege=");
    std::ofstream(root.path() + "/etc/systemd/system/trevlin-helper-typo.service") << text;
    auto typo = verify("/etc/systemd/system/trevlin-helper-typo.service");
    EXPECT_TRUE(contains(typo.out + typo.err, "NoNewPrivilege")) << typo.out << typo.err;
}
