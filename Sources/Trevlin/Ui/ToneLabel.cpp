#include "ToneLabel.h"

#include <QApplication>
#include <QEvent>

namespace trevlin::ui {

ToneLabel::ToneLabel(const QString& text, QWidget* parent) : QLabel(text, parent) { applyTone(); }

ToneLabel::ToneLabel(const QString& text, ThemeColor color, QWidget* parent) : QLabel(text, parent), color_(color) {
    applyTone();
}

void ToneLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange) applyTone();
}

void ToneLabel::applyTone() {
    if (applying_) return;
    applying_ = true;
    // The inherited palette: the parent's, or the application's for a label
    // on its own.
    const QPalette base = parentWidget() ? parentWidget()->palette() : QApplication::palette();
    QPalette mine = palette();
    mine.setColor(QPalette::WindowText, color_ ? Theme::color(*color_, base) : Theme::secondary(base));
    setPalette(mine);
    applying_ = false;
}

}  // namespace trevlin::ui
