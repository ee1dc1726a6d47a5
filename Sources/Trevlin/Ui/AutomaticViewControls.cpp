#include "AutomaticViewControls.h"

#include "Theme.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace trevlin::ui {

namespace {

/// Room on both sides of a segment's text: the style's own margin leaves
/// the longer labels ("Slow it to 1.5 cores") touching the edges.
void padWidth(QAbstractButton* button) {
    button->setMinimumWidth(button->fontMetrics().horizontalAdvance(button->text()) + 24);
}

}  // namespace

Stepper::Stepper(double minimum, double maximum, double step, QWidget* parent)
    : QWidget(parent),
      minimum_(minimum),
      maximum_(std::max(minimum, maximum)),
      step_(step),
      value_(minimum),
      up_(new QToolButton(this)),
      down_(new QToolButton(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    up_->setAccessibleName("Increment");
    down_->setAccessibleName("Decrement");
    for (QToolButton* b : {up_, down_}) {
        b->setFixedSize(20, 12);
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::TabFocus);
        layout->addWidget(b);
    }
    connect(up_, &QToolButton::clicked, this, &Stepper::stepUp);
    connect(down_, &QToolButton::clicked, this, &Stepper::stepDown);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    updateButtons();
}

void Stepper::setValue(double value) {
    value_ = std::clamp(value, minimum_, maximum_);
    updateButtons();
}

void Stepper::setMaximum(double maximum) {
    maximum_ = std::max(minimum_, maximum);
    setValue(value_);
}

void Stepper::stepUp() { stepBy(step_); }
void Stepper::stepDown() { stepBy(-step_); }

void Stepper::stepBy(double delta) {
    // Onto the step grid, so a value stored off it (hand-edited settings)
    // comes back to whole steps.
    double next = std::round((value_ + delta) / step_) * step_;
    next = std::clamp(next, minimum_, maximum_);
    if (next == value_) return;
    value_ = next;
    updateButtons();
    emit valueChanged(value_);
}

void Stepper::updateButtons() {
    up_->setEnabled(value_ < maximum_);
    down_->setEnabled(value_ > minimum_);
}

SegmentedPicker::SegmentedPicker(const std::vector<std::pair<std::string, QString>>& segments, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    group_->setExclusive(true);
    for (size_t i = 0; i < segments.size(); ++i) {
        auto* button = new QPushButton(segments[i].second, this);
        button->setCheckable(true);
        button->setFocusPolicy(Qt::TabFocus);
        button->setFont(Theme::font(12));
        padWidth(button);
        layout->addWidget(button);
        group_->addButton(button, static_cast<int>(i));
        tags_.push_back(segments[i].first);
    }
    connect(group_, &QButtonGroup::idClicked, this, [this](int id) { emit picked(tags_[static_cast<size_t>(id)]); });
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    applyStyle();
}

void SegmentedPicker::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) applyStyle();
}

void SegmentedPicker::applyStyle() {
    // One capsule split into segments; the picked one in the accent colour,
    // as the switches show "on". The colours come from the palette, so the
    // style is made again when the appearance changes.
    const QPalette& pal = palette();
    const QString text = Theme::primary(pal).name(QColor::HexArgb);
    const QString fill = Theme::withOpacity(Theme::primary(pal), 0.06).name(QColor::HexArgb);
    const QString line = Theme::withOpacity(Theme::primary(pal), 0.2).name(QColor::HexArgb);
    const QString accent = pal.color(QPalette::Highlight).name(QColor::HexArgb);
    const QString accentText = pal.color(QPalette::HighlightedText).name(QColor::HexArgb);
    const int count = static_cast<int>(tags_.size());
    for (int i = 0; i < count; ++i) {
        QString corners;
        if (i == 0) corners += "border-top-left-radius: 6px; border-bottom-left-radius: 6px;";
        if (i == count - 1) corners += "border-top-right-radius: 6px; border-bottom-right-radius: 6px;";
        // Neighbours share one line: every segment but the first has no left border.
        const QString left = i == 0 ? QString() : QString("border-left: none;");
        group_->button(i)->setStyleSheet(
            QString("QPushButton { color: %1; background: %2; border: 1px solid %3; %4 %5 padding: 3px 10px; }"
                    "QPushButton:checked { color: %6; background: %7; border-color: %7; }")
                .arg(text, fill, line, left, corners, accentText, accent));
    }
}

std::string SegmentedPicker::selected() const {
    const int id = group_->checkedId();
    return id < 0 ? std::string() : tags_[static_cast<size_t>(id)];
}

void SegmentedPicker::setSelected(const std::string& tag) {
    for (size_t i = 0; i < tags_.size(); ++i)
        if (tags_[i] == tag) {
            group_->button(static_cast<int>(i))->setChecked(true);
            return;
        }
    // A tag of none of the segments: nothing shows as picked.
    if (QAbstractButton* b = group_->checkedButton()) {
        group_->setExclusive(false);
        b->setChecked(false);
        group_->setExclusive(true);
    }
}

void SegmentedPicker::setLabel(const std::string& tag, const QString& label) {
    if (QAbstractButton* b = segment(tag)) {
        b->setText(label);
        padWidth(b);
    }
}

QAbstractButton* SegmentedPicker::segment(const std::string& tag) const {
    for (size_t i = 0; i < tags_.size(); ++i)
        if (tags_[i] == tag) return group_->button(static_cast<int>(i));
    return nullptr;
}

}  // namespace trevlin::ui
