#include "SettingRow.h"

#include "ToneLabel.h"

#include <QHBoxLayout>
#include <QLabel>

namespace trevlin::ui {

SettingRow::SettingRow(const QString& title, QWidget* trailing, QWidget* parent)
    : QWidget(parent), title_(new QLabel(title, this)), trailing_(trailing) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 8);
    layout->addWidget(title_);
    layout->addStretch(1);
    if (trailing_) layout->addWidget(trailing_);
}

SettingRow::SettingRow(const QString& title, const QString& trailingText, QWidget* parent)
    : SettingRow(title, new ToneLabel(trailingText), parent) {}

}  // namespace trevlin::ui
