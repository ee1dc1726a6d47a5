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

#include <cstdlib>

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

SecondStart startAgain(const test::TempDir& dir, const std::string& runtimeDir, const std::string& busAddress) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtimeDir));
    env.insert("XDG_DATA_HOME", QString::fromStdString(dir.path() + "/data"));
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(dir.path() + "/config"));
    env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString(busAddress));
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
        ::setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("XDG_RUNTIME_DIR"); }

    /// Nothing of a running Trevlin was made: no settings, no journal, no savings.
    bool leftNoTrace() const { return !QDir(QString::fromStdString(dir_.path() + "/data/Trevlin")).exists(); }

    test::TempDir dir_;
    std::string runtime_ = dir_.mkdir("runtime");
};

}  // namespace

TEST_F(SingleInstanceTest, OneLockHolderAtATime) {
    EXPECT_EQ(SingleInstance::lockPath().toStdString(), runtime_ + "/Trevlin.lock");
    auto first = std::make_unique<SingleInstance>();
    ASSERT_EQ(first->acquire(), SingleInstance::Result::first);
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
