#include "Sparkline.h"

#include "Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace trevlin::ui {

namespace {

constexpr size_t kKept = 300;
constexpr size_t kMaxPoints = 60;
/// The smallest scale: an idle app's flicker stays a flat line.
constexpr double kMinTop = 0.05;

}  // namespace

SparklineShape sparklineShape(const std::vector<float>& values, double width, double height) {
    SparklineShape shape;
    shape.baseline = QLineF(0, height - 1, width, height - 1);

    const size_t n = std::min(values.size(), kKept);
    auto first = values.end() - static_cast<std::ptrdiff_t>(n);
    std::vector<double> points;
    if (n > 0) {
        const size_t bucket = (n + kMaxPoints - 1) / kMaxPoints;
        for (size_t start = 0; start < n; start += bucket) {
            const size_t end = std::min(n, start + bucket);
            double sum = 0;
            for (size_t i = start; i < end; ++i) sum += first[static_cast<std::ptrdiff_t>(i)];
            points.push_back(sum / static_cast<double>(end - start));
        }
    }
    const double largest = points.empty() ? 0 : *std::max_element(points.begin(), points.end());
    shape.top = largest * 1.1;
    if (points.empty() || largest <= kMinTop) shape.top = kMinTop;

    if (points.size() >= 2) {
        const double last = static_cast<double>(points.size() - 1);
        for (size_t i = 0; i < points.size(); ++i)
            shape.line.emplace_back(width * static_cast<double>(i) / last,
                                    height - 2 - (height - 4) * points[i] / shape.top);
    }
    return shape;
}

Sparkline::Sparkline(QWidget* parent) : QWidget(parent) { setFixedSize(kWidth, kHeight); }

void Sparkline::setValues(std::vector<float> values) {
    values_ = std::move(values);
    update();
}

void Sparkline::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const SparklineShape shape = sparklineShape(values_, width(), height());
    QPen pen(Theme::secondary(palette()), 1.3);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    p.setPen(pen);
    if (!shape.line.empty()) {
        QPainterPath path(shape.line.front());
        for (size_t i = 1; i < shape.line.size(); ++i) path.lineTo(shape.line[i]);
        p.drawPath(path);
    }
    p.drawLine(shape.baseline);
}

}  // namespace trevlin::ui
