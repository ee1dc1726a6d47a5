// A label in one of the theme's text colours (secondary text, or a theme
// colour such as the savings line's). It follows the palette it inherits:
// when the appearance changes, the colour is taken again from the new one.
#pragma once

#include "Theme.h"

#include <QLabel>

#include <optional>

namespace trevlin::ui {

class ToneLabel : public QLabel {
    Q_OBJECT
public:
    /// Secondary text.
    explicit ToneLabel(const QString& text = {}, QWidget* parent = nullptr);
    /// Text in a theme colour.
    ToneLabel(const QString& text, ThemeColor color, QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyTone();

    std::optional<ThemeColor> color_;
    bool applying_ = false;
};

}  // namespace trevlin::ui
