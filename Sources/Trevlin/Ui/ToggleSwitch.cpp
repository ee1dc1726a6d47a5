#include "ToggleSwitch.h"

#include "Theme.h"

#include <QPainter>
#include <QPainterPath>

namespace trevlin::ui {

ToggleSwitch::ToggleSwitch(const QString& accessibleLabel, QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setAccessibleName(accessibleLabel);
    setToolTip({});
    setFixedSize(kWidth, kHeight);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = r.height() / 2;
    QPainterPath track;
    track.addRoundedRect(r, radius, radius);
    QColor fill = isChecked() ? palette().color(QPalette::Highlight)
                              : Theme::withOpacity(Theme::primary(palette()), Theme::isDark(palette()) ? 0.25 : 0.15);
    if (!isEnabled()) fill = Theme::withOpacity(fill, 0.5);
    p.fillPath(track, fill);

    const qreal knob = r.height() - 3;
    const qreal x = isChecked() ? r.right() - 1.5 - knob : r.left() + 1.5;
    const QRectF knobRect(x, r.top() + 1.5, knob, knob);
    p.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
    p.setBrush(isDown() ? QColor(0xee, 0xee, 0xee) : QColor(Qt::white));
    p.drawEllipse(knobRect);
    if (hasFocus()) {
        p.setPen(QPen(Theme::withOpacity(palette().color(QPalette::Highlight), 0.5), 2));
        p.setBrush(Qt::NoBrush);
        p.drawPath(track);
    }
}

}  // namespace trevlin::ui
