#include "HistoryChart.h"

#include "Theme.h"
#include "Utf8.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace trevlin::ui {

namespace {

constexpr double kLeftAxis = 26;   // room for the core labels
constexpr double kBottomAxis = 18; // room for the time labels
constexpr double kTop = 6;

}  // namespace

HistoryChart::HistoryChart(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setMouseTracking(true);
    setMinimumHeight(170);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    connect(&model_, &AppModel::chartChanged, this, [this] {
        rebuild();
        update();
    });
    rebuild();
}

void HistoryChart::setMinutes(int minutes) {
    minutes_ = minutes;
    rebuild();
    update();
}

void HistoryChart::setFixedSecondsAgo(std::optional<int> secondsAgo) {
    fixedSecondsAgo_ = secondsAgo;
    update();
}

void HistoryChart::rebuild() {
    const ChartData& d = model_.chartData();
    points_ = chartPoints(d.p, d.e, d.saved, minutes_);
}

QRectF HistoryChart::plotRect() const {
    return QRectF(kLeftAxis, kTop, std::max(10.0, width() - kLeftAxis - 4), std::max(10.0, height() - kTop - kBottomAxis));
}

double HistoryChart::xOf(double t, const QRectF& plot) const {
    const double span = minutes_ * 60.0;
    return plot.left() + (t + span) / span * plot.width();
}

double HistoryChart::yOf(double v, const QRectF& plot) const {
    const double top = std::max(1, model_.systemInfo().logicalCores);
    return plot.bottom() - std::clamp(v, 0.0, top) / top * plot.height();
}

void HistoryChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QColor primary = Theme::primary(pal), secondary = Theme::secondary(pal);
    const QRectF plot = plotRect();
    const int cores = std::max(1, model_.systemInfo().logicalCores);

    // Grid: a major line every 2 cores, a minor one between.
    p.setFont(Theme::font(10));
    for (int v = 0; v <= cores; ++v) {
        const bool major = v % 2 == 0;
        const double y = std::round(yOf(v, plot)) + 0.5;
        p.setPen(QPen(Theme::withOpacity(primary, major ? 0.12 : 0.06), 1));
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        if (major) {
            p.setPen(secondary);
            p.drawText(QRectF(0, y - 8, kLeftAxis - 6, 16), Qt::AlignRight | Qt::AlignVCenter, QString::number(v));
        }
    }
    const int step = tickStep(minutes_);
    for (int t = -minutes_ * 60; t <= 0; t += step) {
        const double x = std::round(xOf(t, plot)) + 0.5;
        p.setPen(QPen(Theme::withOpacity(primary, 0.06), 1));
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(secondary);
        const QString label = QString::fromStdString(tickLabel(t, minutes_));
        const double w = 70;
        double left = x - w / 2;
        Qt::Alignment align = Qt::AlignHCenter;
        if (t == -minutes_ * 60) { left = x; align = Qt::AlignLeft; }
        if (t == 0) { left = x - w; align = Qt::AlignRight; }
        p.drawText(QRectF(left, plot.bottom() + 3, w, kBottomAxis - 3), align | Qt::AlignTop, label);
    }

    if (points_.size() >= 2) {
        // The two areas stack: efficiency from the base, performance on top of it.
        QPainterPath eff, perf;
        eff.moveTo(xOf(points_.front().t, plot), plot.bottom());
        for (const Pt& pt : points_) eff.lineTo(xOf(pt.t, plot), yOf(pt.e, plot));
        eff.lineTo(xOf(points_.back().t, plot), plot.bottom());
        eff.closeSubpath();
        perf.moveTo(xOf(points_.front().t, plot), yOf(points_.front().e, plot));
        for (const Pt& pt : points_) perf.lineTo(xOf(pt.t, plot), yOf(pt.top, plot));
        for (auto it = points_.rbegin(); it != points_.rend(); ++it) perf.lineTo(xOf(it->t, plot), yOf(it->e, plot));
        perf.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::withOpacity(Theme::color(ThemeColor::eff, pal), 0.75));
        p.drawPath(eff);
        p.setBrush(Theme::withOpacity(Theme::color(ThemeColor::perf, pal), 0.75));
        p.drawPath(perf);
    }

    // The would-have-used line, one stroke per run (a run of one point draws nothing).
    QPen dashed(Theme::color(ThemeColor::saved, pal), 1.6);
    dashed.setDashPattern({4 / 1.6, 3 / 1.6});
    p.setPen(dashed);
    p.setBrush(Qt::NoBrush);
    for (const auto& [first, last] : wouldHaveUsedRuns(points_)) {
        if (first == last) continue;
        QPainterPath line;
        line.moveTo(xOf(points_[first].t, plot), yOf(wouldHaveUsed(points_[first], cores), plot));
        for (int i = first + 1; i <= last; ++i)
            line.lineTo(xOf(points_[i].t, plot), yOf(wouldHaveUsed(points_[i], cores), plot));
        p.drawPath(line);
    }

    // Hover: the time under the pointer, or the pinned one.
    std::optional<int> ago = fixedSecondsAgo_;
    if (!ago && hoverX_ && *hoverX_ >= plot.left() && *hoverX_ <= plot.right()) {
        const double value = (*hoverX_ - plot.left()) / plot.width() * minutes_ * 60.0 - minutes_ * 60.0;
        ago = hoveredSecondsAgo(value);
    }
    if (ago) paintTooltip(p, plot, *ago);
}

void HistoryChart::paintTooltip(QPainter& p, const QRectF& plot, int secondsAgo) {
    const auto point = model_.chartPoint(secondsAgo);
    if (!point) return;
    const QPalette& pal = palette();
    const QColor primary = Theme::primary(pal);
    const double x = std::round(xOf(-secondsAgo, plot)) + 0.5;
    p.setPen(QPen(Theme::withOpacity(primary, 0.55), 1));
    p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));

    struct Line {
        QString label, value;
        QColor color;
        bool commandLine = false;
    };
    std::vector<Line> lines;
    lines.push_back({"Performance", QString::asprintf("%.1f", point->p), Theme::color(ThemeColor::perf, pal)});
    lines.push_back({"Efficiency", QString::asprintf("%.1f", point->e), Theme::color(ThemeColor::eff, pal)});
    if (point->wouldHaveUsed)
        lines.push_back(
            {"Would have used", QString::asprintf("%.1f", *point->wouldHaveUsed), Theme::color(ThemeColor::saved, pal)});
    for (const auto& a : point->apps)
        lines.push_back({QString::fromStdString(escapeControls(a.name)), QString::asprintf("%.1f", a.cores), primary, a.commandLine});

    const double lineH = 17, headH = 18;
    const QSizeF size(kTipWidth, 16 + headH + lineH * lines.size());
    double left = x + 10;
    if (left + size.width() > plot.right()) left = x - 10 - size.width();
    left = std::max(0.0, left);
    const QRectF box(QPointF(left, plot.top() + 4), size);

    // A soft shadow under the card.
    for (int i = 6; i >= 1; --i) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, static_cast<int>(0.18 * 255 / 6)));
        p.drawRoundedRect(box.adjusted(-i / 2.0, -i / 2.0 + 2, i / 2.0, i / 2.0 + 2), 8 + i / 2.0, 8 + i / 2.0);
    }
    p.setBrush(pal.color(QPalette::Base));
    p.setPen(QPen(Theme::withOpacity(primary, 0.15), 1));
    p.drawRoundedRect(box, 8, 8);

    const QRectF inner = box.adjusted(10, 8, -10, -8);
    p.setFont(Theme::font(11, QFont::DemiBold));
    p.setPen(primary);
    p.drawText(QRectF(inner.left(), inner.top(), inner.width(), headH), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromStdString(ageText(point->secondsAgo)));
    double y = inner.top() + headH;
    const QFont valueFont = Theme::monospaceFont(12, QFont::DemiBold);
    for (const Line& l : lines) {
        const QRectF row(inner.left(), y, inner.width(), lineH);
        p.setFont(valueFont);
        p.setPen(l.color);
        const double valueW = QFontMetricsF(valueFont).horizontalAdvance(l.value);
        p.drawText(row, Qt::AlignRight | Qt::AlignVCenter, l.value);
        QFont lf = Theme::font(12);
        double lx = row.left();
        if (l.commandLine) {
            QFont bold = Theme::font(12, QFont::Bold);
            p.setFont(bold);
            p.setPen(primary);
            p.drawText(QRectF(lx, y, 30, lineH), Qt::AlignLeft | Qt::AlignVCenter, ">_");
            lx += QFontMetricsF(bold).horizontalAdvance(">_") + 4;
        }
        p.setFont(lf);
        p.setPen(l.color == primary ? primary : l.color);
        const double labelW = row.right() - valueW - 4 - lx;
        p.drawText(QRectF(lx, y, labelW, lineH), Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetricsF(lf).elidedText(l.label, Qt::ElideRight, labelW));
        y += lineH;
    }
}

void HistoryChart::mouseMoveEvent(QMouseEvent* event) {
    hoverX_ = event->position().x();
    update();
}

void HistoryChart::leaveEvent(QEvent*) {
    hoverX_.reset();
    update();
}

}  // namespace trevlin::ui
