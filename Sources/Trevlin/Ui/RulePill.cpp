#include "RulePill.h"

#include "Theme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <algorithm>

namespace trevlin::ui {

namespace {

QFont pillFont(bool struck) {
    QFont f = Theme::font(11);
    f.setStrikeOut(struck);
    return f;
}

}  // namespace

RulePill::RulePill(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void RulePill::setPill(const QString& text, PillStyle style, bool dimmed, bool struck) {
    text_ = text;
    style_ = style;
    dimmed_ = dimmed;
    struck_ = struck;
    updateGeometry();
    update();
}

QSize RulePill::naturalSize(const QString& text) {
    QFontMetricsF m(pillFont(false));
    return {qCeil(m.horizontalAdvance(text)) + 2 * kInset, kHeight};
}

QSize RulePill::sizeHint() const { return naturalSize(text_); }

void RulePill::paintPill(QPainter& p, const QRectF& area, const QString& text, PillStyle style, bool dimmed,
                         bool struck, const QPalette& palette) {
    const QFont font = pillFont(struck);
    QFontMetricsF metrics(font);
    qreal width = std::min(area.width(), metrics.horizontalAdvance(text) + 2 * kInset);
    QRectF capsule(area.center().x() - width / 2, area.center().y() - kHeight / 2.0, width, kHeight);
    const Theme::PillColors colors = Theme::pillColors(style, dimmed, palette);

    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(capsule, kHeight / 2.0, kHeight / 2.0);
    p.fillPath(shape, colors.fill);
    p.setFont(font);
    p.setPen(colors.text);
    QRectF textBox = capsule.adjusted(kInset, 0, -kInset, 0);
    p.drawText(textBox, Qt::AlignCenter, metrics.elidedText(text, Qt::ElideRight, textBox.width() + 0.5));
    p.restore();
}

void RulePill::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintPill(p, rect(), text_, style_, dimmed_, struck_, palette());
}

PillButton::PillButton(int width, QWidget* parent) : QAbstractButton(parent), width_(width) {
    setFixedSize(width_, RulePill::kHeight);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void PillButton::setPill(const Pill& pill) {
    if (pill == pill_) return;
    pill_ = pill;
    setText(QString::fromStdString(pill.text));
    // The column is `width_` wide; a text that needs more (a wide desktop
    // font) widens its own button rather than losing the cap to an ellipsis.
    setFixedSize(std::max(width_, RulePill::naturalSize(text()).width()), RulePill::kHeight);
    update();
}

void PillButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // A plain button: no bezel, only a little darker while pressed.
    if (isDown()) p.setOpacity(0.7);
    RulePill::paintPill(p, rect(), QString::fromStdString(pill_.text), pill_.style, pill_.dimmed, false, palette());
}

}  // namespace trevlin::ui
