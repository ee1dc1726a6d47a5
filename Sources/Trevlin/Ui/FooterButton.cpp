#include "FooterButton.h"

#include "Theme.h"

#include <QPainter>
#include <QPainterPath>

namespace trevlin::ui {

namespace {
constexpr int kHeight = 26;
constexpr int kInset = 6;
}  // namespace

FooterButton::FooterButton(const QString& title, const QString& trailing, QWidget* parent)
    : QAbstractButton(parent), trailing_(trailing) {
    setText(title);
    setFont(Theme::font(13));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(kHeight);
    setFocusPolicy(Qt::TabFocus);
}

QSize FooterButton::sizeHint() const {
    QFontMetrics m(font());
    return {m.horizontalAdvance(text()) + m.horizontalAdvance(trailing_) + 4 * kInset, kHeight};
}

void FooterButton::enterEvent(QEnterEvent*) {
    hovered_ = true;
    update();
}

void FooterButton::leaveEvent(QEvent*) {
    hovered_ = false;
    update();
}

void FooterButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (hovered_ || isDown() || hasFocus()) {
        QPainterPath bg;
        bg.addRoundedRect(QRectF(rect()), 5, 5);
        p.fillPath(bg, Theme::withOpacity(Theme::primary(palette()), isDown() ? 0.14 : 0.08));
    }
    const QRect inner = rect().adjusted(kInset, 0, -kInset, 0);
    p.setPen(Theme::primary(palette()));
    p.drawText(inner, Qt::AlignVCenter | Qt::AlignLeft, text());
    if (!trailing_.isEmpty()) {
        p.setPen(Theme::secondary(palette()));
        p.drawText(inner, Qt::AlignVCenter | Qt::AlignRight, trailing_);
    }
}

}  // namespace trevlin::ui
