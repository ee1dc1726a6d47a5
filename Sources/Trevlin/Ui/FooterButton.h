// A whole-row plain button of the panel's bottom group: a title on the left
// and an optional grey text on the right, highlighted under the pointer.
#pragma once

#include <QAbstractButton>

namespace trevlin::ui {

class FooterButton : public QAbstractButton {
    Q_OBJECT
public:
    FooterButton(const QString& title, const QString& trailing = {}, QWidget* parent = nullptr);
    const QString& trailing() const { return trailing_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    QString trailing_;
    bool hovered_ = false;
};

}  // namespace trevlin::ui
