// The Settings page over a real model on the simulated platform: its texts
// without widgets, then appearance, launch at login (a real autostart entry
// in a private XDG_CONFIG_HOME), updates and the version.
#include "UiModelFixture.h"

#include "Appearance.h"
#include "LoginItem.h"
#include "Ui/AutomaticViewControls.h"
#include "Ui/SettingsView.h"
#include "Ui/SettingsViewTexts.h"
#include "Ui/ToggleSwitch.h"
#include "Updater.h"

#include <QAbstractButton>
#include <QFile>
#include <QLabel>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace trevlin;
using namespace trevlin::ui;
using trevlin::testing::AppModelProbe;
using trevlin::testing::UiModelTest;

TEST(SettingsViewTexts, EachNotificationStatusHasItsHintOrNone) {
    const std::vector<std::tuple<NotificationStatus, const char*, const char*>> cases = {
        {NotificationStatus::allowed, "Allowed", ""},
        {NotificationStatus::denied, "Denied",
         "Automatic mode's questions will appear in the menu bar panel instead. To get notifications, allow Trevlin "
         "in your desktop's notification settings."},
        {NotificationStatus::unavailable, "Unavailable",
         "Notifications are not available here; questions appear in the menu bar panel."},
        {NotificationStatus::notAskedYet, "Not asked yet", "Trevlin asks when you turn Automatic mode on."},
        {NotificationStatus::unknown, "Unknown", ""},
        {NotificationStatus::checking, "Checking", ""},
    };
    for (const auto& [status, shown, hint] : cases) {
        EXPECT_EQ(notificationStatusText(status), QString(shown)) << text(status);
        EXPECT_EQ(notificationHint(status), QString(hint)) << text(status);
    }
}

TEST(SettingsViewTexts, LoginErrorReplacesTheApprovalHint) {
    const LoginNote approval = loginNote(LoginStatus::requiresApproval, std::nullopt);
    EXPECT_EQ(approval.text, "Approve Trevlin in System Settings > General > Login Items.");
    EXPECT_FALSE(approval.error);
    const LoginNote failed = loginNote(LoginStatus::requiresApproval, std::string("the folder is read-only"));
    EXPECT_EQ(failed.text, "Could not change this: the folder is read-only");
    EXPECT_TRUE(failed.error);
    EXPECT_TRUE(loginNote(LoginStatus::enabled, std::nullopt).text.isEmpty());
    EXPECT_TRUE(loginNote(LoginStatus::off, std::nullopt).text.isEmpty());
}

TEST(SettingsViewTexts, Version) {
    EXPECT_EQ(versionText("1.4", "27"), "1.4 (27)");
    EXPECT_EQ(versionText("1.4", ""), "1.4 (1)");
    EXPECT_EQ(versionText("", "27"), "development build");
    EXPECT_EQ(versionText("", ""), "development build");
}

class SettingsViewTest : public UiModelTest {
protected:
    void SetUp() override {
        UiModelTest::SetUp();
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) oldConfig_ = old;
        ::setenv("XDG_CONFIG_HOME", dir_.mkdir("config").c_str(), 1);
    }
    void TearDown() override {
        UiModelTest::TearDown();
        if (oldConfig_) ::setenv("XDG_CONFIG_HOME", oldConfig_->c_str(), 1);
        else ::unsetenv("XDG_CONFIG_HOME");
    }
    std::optional<std::string> oldConfig_;
    AppUpdater updater_;
};

TEST_F(SettingsViewTest, LaunchAtLoginWritesAndRemovesTheAutostartEntry) {
    AppModel& m = makeModel();
    SettingsView view(m, updater_);
    view.show();  // shown: the login status is read again
    const std::string entry = dir_.path() + "/config/autostart/trevlin.desktop";
    EXPECT_EQ(LoginItem::entryPath(), entry);
    EXPECT_EQ(m.loginStatus(), LoginStatus::off);
    EXPECT_FALSE(view.loginSwitch()->isChecked());

    view.loginSwitch()->click();
    ASSERT_TRUE(std::filesystem::exists(entry));
    std::ifstream in(entry);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::optional<std::string> exec = LoginItem::execValue(*LoginItem::programPath());
    ASSERT_TRUE(exec);
    EXPECT_NE(text.find("Exec=" + *exec + "\n"), std::string::npos) << text;
    EXPECT_TRUE(view.loginSwitch()->isChecked());
    EXPECT_TRUE(view.loginErrorLabel()->isHidden());

    view.loginSwitch()->click();
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_FALSE(view.loginSwitch()->isChecked());
}

TEST_F(SettingsViewTest, AFailedLoginChangeShowsItsError) {
    // A file where the autostart folder would have to be.
    ::setenv("XDG_CONFIG_HOME", dir_.write("not-a-folder", "x").c_str(), 1);
    AppModel& m = makeModel();
    SettingsView view(m, updater_);
    view.loginSwitch()->click();
    ASSERT_TRUE(m.loginError());
    EXPECT_FALSE(view.loginErrorLabel()->isHidden());
    EXPECT_EQ(view.loginErrorLabel()->text(), "Could not change this: " + QString::fromStdString(*m.loginError()));
    EXPECT_TRUE(view.loginHintLabel()->isHidden());
    EXPECT_FALSE(view.loginSwitch()->isChecked());
}

TEST_F(SettingsViewTest, AppearanceAndDockApplyAtOnceAndAreSaved) {
    AppModel& m = makeModel(R"({"appearance": "light"})");
    SettingsView view(m, updater_);
    EXPECT_EQ(view.appearancePicker()->selected(), "light");

    view.appearancePicker()->segment("dark")->click();
    EXPECT_EQ(m.settings().appearance, "dark");
    EXPECT_TRUE(Appearance::isDark());
    view.appearancePicker()->segment("light")->click();
    EXPECT_FALSE(Appearance::isDark());

    view.dockSwitch()->click();
    EXPECT_TRUE(m.settings().showInDock);
    m.saveNow();
    const AppSettings saved = SettingsStore::load(m.dataDirectory()).settings;
    EXPECT_EQ(saved.appearance, "light");
    EXPECT_TRUE(saved.showInDock);
    view.appearancePicker()->segment("system")->click();
}

TEST_F(SettingsViewTest, UpdatesAreUnavailableAndTheNotificationHintFollowsTheStatus) {
    AppModel& m = makeModel();
    SettingsView view(m, updater_, nullptr, std::string(), std::string("12"));
    EXPECT_FALSE(AppUpdater::isAvailable());
    updater_.start();
    EXPECT_FALSE(view.checkButton()->isEnabled());
    EXPECT_FALSE(view.automaticChecksSwitch()->isEnabled());
    EXPECT_EQ(view.versionLabel()->text(), "development build");

    // This model asks no notification server.
    EXPECT_EQ(view.notificationStatusLabel()->text(), "Unavailable");
    EXPECT_EQ(view.notificationHintLabel()->text(),
              "Notifications are not available here; questions appear in the menu bar panel.");
    EXPECT_FALSE(view.notificationHintLabel()->isHidden());
}

TEST_F(SettingsViewTest, BeforeAnUpdateRelaunchTheEngineStopsAndTheSettingsAreWritten) {
    AppModel& m = makeModel();
    m.setShowInDock(true);
    ASSERT_TRUE(AppModelProbe(m).savePending());
    updater_.setModel(&m);
    updater_.willRelaunch();
    EXPECT_FALSE(AppModelProbe(m).savePending());
    EXPECT_TRUE(SettingsStore::load(m.dataDirectory()).settings.showInDock);
    updater_.setModel(nullptr);
}
