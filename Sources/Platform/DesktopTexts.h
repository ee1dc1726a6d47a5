// Files Trevlin hands to the desktop, built in from Resources/ (see the
// top-level CMakeLists.txt): the KWin script that reports activations, and the
// GNOME Shell extension that publishes the focused window's pid.
#pragma once

namespace trevlin::linux::desktop_texts {

/// Resources/kwin/trevlin-front.js; Trevlin's bus name replaces TREVLIN_BUS_NAME.
extern const char kwinFrontScript[];
/// Resources/gnome-shell-extension/metadata.json
extern const char gnomeExtensionMetadata[];
/// Resources/gnome-shell-extension/extension.js (GNOME 45 and later)
extern const char gnomeExtensionModule[];
/// Resources/gnome-shell-extension/legacy/extension.js (GNOME 42 to 44)
extern const char gnomeExtensionLegacyScript[];

}  // namespace trevlin::linux::desktop_texts
