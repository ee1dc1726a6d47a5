// Desktop entries (.desktop files): where an application id's entry lives and
// what it says. The entry's path is the app's key, the way a bundle path is.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace trevlin::linux {

struct DesktopEntry {
    std::string path;
    std::string name;       ///< Name=, localised when a Name[lang]= matches
    std::string icon;       ///< Icon=
    bool noDisplay = false; ///< NoDisplay=true
};

/// The `applications` folders to search, in order: $XDG_DATA_HOME (default
/// ~/.local/share), then each of $XDG_DATA_DIRS (default /usr/local/share:/usr/share).
/// Snap apps' entries ("<snap>_<app>.desktop") are found the same way: Ubuntu
/// sessions list /var/lib/snapd/desktop there, and Flatpak's exports too.
std::vector<std::string> applicationDirsFromEnvironment();
/// The message locales to try, most specific first, from LC_ALL, LC_MESSAGES
/// and LANG ("de_DE.UTF-8" gives "de_DE", then "de").
std::vector<std::string> localesFromEnvironment();

/// Parses the [Desktop Entry] group of an entry's text.
DesktopEntry parseDesktopEntry(const std::string& text, const std::vector<std::string>& locales);

/// Finds "<applicationId>.desktop" in the first folder that has it.
std::optional<DesktopEntry> findDesktopEntry(const std::string& applicationId,
                                             const std::vector<std::string>& appDirs,
                                             const std::vector<std::string>& locales);

}  // namespace trevlin::linux
