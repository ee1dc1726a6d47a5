// The notifier against a real notification server protocol: a private
// dbus-daemon and a small server object that records what it is asked and
// can press buttons.
// Before any Qt header: the simulated platform has a member named like
// Qt's `signals` keyword.
#include "SimulatedPlatform.h"

#include "AppModel.h"
#include "EngineContext.h"
#include "LimiterManager.h"
#include "Notifier.h"
#include "PrivateBus.h"
#include "QtTestApp.h"
#include "TempDir.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <set>

using namespace trevlin;
using namespace trevlin::testing;
using trevlin::test::PrivateBus;

namespace {

const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";

struct NotifyCall {
    uint replacesId = 0;
    QString summary;
    QString body;
    QStringList actions;
    uint returnedId = 0;
};

/// The server side of org.freedesktop.Notifications, as much as Trevlin uses.
class FakeServer : public QDBusVirtualObject {
public:
    explicit FakeServer(QDBusConnection conn) : conn_(conn) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& msg, const QDBusConnection& connection) override {
        std::lock_guard<std::mutex> g(lock_);
        QDBusMessage reply;
        const QString member = msg.member();
        const QList<QVariant> args = msg.arguments();
        if (member == "Notify" && args.size() == 8) {
            NotifyCall call;
            call.replacesId = args[1].toUInt();
            call.summary = args[3].toString();
            call.body = args[4].toString();
            call.actions = args[5].toStringList();
            uint id = call.replacesId != 0 && live_.count(call.replacesId) ? call.replacesId : nextId_++;
            live_.insert(id);
            call.returnedId = id;
            notifies_.push_back(call);
            reply = msg.createReply(QVariant::fromValue(id));
        } else if (member == "CloseNotification" && args.size() == 1) {
            closes_.push_back(args[0].toUInt());
            live_.erase(args[0].toUInt());
            reply = msg.createReply();
        } else if (member == "GetCapabilities") {
            reply = msg.createReply(QVariant(QStringList{"actions", "body"}));
        } else if (member == "GetServerInformation") {
            reply = msg.createReply(QList<QVariant>{"fake", "Trevlin tests", "1.0", "1.2"});
        } else {
            return false;
        }
        connection.send(reply);
        return true;
    }

    /// Presses a button of notification `id` (what the desktop does on a click).
    void invoke(uint id, const QString& key) {
        QDBusMessage sig = QDBusMessage::createSignal(kPath, kInterface, "ActionInvoked");
        sig << id << key;
        conn_.send(sig);
    }

    std::vector<NotifyCall> notifies() {
        std::lock_guard<std::mutex> g(lock_);
        return notifies_;
    }
    std::vector<uint> closes() {
        std::lock_guard<std::mutex> g(lock_);
        return closes_;
    }
    std::set<uint> live() {
        std::lock_guard<std::mutex> g(lock_);
        return live_;
    }

private:
    QDBusConnection conn_;
    std::mutex lock_;
    uint nextId_ = 1;
    std::vector<NotifyCall> notifies_;
    std::vector<uint> closes_;
    std::set<uint> live_;
};

struct Answer {
    std::string path;
    std::string name;
    AutoAnswer answer;
};

class NotifierTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        qtApp();
        bus_ = new PrivateBus;
        ASSERT_FALSE(bus_->address().empty()) << "dbus-daemon did not start";
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete bus_;
        bus_ = nullptr;
    }

    /// Starts the fake server on a connection of its own.
    void startServer() {
        serverConn_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromStdString(bus_->address()), "fake-notification-server"));
        ASSERT_TRUE(serverConn_->isConnected());
        server_ = std::make_unique<FakeServer>(*serverConn_);
        ASSERT_TRUE(serverConn_->registerVirtualObject(kPath, server_.get()));
        ASSERT_TRUE(serverConn_->registerService(kInterface));
    }
    void TearDown() override {
        if (serverConn_) {
            serverConn_->unregisterService(kInterface);
            serverConn_->unregisterObject(kPath);
            QDBusConnection::disconnectFromBus("fake-notification-server");
        }
        server_.reset();
        serverConn_.reset();
    }

    std::string statusOf(Notifier& n) {
        std::string status;
        n.refreshStatus([&](NotificationStatus s) { status = text(s); });
        spinUntil([&] { return !status.empty(); }, 10);
        return status;
    }

    static PrivateBus* bus_;
    std::unique_ptr<QDBusConnection> serverConn_;
    std::unique_ptr<FakeServer> server_;
};

PrivateBus* NotifierTest::bus_ = nullptr;

}  // namespace

TEST(NotifierTexts, ButtonTitlesFollowLimitAndAction) {
    struct Case {
        double limit;
        bool pause;
        std::vector<std::string> titles;
    };
    const Case cases[] = {
        {1.0, false, {"Limit to 1 core", "Always limit", "Ignore", "Never limit"}},
        {1.5, false, {"Limit to 1.5 cores", "Always limit", "Ignore", "Never limit"}},
        {2.0, false, {"Limit to 2 cores", "Always limit", "Ignore", "Never limit"}},
        {0.25, false, {"Limit to 0.25 cores", "Always limit", "Ignore", "Never limit"}},
        {1.0, true, {"Pause it", "Always pause", "Ignore", "Never pause"}},
    };
    for (const auto& c : cases) {
        auto actions = Notifier::actions(c.limit, c.pause);
        ASSERT_EQ(actions.size(), 4u);
        const char* ids[] = {"limit", "always", "ignore", "never"};
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(actions[i].first, ids[i]);
            EXPECT_EQ(actions[i].second, c.titles[i]) << "limit " << c.limit << " pause " << c.pause;
        }
    }
    EXPECT_EQ(Notifier::title("Example", 2.46), "Example is using 2.5 cores");
    EXPECT_EQ(Notifier::body(2.0, 12.4), "It has been over 2 cores in the background for 12 seconds.");
    EXPECT_EQ(Notifier::body(1.5, 10.5), "It has been over 1.5 cores in the background for 11 seconds.");
}

TEST_F(NotifierTest, UnavailableWithoutServer) {
    Notifier n;
    ASSERT_TRUE(n.available());
    EXPECT_EQ(statusOf(n), "unavailable");
    // Posting into the void neither blocks nor fails loudly.
    n.post({"/usr/share/applications/example.desktop", "Example", 3, 12}, 2);
    n.withdraw("/usr/share/applications/example.desktop");
    spinFor(0.2);
}

TEST_F(NotifierTest, OneNotificationPerAppReplacedByTheNext) {
    startServer();
    Notifier n;
    EXPECT_EQ(statusOf(n), "allowed");

    const std::string a = "/usr/share/applications/example.desktop";
    const std::string b = "cli:node";
    n.registerCategory(1.0, false);
    n.post({a, "Example", 2.46, 12.4}, 2.0);
    ASSERT_TRUE(spinUntil([&] { return server_->notifies().size() == 1; }));
    auto first = server_->notifies()[0];
    EXPECT_EQ(first.replacesId, 0u);
    EXPECT_EQ(first.summary, "Example is using 2.5 cores");
    EXPECT_EQ(first.body, "It has been over 2 cores in the background for 12 seconds.");
    EXPECT_EQ(first.actions, (QStringList{"limit", "Limit to 1 core", "always", "Always limit", "ignore", "Ignore",
                                          "never", "Never limit"}));

    // A second question replaces the first; the new limit shows in the button.
    n.registerCategory(1.5, false);
    n.post({a, "Example", 3.0, 20}, 2.0);
    ASSERT_TRUE(spinUntil([&] { return server_->notifies().size() == 2; }));
    auto second = server_->notifies()[1];
    EXPECT_EQ(second.replacesId, first.returnedId);
    EXPECT_EQ(second.actions[1], "Limit to 1.5 cores");

    // Posts without waiting for the server in between still replace, and the
    // newest question is the one left on screen.
    n.post({a, "Example", 3.1, 21}, 2.0);
    n.post({a, "Example", 3.2, 22}, 2.0);
    n.post({a, "Example", 3.3, 23}, 2.0);
    ASSERT_TRUE(spinUntil([&] { return server_->notifies().back().summary == "Example is using 3.3 cores"; }));
    spinFor(0.2);
    const auto calls = server_->notifies();
    for (size_t i = 1; i < calls.size(); ++i) EXPECT_EQ(calls[i].replacesId, first.returnedId);
    EXPECT_EQ(server_->live().size(), 1u);

    // Another app gets a notification of its own; pause mode renames the buttons.
    n.registerCategory(1.0, true);
    n.post({b, "node", 2.5, 10}, 2.0);
    ASSERT_TRUE(spinUntil([&] { return server_->notifies().size() == calls.size() + 1; }));
    auto other = server_->notifies().back();
    EXPECT_EQ(other.replacesId, 0u);
    EXPECT_NE(other.returnedId, first.returnedId);
    EXPECT_EQ(other.actions, (QStringList{"limit", "Pause it", "always", "Always pause", "ignore", "Ignore", "never",
                                          "Never pause"}));
    EXPECT_EQ(server_->live().size(), 2u);

    // Withdrawing closes exactly that app's notification.
    n.withdraw(a);
    ASSERT_TRUE(spinUntil([&] { return server_->closes().size() == 1; }));
    EXPECT_EQ(server_->closes()[0], first.returnedId);
    EXPECT_EQ(server_->live(), std::set<uint>{other.returnedId});
}

TEST_F(NotifierTest, ButtonsBecomeAnswersAndOtherActionsAreIgnored) {
    startServer();
    Notifier n;
    std::vector<Answer> answers;
    n.onAnswer = [&](const std::string& path, const std::string& name, AutoAnswer answer) {
        answers.push_back({path, name, answer});
    };
    const std::string a = "/usr/share/applications/example.desktop";
    n.post({a, "Example", 2.5, 11}, 2.0);
    ASSERT_TRUE(spinUntil([&] { return server_->notifies().size() == 1; }));
    const uint id = server_->notifies()[0].returnedId;

    // A click on the body and foreign ids change nothing.
    server_->invoke(id, "default");
    server_->invoke(id, "snooze");
    server_->invoke(id + 100, "limit");
    spinFor(0.3);
    EXPECT_TRUE(answers.empty());

    const std::pair<const char*, AutoAnswer> keys[] = {{"limit", AutoAnswer::limitOnce},
                                                         {"always", AutoAnswer::always},
                                                         {"ignore", AutoAnswer::ignore},
                                                         {"never", AutoAnswer::never}};
    for (const auto& [key, expected] : keys) {
        size_t before = answers.size();
        server_->invoke(id, key);
        ASSERT_TRUE(spinUntil([&] { return answers.size() == before + 1; })) << key;
        EXPECT_EQ(answers.back().path, a);
        EXPECT_EQ(answers.back().name, "Example");
        EXPECT_EQ(answers.back().answer, expected) << key;
    }

    // Once withdrawn, a late press on the old notification is ignored.
    n.withdraw(a);
    ASSERT_TRUE(spinUntil([&] { return server_->closes().size() == 1; }));
    server_->invoke(id, "limit");
    spinFor(0.3);
    EXPECT_EQ(answers.size(), 4u);
}

TEST_F(NotifierTest, TheModelPostsQuestionsAndTakesAnswersFromButtons) {
    startServer();
    test::TempDir dir;
    auto sim = std::make_shared<SimulatedPlatform>();
    sim->setDataDirectory(dir.path() + "/data");
    dir.write("data/settings.json", R"({"masterEnabled": true, "autoLimitCores": 1.5})");
    AppModelOptions o;
    o.context = EngineContext::make(sim);
    o.dataDirectory = dir.path() + "/data";
    o.journalDirectory = dir.mkdir("journal");
    o.monitorTimer = false;
    AppModel m(o);
    ASSERT_TRUE(spinUntil([&] { return m.notificationStatus() == NotificationStatus::allowed; }));

    const std::string path = "/usr/share/applications/indexer.desktop";
    MonitorSnapshot busy;
    AppUsage app;
    app.name = "Indexer";
    app.bundlePath = path;
    app.cores = 3.0;
    busy.apps = {app};
    busy.totalCores = 3.0;
    for (int i = 0; i < 11; ++i) {
        sim->advance(1.0);
        m.receive(busy);
    }
    ASSERT_EQ(m.pendingQuestions().size(), 1u);
    ASSERT_TRUE(spinUntil([&] { return server_->notifies().size() == 1; }));
    auto posted = server_->notifies()[0];
    EXPECT_EQ(posted.summary, "Indexer is using 3.0 cores");
    EXPECT_EQ(posted.body, "It has been over 2 cores in the background for 10 seconds.");
    EXPECT_EQ(posted.actions[1], "Limit to 1.5 cores");

    // "Always limit" on the notification: remembered, limited, withdrawn.
    server_->invoke(posted.returnedId, "always");
    ASSERT_TRUE(spinUntil([&] { return m.autoLimits().count(path) == 1; }));
    EXPECT_TRUE(m.pendingQuestions().empty());
    EXPECT_EQ(m.settings().autoDecisions.at(path).decision, "always");
    EXPECT_EQ(m.autoLimits().at(path).maxCores, 1.5);
    ASSERT_TRUE(spinUntil([&] { return server_->closes().size() == 1; }));
    EXPECT_EQ(server_->closes()[0], posted.returnedId);
}
