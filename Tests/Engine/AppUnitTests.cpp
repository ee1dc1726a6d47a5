// Real processes in a desktop app unit's cgroup, as snapd places a snap app:
// the monitor shows them as one app row, named from the app's desktop entry.
// Needs a cgroup tree this test may write (root, cgroup v2 or the unified
// part of a hybrid tree); skipped elsewhere.
#include "Children.h"
#include "EngineContext.h"
#include "LinuxPlatform.h"
#include "Monitor.h"
#include "TempDir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

using namespace trevlin;
using namespace trevlin::test;

namespace {

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

/// The root of the unified cgroup tree, where the "0::" line of
/// /proc/<pid>/cgroup points; "" when there is none.
std::string unifiedRoot() {
    if (exists("/sys/fs/cgroup/cgroup.procs") && exists("/sys/fs/cgroup/cgroup.controllers")) return "/sys/fs/cgroup";
    if (exists("/sys/fs/cgroup/unified/cgroup.procs")) return "/sys/fs/cgroup/unified";
    return "";
}

/// The cgroup path of this process in the unified tree.
std::string ownCgroup() {
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("0::", 0) == 0) return line.substr(3);
    return "";
}

bool movePid(const std::string& cgroupDir, pid_t pid) {
    int fd = ::open((cgroupDir + "/cgroup.procs").c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const std::string text = std::to_string(pid) + "\n";
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

/// A cgroup made for the test; whatever is still in it goes back to where
/// this test runs before the cgroup is removed.
class TestCgroup {
public:
    TestCgroup(std::string dir, std::string home) : dir_(std::move(dir)), home_(std::move(home)) {
        made_ = ::mkdir(dir_.c_str(), 0755) == 0;
    }
    ~TestCgroup() {
        if (!made_) return;
        std::ifstream in(dir_ + "/cgroup.procs");
        pid_t pid;
        while (in >> pid) movePid(home_, pid);
        ::rmdir(dir_.c_str());
    }
    bool made() const { return made_; }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_, home_;
    bool made_ = false;
};

}  // namespace

TEST(AppUnit, ProcessesOfASnapScopeAreOneAppRowNamedFromTheEntry) {
    const std::string root = unifiedRoot();
    if (::geteuid() != 0 || root.empty()) GTEST_SKIP() << "needs root and a unified cgroup tree";
    const std::string unit = "snap.trevlintest.player-3dcfaa86-bf58-4d3e-a7c6-4e34dfdb050f.scope";
    TestCgroup scope(root + "/" + unit, root + ownCgroup());
    if (!scope.made()) GTEST_SKIP() << "cannot make a cgroup under " << root << ": " << std::strerror(errno);

    TempDir data;
    const std::string entry = data.write("applications/trevlintest_player.desktop",
                                         "[Desktop Entry]\nName=Trevlin Test Player\nIcon=multimedia-player\n");
    // A player with two helpers, all moved into the scope, as snapd does with
    // what `snap run` starts. Declared after the scope: they are killed and
    // reaped before it is removed.
    Children kids;
    const pid_t leader = kids.spawn({"/bin/sh", "-c", "sleep 30 & sleep 30 & wait"}, /*newSession=*/true);
    std::vector<pid_t> job;
    for (int i = 0; i < 300 && job.size() < 3; ++i) {
        sleepFor(0.01);
        job = processGroupMembers(leader);
    }
    ASSERT_EQ(job.size(), 3u);
    for (pid_t pid : job) ASSERT_TRUE(movePid(scope.dir(), pid)) << std::strerror(errno);

    LinuxPlatform::Options options;
    options.appDirs = {data.path() + "/applications"};
    options.locales = std::vector<std::string>{};
    options.desktop = false;
    auto context = EngineContext::make(std::make_shared<LinuxPlatform>(options));
    Monitor monitor(context, SystemInfo::read(context->platform()));
    monitor.start(false);
    monitor.tickNow();
    auto snap = monitor.latest();
    ASSERT_TRUE(snap);
    const AppUsage* row = nullptr;
    for (const auto& r : snap->apps)
        if (r.bundlePath == entry) row = &r;
    ASSERT_TRUE(row) << "no row keyed " << entry;
    EXPECT_EQ(row->name, "Trevlin Test Player");
    EXPECT_EQ(row->bundleIdentifier, "trevlintest_player");
    EXPECT_EQ(row->kind, AppKind::app);
    // The unit's leader is its lowest pid; the helpers count under it.
    EXPECT_EQ(row->mainPid, *std::min_element(job.begin(), job.end()));
    EXPECT_EQ(row->processCount, 3);
}
