// Rows grouped on a faint rounded card, as the settings-like pages show
// them. The rows stack without spacing; pages add dividers themselves.
#pragma once

#include <QWidget>

class QVBoxLayout;

namespace trevlin::ui {

class RowGroup : public QWidget {
    Q_OBJECT
public:
    explicit RowGroup(QWidget* parent = nullptr);
    void addRow(QWidget* row);
    /// A hairline between two rows.
    void addDivider();

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QVBoxLayout* layout_;
};

/// A thin horizontal line in the primary colour at low opacity.
class Divider : public QWidget {
    Q_OBJECT
public:
    explicit Divider(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent*) override;
};

}  // namespace trevlin::ui
