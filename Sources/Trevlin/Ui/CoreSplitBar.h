// One bar for the machine's cores: the performance-core part, then the
// efficiency-core part, on a track as wide as the bar. Both parts are
// measured against all cores, so 6 performance and 4 efficiency cores busy
// out of 8 fill the bar as 0.75 and 0.25.
#pragma once

#include <QWidget>

namespace trevlin::ui {

/// Widths of the two parts of a bar `width` wide.
struct CoreSplit {
    double performance = 0;
    double efficiency = 0;
};
CoreSplit coreSplit(double p, double e, int total, double width);

class CoreSplitBar : public QWidget {
    Q_OBJECT
public:
    explicit CoreSplitBar(QWidget* parent = nullptr, int height = 8);
    void setValues(double p, double e, int total);
    double p() const { return p_; }
    double e() const { return e_; }
    int total() const { return total_; }

    QSize sizeHint() const override { return {120, height_}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    double p_ = 0;
    double e_ = 0;
    int total_ = 1;
    int height_;
};

}  // namespace trevlin::ui
