// The large title at the top of each page of the main window.
#pragma once

#include <QLabel>

namespace trevlin::ui {

class PaneTitle : public QLabel {
    Q_OBJECT
public:
    explicit PaneTitle(const QString& text, QWidget* parent = nullptr);
};

}  // namespace trevlin::ui
