#include "RowGroup.h"

#include "Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace trevlin::ui {

RowGroup::RowGroup(QWidget* parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
    layout_->setContentsMargins(14, 4, 14, 4);
    layout_->setSpacing(0);
    layout_->setAlignment(Qt::AlignTop);
}

void RowGroup::addRow(QWidget* row) { layout_->addWidget(row); }

void RowGroup::addDivider() { layout_->addWidget(new Divider(this)); }

void RowGroup::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    // Half a pixel in, so the 1-pixel outline falls on whole pixels.
    card.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    p.fillPath(card, Theme::withOpacity(Theme::primary(palette()), 0.04));
    p.setPen(QPen(Theme::withOpacity(Theme::primary(palette()), 0.12), 1));
    p.drawPath(card);
}

Divider::Divider(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Theme::withOpacity(Theme::primary(palette()), 0.12));
}

}  // namespace trevlin::ui
