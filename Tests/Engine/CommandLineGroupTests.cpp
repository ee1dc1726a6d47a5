// Which row work started from a terminal lands in, on real process trees
// read through the real /proc. A session-leading bash with job control
// stands for the terminal's interactive shell; the tools are copies of
// bash (for launchers that run commands themselves) and of sleep (for the
// programs they run), named like the real ones. ninja is the real one.

#include "AppKey.h"
#include "Children.h"
#include "Paths.h"
#include "ProcessGrouping.h"
#include "ProcessUtil.h"
#include "RealPlatform.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <map>

using namespace trevlin;
using namespace trevlin::test;

namespace {

/// name → pids of the processes of session `sid` running an executable of that name.
std::multimap<std::string, pid_t> byName(pid_t sid) {
    std::multimap<std::string, pid_t> out;
    for (pid_t p : sessionMembers(sid)) out.emplace(lastPathComponent(exePath(realPlatform(), p)), p);
    return out;
}

}  // namespace

TEST(CommandLineGroups, EachToolStartedInATerminalGetsTheRowOfWhatTheUserStarted) {
    TempDir dir;
    const std::string d = dir.path();
    namespace fs = std::filesystem;
    for (const char* name : {"make", "cargo", "npm"}) fs::copy_file("/bin/bash", d + "/" + name);
    for (const char* name : {"cc1plus", "as", "cc1", "rustc", "node", "gcc", "yes"})
        fs::copy_file("/bin/sleep", d + "/" + name);
    dir.write("build.ninja",
              "rule run\n  command = $cmd\n"
              "build a: run\n  cmd = " + d + "/cc1plus 60\n"
              "build b: run\n  cmd = " + d + "/as 60\n");
    dir.write("build.sh", d + "/gcc 60 & wait\n");

    const struct Case {
        const char* typed;           // what the interactive shell runs as a job
        std::vector<std::string> members;  // processes of the build that must be in the row
        const char* tool;            // the launcher, in its own row too; "" when none
        const char* key;
    } cases[] = {
        {"ninja -C DIR -j2", {"cc1plus", "as", "dash"}, "ninja", "cli:ninja"},
        {"DIR/make -c 'DIR/cc1 60 & DIR/cc1 60 & wait'", {"cc1"}, "make", "cli:make"},
        {"DIR/cargo -c 'DIR/rustc 60 & DIR/rustc 60 & wait'", {"rustc"}, "cargo", "cli:cargo"},
        {"DIR/npm -c 'sh -c \"DIR/node 60\" & wait'", {"node", "dash"}, "npm", "cli:npm"},
        {"bash DIR/build.sh", {"gcc"}, "", "cli:bash"},
        {"DIR/yes 60", {"yes"}, "", "cli:bash"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        std::string job = c.typed;
        for (size_t at; (at = job.find("DIR")) != std::string::npos;) job.replace(at, 3, d);
        Children kids;
        const pid_t shell = kids.spawn({"bash", "-c", "set -m; " + job + " & wait"}, true);
        std::multimap<std::string, pid_t> procs;
        auto present = [&] {
            procs = byName(shell);
            for (const auto& m : c.members)
                if (!procs.count(m)) return false;
            return !*c.tool || procs.count(c.tool);
        };
        for (int i = 0; i < 500 && !present(); ++i) sleepFor(0.01);
        ASSERT_TRUE(present());
        sleepFor(0.1);  // every fork has run its program
        procs = byName(shell);

        ProcessGrouping grouping(realPlatform());
        grouping.rebuildAppTable({}, {}, {});
        for (const auto& m : c.members) {
            auto [first, last] = procs.equal_range(m);
            for (auto it = first; it != last; ++it) EXPECT_EQ(grouping.resolve(it->second), c.key) << m << " " << it->second;
        }
        if (*c.tool) {
            EXPECT_EQ(grouping.resolve(procs.find(c.tool)->second), c.key) << "the tool itself";
        }
        EXPECT_EQ(AppKey(c.key).displayName(), lastPathComponent(AppKey(c.key).launcherName()));
    }
}
