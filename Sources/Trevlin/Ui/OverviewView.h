// The Overview page: the processor and its cores, the load of every core
// right now, the history chart with its range picker, and the estimated
// savings of today and the last 7 days.
#pragma once

#include "AppModel.h"

#include <QWidget>

class QAbstractButton;
class QButtonGroup;
class QLabel;

namespace trevlin::ui {

class HistoryChart;

/// The per-core bars, performance cores first ("P1"…), then efficiency ("E1"…).
class CoreBars : public QWidget {
    Q_OBJECT
public:
    explicit CoreBars(AppModel& model, QWidget* parent = nullptr);
    /// The labels in drawing order.
    static std::vector<std::string> labels(const std::vector<CoreLoad>& loads);
    QSize sizeHint() const override { return {400, 72}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    AppModel& model_;
};

class OverviewView : public QWidget {
    Q_OBJECT
public:
    explicit OverviewView(AppModel& model, QWidget* parent = nullptr);

    HistoryChart* chart() const { return chart_; }
    QAbstractButton* rangeButton(int minutes) const;
    QLabel* captionLabel() const { return caption_; }
    QLabel* savingsLabel() const { return savings_; }

private:
    void refresh();

    AppModel& model_;
    QLabel* title_;
    QLabel* nowText_;
    QButtonGroup* ranges_;
    HistoryChart* chart_;
    QLabel* caption_;
    QLabel* savings_;
};

}  // namespace trevlin::ui
