// The Apps page: everything the monitor measures, one row per app, then the
// command-line groups, then (when asked for) "Other / system" broken down
// into system processes. A click on a row opens its rule editor; a click on
// a system group's pill opens the system-limit editor. The rows are painted
// by one table widget and rebuilt from the model on every sample.
#pragma once

#include "AppModel.h"
#include "RuleEditor.h"
#include "SystemRuleEditor.h"

#include <QPointer>
#include <QWidget>

#include <optional>
#include <vector>

class QCheckBox;
class QScrollArea;

namespace trevlin::ui {

/// Where each column sits in a row `width` wide: [left, right) pairs.
struct AppsColumns {
    double app[2], total[2], perf[2], eff[2], saving[2], last[2], rule[2];
    static AppsColumns of(double width);
};

/// One line of the table, as drawn.
struct AppsRow {
    enum class Kind { app, heading, divider, other, system, status };
    Kind kind = Kind::app;
    std::string key;  ///< app key (app rows)
    std::string name;
    std::string detail;
    bool front = false;
    double cores = 0, pCores = 0, eCores = 0;
    std::optional<std::string> saving;
    std::vector<float> spark;
    Pill pill;
    std::optional<HelperGroup> group;  ///< system rows whose pill opens the helper editor
    bool showPill = false;
    double y = 0, height = 0;
};

class AppsTable : public QWidget {
    Q_OBJECT
public:
    explicit AppsTable(AppModel& model, QWidget* parent = nullptr);
    void rebuild();
    const std::vector<AppsRow>& rows() const { return rows_; }
    /// The centre of the row with that key (for tests), or of "Other / system".
    std::optional<QPoint> rowCentre(const std::string& key) const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    AppModel& model_;
    std::vector<AppsRow> rows_;
    double contentHeight_ = 0;
};

class AppsView : public QWidget {
    Q_OBJECT
public:
    explicit AppsView(AppModel& model, QWidget* parent = nullptr);
    ~AppsView() override;

    AppsTable* table() const { return table_; }
    QCheckBox* systemBox() const { return systemBox_; }
    QCheckBox* backgroundBox() const { return backgroundBox_; }
    RuleEditor* ruleEditor() const { return ruleEditor_; }
    SystemRuleEditor* systemEditor() const { return systemEditor_; }

private:
    void editingChanged();

    AppModel& model_;
    QCheckBox* systemBox_;
    QCheckBox* backgroundBox_;
    QScrollArea* scroll_;
    AppsTable* table_;
    QPointer<RuleEditor> ruleEditor_;
    QPointer<SystemRuleEditor> systemEditor_;
};

}  // namespace trevlin::ui
