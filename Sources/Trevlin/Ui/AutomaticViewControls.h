// The two small controls the Automatic and Settings pages share: a stepper
// (up and down arrows, no text of its own) and a segmented picker (a row of
// exclusive buttons, each with a tag).
#pragma once

#include <QString>
#include <QWidget>

#include <string>
#include <utility>
#include <vector>

class QAbstractButton;
class QEvent;
class QButtonGroup;
class QToolButton;

namespace trevlin::ui {

class Stepper : public QWidget {
    Q_OBJECT
public:
    Stepper(double minimum, double maximum, double step, QWidget* parent = nullptr);

    double value() const { return value_; }
    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }
    /// Clamped into the range; emits nothing.
    void setValue(double value);
    void setMaximum(double maximum);

    void stepUp();
    void stepDown();
    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

signals:
    /// The user moved the value.
    void valueChanged(double value);

private:
    void stepBy(double delta);
    void updateButtons();

    double minimum_;
    double maximum_;
    double step_;
    double value_;
    QToolButton* up_;
    QToolButton* down_;
};

class SegmentedPicker : public QWidget {
    Q_OBJECT
public:
    /// Segments as (tag, label).
    SegmentedPicker(const std::vector<std::pair<std::string, QString>>& segments, QWidget* parent = nullptr);

    std::string selected() const;
    /// Emits nothing.
    void setSelected(const std::string& tag);
    void setLabel(const std::string& tag, const QString& label);
    QAbstractButton* segment(const std::string& tag) const;

signals:
    /// The user picked a segment.
    void picked(const std::string& tag);

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyStyle();

    std::vector<std::string> tags_;
    QButtonGroup* group_;
};

}  // namespace trevlin::ui
