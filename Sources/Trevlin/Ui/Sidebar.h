// The main window's list of the four sections, each a symbol and a title.
// The selected row is the model's section: choosing a row sets it, and a
// section chosen elsewhere (a rule edit, the start-up list) selects its row.
#pragma once

#include "AppModel.h"

#include <QListWidget>

namespace trevlin::ui {

class Sidebar : public QListWidget {
    Q_OBJECT
public:
    explicit Sidebar(AppModel& model, QWidget* parent = nullptr);

    static constexpr int kMinWidth = 150;
    static constexpr int kIdealWidth = 170;
    static constexpr int kMaxWidth = 200;
    static constexpr int kRowHeight = 28;

    /// The row of a section.
    int rowOf(Section section) const;
    Section sectionAt(int row) const;

private:
    void followModel();

    AppModel& model_;
};

}  // namespace trevlin::ui
