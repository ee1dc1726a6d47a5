#include "Appearance.h"

#include <QApplication>

#include <optional>

namespace trevlin::Appearance {

namespace {

/// The palette the platform theme chose, captured before Trevlin first
/// replaced it.
std::optional<QPalette>& systemPalette() {
    static std::optional<QPalette> palette;
    return palette;
}

QPalette make(QColor window, QColor base, QColor alternate, QColor text, QColor button, QColor mid,
              QColor highlight, QColor disabledText) {
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, alternate);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabledText);
    p.setColor(QPalette::Mid, mid);
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, highlight);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabledText);
    return p;
}

}  // namespace

QPalette lightPalette() {
    return make(QColor(0xec, 0xec, 0xec), Qt::white, QColor(0xf5, 0xf5, 0xf5), QColor(0x1d, 0x1d, 0x1f),
                QColor(0xf7, 0xf7, 0xf7), QColor(0xc8, 0xc8, 0xc8), QColor(0x0a, 0x84, 0xff),
                QColor(0x9a, 0x9a, 0x9e));
}

QPalette darkPalette() {
    return make(QColor(0x2a, 0x2a, 0x2c), QColor(0x1e, 0x1e, 0x1e), QColor(0x26, 0x26, 0x28),
                QColor(0xf2, 0xf2, 0xf7), QColor(0x3a, 0x3a, 0x3c), QColor(0x55, 0x55, 0x58),
                QColor(0x0a, 0x84, 0xff), QColor(0x8e, 0x8e, 0x93));
}

void apply(const std::string& name) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app) return;
    if (!systemPalette()) systemPalette() = QApplication::palette();
    if (name == "light") QApplication::setPalette(lightPalette());
    else if (name == "dark") QApplication::setPalette(darkPalette());
    else QApplication::setPalette(*systemPalette());
}

bool isDark() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    const QPalette p = QApplication::palette();
    return p.color(QPalette::Window).lightness() < p.color(QPalette::WindowText).lightness();
}

}  // namespace trevlin::Appearance
