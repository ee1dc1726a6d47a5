#include "PaneTitle.h"

#include "Theme.h"

namespace trevlin::ui {

PaneTitle::PaneTitle(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setFont(Theme::font(24, QFont::Bold));
    setTextInteractionFlags(Qt::NoTextInteraction);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

}  // namespace trevlin::ui
