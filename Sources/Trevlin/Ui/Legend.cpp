#include "Legend.h"

#include "Theme.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace trevlin::ui {

namespace {

constexpr int kSwatch = 8;
constexpr int kSwatchGap = 4;
constexpr int kItemGap = 12;

}  // namespace

Legend::Legend(QWidget* parent) : QWidget(parent) {
    setFont(Theme::font(11));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QString Legend::performanceLabel(double p) {
    char text[64];
    std::snprintf(text, sizeof text, "Performance %.1f", p);
    return text;
}

QString Legend::efficiencyLabel(double e) {
    char text[64];
    std::snprintf(text, sizeof text, "Efficiency %.1f", e);
    return text;
}

void Legend::setValues(double p, double e) {
    p_ = p;
    e_ = e;
    updateGeometry();
    update();
}

QSize Legend::sizeHint() const {
    QFontMetrics m(font());
    int w = 2 * (kSwatch + kSwatchGap) + kItemGap + m.horizontalAdvance(performanceLabel(p_)) +
            m.horizontalAdvance(efficiencyLabel(e_));
    return {w, std::max(m.height(), kSwatch)};
}

void Legend::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QFontMetrics m(font());
    const qreal mid = height() / 2.0;
    qreal x = 0;
    auto item = [&](ThemeColor color, const QString& label) {
        QPainterPath swatch;
        swatch.addRoundedRect(QRectF(x, mid - kSwatch / 2.0, kSwatch, kSwatch), 2, 2);
        painter.fillPath(swatch, Theme::color(color, palette()));
        x += kSwatch + kSwatchGap;
        painter.setPen(Theme::secondary(palette()));
        const int w = m.horizontalAdvance(label);
        painter.drawText(QRectF(x, 0, w + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, label);
        x += w + kItemGap;
    };
    item(ThemeColor::perf, performanceLabel(p_));
    item(ThemeColor::eff, efficiencyLabel(e_));
}

}  // namespace trevlin::ui
