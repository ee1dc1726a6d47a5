#include "TrayItem.h"

#include "MenuPanel.h"
#include "PanelTexts.h"
#include "Symbols.h"
#include "Theme.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetricsF>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

namespace trevlin::ui {

QImage trayImage(const QString& figure, const QColor& color, int size, qreal devicePixelRatio) {
    QImage image(QSize(size, size) * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The gauge takes the upper part; the figure, as large as fits, the rest.
    const qreal gauge = size * 0.5;
    Symbols::paintMenuBarIcon(p, QRectF((size - gauge) / 2, 0, gauge, gauge), color);
    const QRectF textBox(0, size * 0.44, size, size * 0.56);
    QFont font = Theme::font(qMax(6, qRound(textBox.height())), QFont::Bold);
    font.setStretch(QFont::Condensed);
    font.setLetterSpacing(QFont::PercentageSpacing, 94);
    for (int px = font.pixelSize(); px > 5; --px) {
        font.setPixelSize(px);
        QFontMetricsF m(font);
        if (m.horizontalAdvance(figure) <= size && m.capHeight() <= textBox.height() * 0.92) break;
    }
    p.setFont(font);
    p.setPen(color);
    QFontMetricsF m(font);
    // Digits sit on the baseline: centre their cap height in the box.
    const qreal baseline = textBox.center().y() + m.capHeight() / 2;
    p.drawText(QPointF((size - m.horizontalAdvance(figure)) / 2, baseline), figure);
    return image;
}

TrayItem::TrayItem(AppModel& model, MenuPanel& panel, QObject* parent)
    : QObject(parent), model_(model), panel_(panel), icon_(new QSystemTrayIcon(this)), menu_(new QMenu) {
    menu_->addAction("Open Trevlin…", this, [this] {
        if (openMainWindow) openMainWindow();
    });
    menu_->addAction("Quit", this, [this] {
        model_.shutdownEngine();
        if (quit) quit();
    });
    icon_->setContextMenu(menu_);
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason != QSystemTrayIcon::Trigger) return;
        // Hosts that tell no geometry (StatusNotifierItem): the click's position.
        QRect anchor = icon_->geometry();
        if (!anchor.isValid() || anchor.isEmpty()) anchor = QRect(QCursor::pos(), QSize(1, 1));
        panel_.toggle(anchor);
    });
    connect(&model_, &AppModel::labelChanged, this, &TrayItem::redraw);
    // The figure's colour follows the appearance.
    qApp->installEventFilter(this);
    redraw();
    icon_->show();
}

TrayItem::~TrayItem() {
    qApp->removeEventFilter(this);
    delete menu_;
}

bool TrayItem::available() { return QSystemTrayIcon::isSystemTrayAvailable(); }

bool TrayItem::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) redraw();
    return QObject::eventFilter(watched, event);
}

void TrayItem::redraw() {
    const QString figure = QString::fromStdString(PanelTexts::trayFigure(model_.labelText()));
    const QColor color = Theme::primary(QApplication::palette());
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(QPixmap::fromImage(trayImage(figure, color, size)));
    icon_->setIcon(icon);
    icon_->setToolTip(QString::fromStdString(PanelTexts::trayTooltip(model_.labelText())));
}

}  // namespace trevlin::ui
