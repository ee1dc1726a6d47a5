#include "SettingsViewTexts.h"

namespace trevlin::ui {

QString notificationStatusText(const std::string& status) {
    QString text = QString::fromStdString(status);
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    return text;
}

QString notificationHint(const std::string& status) {
    if (status == "denied")
        return "Automatic mode's questions will appear in the menu bar panel instead. To get notifications, allow "
               "Trevlin in your desktop's notification settings.";
    if (status == "unavailable") return "Notifications are not available here; questions appear in the menu bar panel.";
    if (status == "not asked yet") return "Trevlin asks when you turn Automatic mode on.";
    return {};
}

LoginNote loginNote(const std::string& loginStatus, const std::optional<std::string>& loginError) {
    if (loginError) return {"Could not change this: " + QString::fromStdString(*loginError), true};
    if (loginStatus == "requires approval")
        return {"Approve Trevlin in System Settings > General > Login Items.", false};
    return {};
}

QString versionText(const std::string& version, const std::string& build) {
    if (version.empty()) return "development build";
    return QString("%1 (%2)").arg(QString::fromStdString(version),
                                  build.empty() ? QString("1") : QString::fromStdString(build));
}

}  // namespace trevlin::ui
