// The Settings page: appearance, launch at login, the task-bar presence,
// the notification status, updates and the version. It keeps nothing of its
// own: it shows the model and the updater and changes them only through
// their operations. Each time it is shown it asks the model to look at the
// notification server and the autostart entry again.
#pragma once

#include "AppModel.h"
#include "Updater.h"

#include <QScrollArea>

#include <optional>
#include <string>

class QAbstractButton;
class QLabel;

namespace trevlin::ui {

class SegmentedPicker;
class ToggleSwitch;

class SettingsView : public QScrollArea {
    Q_OBJECT
public:
    /// `version` and `build` as the build knows them (the program's own
    /// when absent).
    SettingsView(AppModel& model, AppUpdater& updater, QWidget* parent = nullptr,
                 std::optional<std::string> version = {}, std::optional<std::string> build = {});

    // The parts, for tests.
    SegmentedPicker* appearancePicker() const { return appearance_; }
    ToggleSwitch* loginSwitch() const { return loginSwitch_; }
    QLabel* loginHintLabel() const { return loginHint_; }
    QLabel* loginErrorLabel() const { return loginError_; }
    ToggleSwitch* dockSwitch() const { return dockSwitch_; }
    QLabel* notificationStatusLabel() const { return notificationStatus_; }
    QLabel* notificationHintLabel() const { return notificationHint_; }
    QAbstractButton* checkButton() const { return checkButton_; }
    ToggleSwitch* automaticChecksSwitch() const { return automaticChecks_; }
    QLabel* versionLabel() const { return version_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    AppModel& model_;
    AppUpdater& updater_;
    SegmentedPicker* appearance_;
    ToggleSwitch* loginSwitch_;
    QLabel* loginHint_;
    QLabel* loginError_;
    ToggleSwitch* dockSwitch_;
    QLabel* notificationStatus_;
    QLabel* notificationHint_;
    QAbstractButton* checkButton_;
    ToggleSwitch* automaticChecks_;
    QLabel* version_;
};

}  // namespace trevlin::ui
