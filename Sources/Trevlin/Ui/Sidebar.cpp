#include "Sidebar.h"

#include "Sections.h"
#include "Symbols.h"
#include "Theme.h"

#include <QPainter>
#include <QPainterPath>
#include <QStyledItemDelegate>

namespace trevlin::ui {

namespace {

constexpr int kSymbolRole = Qt::UserRole + 1;

/// A row: a rounded selection, the section's symbol in the accent colour,
/// its title.
class SidebarDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(), Sidebar::kRowHeight};
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        const QRectF row = QRectF(option.rect).adjusted(8, 1, -8, -1);
        const QPalette& pal = option.palette;
        if (option.state & QStyle::State_Selected) {
            QPainterPath bg;
            bg.addRoundedRect(row, 6, 6);
            p->fillPath(bg, Theme::withOpacity(Theme::primary(pal), Theme::isDark(pal) ? 0.14 : 0.1));
        }
        const qreal symbol = 16;
        const QRectF symbolBox(row.left() + 8, row.center().y() - symbol / 2, symbol, symbol);
        Symbols::paint(*p, index.data(kSymbolRole).toString(), symbolBox, pal.color(QPalette::Highlight));
        p->setPen(Theme::primary(pal));
        p->setFont(Theme::font(13));
        p->drawText(row.adjusted(symbol + 16, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft,
                    index.data(Qt::DisplayRole).toString());
        p->restore();
    }
};

}  // namespace

Sidebar::Sidebar(AppModel& model, QWidget* parent) : QListWidget(parent), model_(model) {
    setItemDelegate(new SidebarDelegate(this));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setMinimumWidth(kMinWidth);
    setMaximumWidth(kMaxWidth);
    setUniformItemSizes(true);
    setSpacing(0);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setContentsMargins(0, 8, 0, 0);
    setViewportMargins(0, 8, 0, 0);
    for (Section s : kAllSections) {
        auto* item = new QListWidgetItem(sectionTitle(s), this);
        item->setData(kSymbolRole, QString(sectionSymbol(s)));
        item->setSizeHint(QSize(kIdealWidth, kRowHeight));
    }
    followModel();
    connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0) return;
        if (sectionAt(row) != model_.section()) model_.setSection(sectionAt(row));
    });
    connect(&model_, &AppModel::sectionChanged, this, &Sidebar::followModel);
}

int Sidebar::rowOf(Section section) const {
    for (size_t i = 0; i < kAllSections.size(); ++i)
        if (kAllSections[i] == section) return static_cast<int>(i);
    return 0;
}

Section Sidebar::sectionAt(int row) const {
    return row >= 0 && row < static_cast<int>(kAllSections.size()) ? kAllSections[static_cast<size_t>(row)]
                                                                   : Section::overview;
}

void Sidebar::followModel() {
    const int row = rowOf(model_.section());
    if (currentRow() != row) setCurrentRow(row);
}

}  // namespace trevlin::ui
