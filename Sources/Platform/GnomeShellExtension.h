// Installing Trevlin's GNOME Shell extension for the user. Installing is
// not enabling: GNOME asks the user to turn an extension on in its Extensions
// app (or `gnome-extensions enable`), and Trevlin leaves that choice to them.
#pragma once

#include <optional>
#include <string>

namespace trevlin::linux {

inline constexpr const char* kGnomeExtensionUuid = "trevlin-front@trevlin.app";

/// Copies the extension into `<dataHome>/gnome-shell/extensions/<uuid>/`
/// (dataHome: $XDG_DATA_HOME, or ~/.local/share), replacing an older copy.
/// GNOME 45 changed how extensions are written: `shellMajor` picks the
/// version (0 when not known: the current format). False with `error` set
/// when a folder or file cannot be written.
bool installGnomeExtension(const std::string& dataHome, int shellMajor, std::string* error = nullptr);

/// The major version of the running GNOME Shell (ShellVersion of
/// org.gnome.Shell on the session bus at `busAddress`, empty: the user's
/// bus); absent when no GNOME Shell answers.
std::optional<int> gnomeShellMajorVersion(const std::string& busAddress);

}  // namespace trevlin::linux
