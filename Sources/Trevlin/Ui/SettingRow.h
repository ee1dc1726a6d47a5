// One row of a settings group: a title on the left, a control or a text on
// the right.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace trevlin::ui {

class SettingRow : public QWidget {
    Q_OBJECT
public:
    /// Takes ownership of `trailing` (may be null).
    SettingRow(const QString& title, QWidget* trailing, QWidget* parent = nullptr);
    /// A row whose trailing content is a text.
    SettingRow(const QString& title, const QString& trailingText, QWidget* parent = nullptr);

    QLabel* titleLabel() const { return title_; }
    QWidget* trailing() const { return trailing_; }

private:
    QLabel* title_;
    QWidget* trailing_;
};

}  // namespace trevlin::ui
