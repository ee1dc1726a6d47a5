// What the Settings page says about notifications, login and the version,
// decided without a widget.
#pragma once

#include "LoginItem.h"
#include "Notifier.h"

#include <QString>

#include <optional>
#include <string>

namespace trevlin::ui {

/// The notification status as the row shows it: its first letter upper-cased.
QString notificationStatusText(NotificationStatus status);

/// The note under the notifications row for a status; empty: none.
QString notificationHint(NotificationStatus status);

/// The note under the launch-at-login row.
struct LoginNote {
    QString text;  ///< empty: no note
    bool error = false;
};
LoginNote loginNote(LoginStatus loginStatus, const std::optional<std::string>& loginError);

/// "1.4 (27)", or "development build" without a version; a missing build
/// number counts as "1".
QString versionText(const std::string& version, const std::string& build);

}  // namespace trevlin::ui
