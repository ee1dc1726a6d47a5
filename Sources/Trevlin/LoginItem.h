// Opening Trevlin at login, as an XDG autostart entry:
// $XDG_CONFIG_HOME/autostart/trevlin.desktop (~/.config when unset), whose
// Exec= line is the program's own absolute path.
#pragma once

#include <optional>
#include <string>

namespace trevlin {

/// Whether Trevlin opens at login. `requiresApproval` belongs to desktops
/// where the user must confirm a login item; an autostart entry needs none.
enum class LoginStatus { off, enabled, requiresApproval, notFound, unknown };

/// "off", "enabled", "requires approval", "not found", "unknown".
const char* text(LoginStatus status);

}  // namespace trevlin

namespace trevlin::LoginItem {

/// Where the autostart entry lives.
std::string entryPath();

/// The running program's absolute path (from /proc/self/exe), absent when it
/// cannot be told (unreadable, or the file was replaced or deleted).
std::optional<std::string> programPath();

/// `enabled` when the entry exists and is not disabled, `off` when it does
/// not, `notFound` when the program's own path cannot be told.
LoginStatus status();

/// Writes (on) or removes (off) the entry. False with `error` set to a
/// sentence for the user when that fails.
bool setEnabled(bool on, std::string* error);

/// The Exec= value that starts `path` with no arguments, quoted and escaped
/// as desktop entries require; absent for a path that cannot be written in
/// one (a control character such as a line break).
std::optional<std::string> execValue(const std::string& path);

}  // namespace trevlin::LoginItem
