#include "CoreSplitBar.h"

#include "Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace trevlin::ui {

CoreSplit coreSplit(double p, double e, int total, double width) {
    // A machine that reports fewer than two cores is drawn against one, so
    // the bar never divides by zero.
    const double g = total >= 2 ? total : 1;
    CoreSplit split;
    split.performance = std::clamp(p * width / g, 0.0, width);
    split.efficiency = std::clamp(e * width / g, 0.0, width - split.performance);
    return split;
}

CoreSplitBar::CoreSplitBar(QWidget* parent, int height) : QWidget(parent), height_(height) {
    setFixedHeight(height_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CoreSplitBar::setValues(double p, double e, int total) {
    p_ = p;
    e_ = e;
    total_ = total;
    update();
}

void CoreSplitBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = width();
    const double r = height_ / 2.0;
    auto bar = [&](double x, double width, const QColor& color) {
        if (width <= 0) return;
        QPainterPath path;
        path.addRoundedRect(QRectF(x, 0, width, height_), std::min(r, width / 2), r);
        painter.fillPath(path, color);
    };
    const CoreSplit split = coreSplit(p_, e_, total_, w);
    bar(0, w, Theme::track(palette()));
    bar(0, split.performance, Theme::color(ThemeColor::perf, palette()));
    bar(split.performance, split.efficiency, Theme::color(ThemeColor::eff, palette()));
}

}  // namespace trevlin::ui
