// The history chart: performance-core and efficiency-core load stacked over
// the last 1, 5 or 30 minutes, the dashed would-have-used line where limits
// held something back, the axes, and a hover line with a tooltip of what the
// machine was doing then. Painted with QPainter from the model's chart data.
#pragma once

#include "AppModel.h"
#include "ChartPoints.h"

#include <QWidget>

#include <optional>

namespace trevlin::ui {

class HistoryChart : public QWidget {
    Q_OBJECT
public:
    HistoryChart(AppModel& model, QWidget* parent = nullptr);

    void setMinutes(int minutes);
    int minutes() const { return minutes_; }
    /// Pins the tooltip at a point (rendering); none: follow the pointer.
    void setFixedSecondsAgo(std::optional<int> secondsAgo);
    const std::vector<Pt>& points() const { return points_; }

    static constexpr int kTipWidth = 196;
    QSize sizeHint() const override { return {560, 190}; }
    QSize minimumSizeHint() const override { return {300, 170}; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent*) override;

private:
    void rebuild();
    QRectF plotRect() const;
    double xOf(double t, const QRectF& plot) const;
    double yOf(double v, const QRectF& plot) const;
    void paintTooltip(QPainter& p, const QRectF& plot, int secondsAgo);

    AppModel& model_;
    int minutes_ = 5;
    std::vector<Pt> points_;
    std::optional<int> fixedSecondsAgo_;
    std::optional<double> hoverX_;
};

}  // namespace trevlin::ui
