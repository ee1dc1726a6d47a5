#include "SettingsViewTexts.h"

namespace trevlin::ui {

QString notificationStatusText(NotificationStatus status) {
    QString shown = QString::fromUtf8(trevlin::text(status));
    if (!shown.isEmpty()) shown[0] = shown[0].toUpper();
    return shown;
}

QString notificationHint(NotificationStatus status) {
    if (status == NotificationStatus::denied)
        return "Automatic mode's questions will appear in the menu bar panel instead. To get notifications, allow "
               "Trevlin in your desktop's notification settings.";
    if (status == NotificationStatus::unavailable) return "Notifications are not available here; questions appear in the menu bar panel.";
    if (status == NotificationStatus::notAskedYet) return "Trevlin asks when you turn Automatic mode on.";
    return {};
}

LoginNote loginNote(LoginStatus loginStatus, const std::optional<std::string>& loginError) {
    if (loginError) return {"Could not change this: " + QString::fromStdString(*loginError), true};
    if (loginStatus == LoginStatus::requiresApproval)
        return {"Approve Trevlin in System Settings > General > Login Items.", false};
    return {};
}

QString versionText(const std::string& version, const std::string& build) {
    if (version.empty()) return "development build";
    return QString("%1 (%2)").arg(QString::fromStdString(version),
                                  build.empty() ? QString("1") : QString::fromStdString(build));
}

}  // namespace trevlin::ui
