// Light and dark appearance for the whole application: "light" and "dark"
// install a palette of their own, anything else goes back to the palette the
// desktop's theme gave Qt at start (which follows the desktop's colour scheme
// where Qt can read it).
#pragma once

#include <QPalette>

#include <string>

namespace trevlin::Appearance {

QPalette lightPalette();
QPalette darkPalette();

/// Applies "light", "dark" or (anything else) the system's palette to the
/// running QApplication. Does nothing without one.
void apply(const std::string& name);

/// Whether the application currently shows dark colours.
bool isDark();

}  // namespace trevlin::Appearance
