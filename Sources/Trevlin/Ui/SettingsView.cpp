#include "SettingsView.h"

#include "AutomaticViewControls.h"
#include "PaneTitle.h"
#include "RowGroup.h"
#include "SettingRow.h"
#include "SettingsViewTexts.h"
#include "Theme.h"
#include "ToggleSwitch.h"
#include "ToneLabel.h"
#include "Version.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace trevlin::ui {

namespace {

/// A note under a row of the group, over the row's full width.
ToneLabel* rowNote(QWidget* parent, std::optional<ThemeColor> color = {}) {
    auto* label = color ? new ToneLabel({}, *color, parent) : new ToneLabel({}, parent);
    label->setFont(Theme::font(11));
    label->setWordWrap(true);
    label->setContentsMargins(0, 0, 0, 6);
    return label;
}

}  // namespace

SettingsView::SettingsView(AppModel& model, AppUpdater& updater, QWidget* parent, std::optional<std::string> version,
                           std::optional<std::string> build)
    : QScrollArea(parent), model_(model), updater_(updater) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The page's own background, wherever the page is shown.
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(22, 18, 22, 18);
    column->setSpacing(14);
    column->setAlignment(Qt::AlignTop);
    column->addWidget(new PaneTitle("Settings", content));

    auto* group = new RowGroup(content);
    appearance_ = new SegmentedPicker({{"system", "System"}, {"light", "Light"}, {"dark", "Dark"}});
    group->addRow(new SettingRow("Appearance", appearance_));
    connect(appearance_, &SegmentedPicker::picked, this, [this](const std::string& tag) { model_.setAppearance(tag); });
    group->addDivider();

    loginSwitch_ = new ToggleSwitch("Launch at login");
    group->addRow(new SettingRow("Launch at login", loginSwitch_));
    // The hint in the secondary colour, an error in the warning colour.
    loginHint_ = rowNote(group);
    group->addRow(loginHint_);
    loginError_ = rowNote(group, ThemeColor::cap);
    group->addRow(loginError_);
    connect(loginSwitch_, &QAbstractButton::clicked, this, [this](bool on) { model_.setLaunchAtLogin(on); });
    group->addDivider();

    dockSwitch_ = new ToggleSwitch("Show in Dock");
    group->addRow(new SettingRow("Show in Dock", dockSwitch_));
    connect(dockSwitch_, &QAbstractButton::clicked, this, [this](bool on) { model_.setShowInDock(on); });
    group->addDivider();

    notificationStatus_ = new ToneLabel;
    group->addRow(new SettingRow("Notifications", notificationStatus_));
    notificationHint_ = rowNote(group);
    group->addRow(notificationHint_);
    group->addDivider();

    auto* check = new QPushButton("Check for Updates…");
    check->setFont(Theme::font(12));
    check->setMinimumWidth(check->fontMetrics().horizontalAdvance(check->text()) + 24);
    checkButton_ = check;
    group->addRow(new SettingRow("Updates", check));
    connect(check, &QPushButton::clicked, this, [this] { updater_.checkForUpdates(); });
    group->addDivider();

    automaticChecks_ = new ToggleSwitch("Check for updates automatically");
    group->addRow(new SettingRow("Check for updates automatically", automaticChecks_));
    connect(automaticChecks_, &QAbstractButton::clicked, this, [this](bool on) { updater_.setAutomaticallyChecks(on); });
    group->addDivider();

    version_ = new ToneLabel(versionText(version.value_or(Version::shortVersion()), build.value_or(Version::buildNumber())));
    version_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    group->addRow(new SettingRow("Version", version_));
    column->addWidget(group);

    auto* closing = new ToneLabel("Trevlin always appears in the menu bar.", content);
    closing->setFont(Theme::font(12));
    column->addWidget(closing);

    setWidget(content);
    refresh();
    for (auto signal : {&AppModel::settingsChanged, &AppModel::loginChanged, &AppModel::notificationStatusChanged})
        connect(&model_, signal, this, &SettingsView::refresh);
    connect(&updater_, &AppUpdater::changed, this, &SettingsView::refresh);
}

void SettingsView::showEvent(QShowEvent* event) {
    QScrollArea::showEvent(event);
    model_.refreshNotificationStatus();
    model_.refreshLoginStatus();
}

void SettingsView::refresh() {
    const AppSettings& s = model_.settings();
    appearance_->setSelected(s.appearance);
    loginSwitch_->setChecked(model_.loginStatus() == LoginStatus::enabled);
    const LoginNote login = loginNote(model_.loginStatus(), model_.loginError());
    loginHint_->setText(login.error ? QString() : login.text);
    loginHint_->setVisible(!login.error && !login.text.isEmpty());
    loginError_->setText(login.error ? login.text : QString());
    loginError_->setVisible(login.error);
    dockSwitch_->setChecked(s.showInDock);

    // Pictures of the program show what a user with notifications sees.
    const NotificationStatus status = model_.renderMode() ? NotificationStatus::allowed : model_.notificationStatus();
    notificationStatus_->setText(notificationStatusText(status));
    const QString hint = notificationHint(status);
    notificationHint_->setText(hint);
    notificationHint_->setVisible(!hint.isEmpty());

    checkButton_->setEnabled(model_.renderMode() || updater_.canCheckForUpdates());
    automaticChecks_->setChecked(updater_.automaticallyChecks());
    automaticChecks_->setEnabled(updater_.running());
}

}  // namespace trevlin::ui
