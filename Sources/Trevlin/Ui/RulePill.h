// An app's rule state as a small capsule: the pill's text in its style's
// colour on a tinted capsule, paler when dimmed, optionally struck through.
#pragma once

#include "Pill.h"

#include <QAbstractButton>
#include <QString>
#include <QWidget>

class QPainter;

namespace trevlin::ui {

class RulePill : public QWidget {
    Q_OBJECT
public:
    explicit RulePill(QWidget* parent = nullptr);

    void setPill(const QString& text, PillStyle style, bool dimmed = false, bool struck = false);
    void setPill(const Pill& pill) { setPill(QString::fromStdString(pill.text), pill.style, pill.dimmed); }
    const QString& text() const { return text_; }
    PillStyle style() const { return style_; }
    bool dimmed() const { return dimmed_; }
    bool struck() const { return struck_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    static constexpr int kHeight = 18;
    static constexpr int kInset = 8;
    /// The natural size of a pill with that text.
    static QSize naturalSize(const QString& text);
    /// Draws the pill centred in `area`, narrowed (and its text elided) to fit.
    static void paintPill(QPainter& painter, const QRectF& area, const QString& text, PillStyle style, bool dimmed,
                          bool struck, const QPalette& palette);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString text_;
    PillStyle style_ = PillStyle::off;
    bool dimmed_ = false;
    bool struck_ = false;
};

/// A pill that acts as a plain button, `width` wide unless its text needs
/// more (the panel's rows).
class PillButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit PillButton(int width, QWidget* parent = nullptr);
    void setPill(const Pill& pill);
    const Pill& pill() const { return pill_; }
    QSize sizeHint() const override { return size(); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    int width_;
    Pill pill_;
};

}  // namespace trevlin::ui
