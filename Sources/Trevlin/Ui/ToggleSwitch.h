// A small on/off switch, drawn: a capsule in the accent colour when on, a
// grey one when off, with a white knob at the end that is on. Its label is
// for accessibility only.
#pragma once

#include <QAbstractButton>

namespace trevlin::ui {

class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit ToggleSwitch(const QString& accessibleLabel, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {kWidth, kHeight}; }

    static constexpr int kWidth = 30;
    static constexpr int kHeight = 18;

protected:
    void paintEvent(QPaintEvent*) override;
};

}  // namespace trevlin::ui
