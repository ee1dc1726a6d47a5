// One Trevlin per user: the lock, and a real second start of the program
// that hands over to the first over a private session bus and ends at once.
#include "PrivateBus.h"
#include "QtTestApp.h"
#include "TempDir.h"
#include "Ui/SingleInstance.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>

using namespace trevlin;
using namespace trevlin::testing;
using trevlin::test::PrivateBus;
using namespace trevlin::ui;

namespace {

/// A second start of the program, with its own empty data and settings
/// folders and the given session bus. Waits for it while running the event
/// loop (the first instance answers from it); kills it if it does not end.
struct SecondStart {
    int exitCode = -1;
    bool ended = false;
    std::string errors;
};

SecondStart startAgain(const test::TempDir& dir, const std::string& runtimeDir, const std::string& busAddress,
                       const std::map<std::string, std::optional<std::string>>& changes = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtimeDir));
    env.insert("TREVLIN_TEST_LOCK_DIR", QString::fromStdString(runtimeDir));
    env.insert("XDG_DATA_HOME", QString::fromStdString(dir.path() + "/data"));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir.path() + "/config"));
    env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(busAddress));
    for (const auto& [name, value] : changes) {
        if (value) env.insert(QString::fromStdString(name), QString::fromStdString(*value));
        else env.remove(QString::fromStdString(name));
    }
    p.setProcessEnvironment(env);
    p.start(TREVLIN_APP_PATH, {});
    SecondStart result;
    if (!p.waitForStarted(10000)) return result;
    result.ended = spinUntil([&] { return p.state() == QProcess::NotRunning; }, 30);
    if (!result.ended) {
        p.kill();
        p.waitForFinished(5000);
        return result;
    }
    result.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    result.errors = p.readAllStandardError().toStdString();
    return result;
}

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        qtApp();
        ::setenv("TREVLIN_TEST_LOCK_DIR", runtime_.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("TREVLIN_TEST_LOCK_DIR"); }

    /// Nothing of a running Trevlin was made: no settings, no journal, no savings.
    bool leftNoTrace() const { return !QDir(QString::fromStdString(dir_.path() + "/data/Trevlin")).exists(); }

    test::TempDir dir_;
    std::string runtime_ = dir_.mkdir("runtime");
};

}  // namespace

TEST_F(SingleInstanceTest, OneLockHolderAtATime) {
    auto first = std::make_unique<SingleInstance>();
    ASSERT_EQ(first->acquire(), SingleInstance::Result::first);
    EXPECT_EQ(first->lockPath(), runtime_ + "/Trevlin.lock");
    SingleInstance second;
    EXPECT_EQ(second.acquire(), SingleInstance::Result::running);
    // The holder gone (its process ended), the next start is the first.
    first.reset();
    EXPECT_EQ(second.acquire(), SingleInstance::Result::first);
}

TEST_F(SingleInstanceTest, SecondStartAsksTheFirstToShowItsWindowAndEnds) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon could not be started";
    // Before Qt first connects to a session bus.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);

    SingleInstance first;
    ASSERT_EQ(first.acquire(), SingleInstance::Result::first);
    ASSERT_TRUE(first.listen());
    int reopened = 0;
    QObject::connect(&first, &SingleInstance::reopenRequested, [&] { ++reopened; });

    const SecondStart second = startAgain(dir_, runtime_, bus.address());
    ASSERT_TRUE(second.ended);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(reopened, 1);
    EXPECT_EQ(second.errors.find("already running"), std::string::npos) << second.errors;
    EXPECT_TRUE(leftNoTrace());
}

TEST_F(SingleInstanceTest, WithoutASessionBusSecondStartSaysSoAndEnds) {
    SingleInstance first;
    ASSERT_EQ(first.acquire(), SingleInstance::Result::first);
    const SecondStart second = startAgain(dir_, runtime_, "unix:path=" + dir_.path() + "/no-bus");
    ASSERT_TRUE(second.ended);
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_NE(second.errors.find("Trevlin is already running"), std::string::npos) << second.errors;
    EXPECT_TRUE(leftNoTrace());
}

TEST_F(SingleInstanceTest, TheLockFolderIsTheFirstThatIsTheUsersOwn) {
    // Another user's folder: one the test makes and gives away when it may,
    // else the root folder, which is not this user's.
    std::string foreign = "/";
    if (::geteuid() == 0) {
        foreign = dir_.mkdir("foreign");
        ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    }
    const std::string data = dir_.path() + "/home/.local/share/Trevlin";
    SingleInstance first;
    ASSERT_EQ(first.acquire({{dir_.path() + "/no-runtime", false}, {foreign, false}, {data, true}}),
              SingleInstance::Result::first)
        << first.error();
    EXPECT_EQ(first.lockPath(), data + "/Trevlin.lock");
    struct stat st {};
    ASSERT_EQ(::stat(data.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    SingleInstance none;
    EXPECT_EQ(none.acquire({{dir_.path() + "/no-runtime", false}, {foreign, false}}), SingleInstance::Result::failed);
    EXPECT_NE(none.error().find(foreign + " belongs to another user"), std::string::npos) << none.error();
}

TEST_F(SingleInstanceTest, AStartThatCannotHaveTheLockSaysWhyAndDoesNotRun) {
    // Where the lock is, whatever the environment says: a second start without
    // XDG_RUNTIME_DIR and with another data folder still finds the first.
    {
        SingleInstance first;
        ASSERT_EQ(first.acquire(), SingleInstance::Result::first);
        const SecondStart second = startAgain(dir_, runtime_, "unix:path=" + dir_.path() + "/no-bus",
                                              {{"XDG_RUNTIME_DIR", std::nullopt}, {"XDG_DATA_HOME", dir_.path() + "/other"}});
        ASSERT_TRUE(second.ended);
        EXPECT_EQ(second.exitCode, 0);
        EXPECT_NE(second.errors.find("Trevlin is already running"), std::string::npos) << second.errors;
    }

    const std::string lock = runtime_ + "/Trevlin.lock";
    struct Case {
        const char* name;
        std::function<bool()> prepare;  // false: not possible here
        std::string folder;
        std::string says;
    };
    const bool root = ::geteuid() == 0;
    const Case cases[] = {
        {"a link at the lock",
         [&] { return ::symlink((dir_.path() + "/elsewhere").c_str(), lock.c_str()) == 0; }, runtime_,
         lock + " is a symbolic link"},
        {"a FIFO at the lock", [&] { return ::mkfifo(lock.c_str(), 0600) == 0; }, runtime_, lock + " is not a regular file"},
        {"a lock file of another user",
         [&] { return root && ::close(::open(lock.c_str(), O_CREAT | O_WRONLY, 0600)) == 0 && ::chown(lock.c_str(), 65534, 65534) == 0; },
         runtime_, lock + " belongs to another user"},
        {"another user's folder",
         [&] { return !root || ::chown(runtime_.c_str(), 65534, 65534) == 0; }, root ? runtime_ : "/",
         (root ? runtime_ : std::string("/")) + " belongs to another user"},
        {"no folder at all", [] { return true; }, dir_.path() + "/missing", "no folder for the lock file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(lock);
        ASSERT_EQ(::chown(runtime_.c_str(), ::geteuid(), ::getegid()), 0);
        if (!c.prepare()) {
            std::printf("skipped: %s (needs root)\n", c.name);
            continue;
        }
        const SecondStart start =
            startAgain(dir_, runtime_, "unix:path=" + dir_.path() + "/no-bus", {{"TREVLIN_TEST_LOCK_DIR", c.folder}});
        ASSERT_TRUE(start.ended) << "it ran without the lock";
        EXPECT_EQ(start.exitCode, 1);
        EXPECT_NE(start.errors.find("Trevlin: not starting, the one-instance lock cannot be taken: "), std::string::npos)
            << start.errors;
        EXPECT_NE(start.errors.find(c.says), std::string::npos) << start.errors;
        EXPECT_TRUE(leftNoTrace());
    }
    std::filesystem::remove(lock);
    ::chown(runtime_.c_str(), ::geteuid(), ::getegid());
}
