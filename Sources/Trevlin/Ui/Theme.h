// Trevlin's palette: four colours with a light and a dark value each, the
// track of empty bars, and the primary and secondary text colours every
// drawing takes its greys from. The appearance in effect is read from the
// palette a widget paints with, so a widget drawn with a dark palette is
// drawn dark whatever the rest of the application shows.
#pragma once

#include "Pill.h"

#include <QColor>
#include <QFont>
#include <QPalette>

namespace trevlin::ui {

enum class ThemeColor { perf, eff, saved, cap };

namespace Theme {

/// Whether `palette` is a dark appearance (light text on a dark window).
bool isDark(const QPalette& palette);

/// One of the four colours, fully opaque.
QColor color(ThemeColor which, bool dark);
inline QColor color(ThemeColor which, const QPalette& palette) { return color(which, isDark(palette)); }

/// The text colour of the palette.
QColor primary(const QPalette& palette);
/// Secondary text: the primary colour at reduced opacity.
QColor secondary(const QPalette& palette);
/// Empty bar tracks: the primary colour at opacity 0.1.
QColor track(const QPalette& palette);

/// `c` with its opacity multiplied by `opacity`.
QColor withOpacity(QColor c, double opacity);

/// The colours a rule pill paints with.
struct PillColors {
    QColor text;
    QColor fill;
};
PillColors pillColors(PillStyle style, bool dimmed, const QPalette& palette);

/// A font `pixels` high (the design's sizes are device-independent pixels).
QFont font(int pixels, QFont::Weight weight = QFont::Normal);
/// A monospaced font for figures.
QFont monospaceFont(int pixels, QFont::Weight weight = QFont::Normal);

}  // namespace Theme

}  // namespace trevlin::ui
