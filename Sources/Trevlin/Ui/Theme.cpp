#include "Theme.h"

#include <QFontDatabase>

namespace trevlin::ui::Theme {

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
}

QColor color(ThemeColor which, bool dark) {
    switch (which) {
    case ThemeColor::perf: return dark ? QColor(0x6F, 0x9B, 0xFF) : QColor(0x2B, 0x5F, 0xD9);
    case ThemeColor::eff: return dark ? QColor(0x3E, 0xCF, 0xB8) : QColor(0x0F, 0x9D, 0x8A);
    case ThemeColor::saved: return dark ? QColor(0xB7, 0x94, 0xFF) : QColor(0x7C, 0x3A, 0xED);
    case ThemeColor::cap: return dark ? QColor(0xFF, 0x9A, 0x5C) : QColor(0xC2, 0x41, 0x0C);
    }
    return Qt::black;
}

QColor primary(const QPalette& palette) {
    QColor c = palette.color(QPalette::WindowText);
    c.setAlphaF(1.0);
    return c;
}

QColor secondary(const QPalette& palette) { return withOpacity(primary(palette), 0.55); }

QColor track(const QPalette& palette) { return withOpacity(primary(palette), 0.1); }

QColor withOpacity(QColor c, double opacity) {
    c.setAlphaF(c.alphaF() * opacity);
    return c;
}

PillColors pillColors(PillStyle style, bool dimmed, const QPalette& palette) {
    QColor base;
    switch (style) {
    case PillStyle::automatic: base = color(ThemeColor::perf, palette); break;
    case PillStyle::limited: base = color(ThemeColor::cap, palette); break;
    case PillStyle::paused: base = color(ThemeColor::saved, palette); break;
    case PillStyle::off: base = secondary(palette); break;
    }
    PillColors colors;
    colors.text = dimmed ? withOpacity(base, 0.55) : base;
    // An "off" capsule is a neutral grey whatever the text shows.
    colors.fill = style == PillStyle::off ? withOpacity(primary(palette), 0.08) : withOpacity(colors.text, 0.16);
    return colors;
}

QFont font(int pixels, QFont::Weight weight) {
    QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setPixelSize(pixels);
    f.setWeight(weight);
    return f;
}

QFont monospaceFont(int pixels, QFont::Weight weight) {
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPixelSize(pixels);
    f.setWeight(weight);
    return f;
}

}  // namespace trevlin::ui::Theme
