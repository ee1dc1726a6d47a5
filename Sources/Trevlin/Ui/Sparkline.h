// A small line of an app's recent use: at most the last 300 values,
// averaged into at most 60 points, over a baseline.
#pragma once

#include <QLineF>
#include <QPointF>
#include <QWidget>

#include <vector>

namespace trevlin::ui {

struct SparklineShape {
    /// The line's points, left to right; empty when fewer than two.
    std::vector<QPointF> line;
    QLineF baseline;
    /// The value drawn at the top of the drawing area.
    double top = 0.05;
};
SparklineShape sparklineShape(const std::vector<float>& values, double width, double height);

class Sparkline : public QWidget {
    Q_OBJECT
public:
    explicit Sparkline(QWidget* parent = nullptr);
    void setValues(std::vector<float> values);
    const std::vector<float>& values() const { return values_; }

    static constexpr int kWidth = 80;
    static constexpr int kHeight = 22;
    QSize sizeHint() const override { return {kWidth, kHeight}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    std::vector<float> values_;
};

}  // namespace trevlin::ui
