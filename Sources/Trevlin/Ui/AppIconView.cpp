#include "AppIconView.h"

#include "AppKey.h"
#include "IconCache.h"
#include "Symbols.h"
#include "Theme.h"

#include <QPainter>
#include <QPainterPath>

namespace trevlin::ui {

AppIconView::AppIconView(QString path, int size, QWidget* parent)
    : QWidget(parent), path_(std::move(path)), size_(size) {
    setFixedSize(size_, size_);
}

void AppIconView::setPath(const QString& path) {
    if (path == path_) return;
    path_ = path;
    update();
}

void AppIconView::paintIcon(QPainter& p, const QString& path, const QRectF& box, const QPalette& palette) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const qreal size = box.width();
    if (AppKey::isGroupKey(path.toStdString())) {
        // A command-line group has no icon of its own: a terminal badge.
        QPainterPath badge;
        badge.addRoundedRect(box, 0.24 * size, 0.24 * size);
        p.fillPath(badge, Theme::withOpacity(Theme::primary(palette), 0.1));
        QFont f = Theme::monospaceFont(qMax(1, qRound(0.42 * size)), QFont::Bold);
        p.setFont(f);
        p.setPen(Theme::secondary(palette));
        p.drawText(box, Qt::AlignCenter, ">_");
    } else if (!path.isEmpty()) {
        QIcon icon = IconCache::shared().icon(path);
        if (!icon.isNull()) icon.paint(&p, box.toAlignedRect(), Qt::AlignCenter);
        else Symbols::paintResource(p, "GenericApp.svg", box);
    } else {
        const qreal inset = 0.2 * size;
        Symbols::paint(p, "cpu", box.adjusted(inset, inset, -inset, -inset), Theme::secondary(palette));
    }
    p.restore();
}

void AppIconView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintIcon(p, path_, QRectF(0, 0, size_, size_), palette());
}

}  // namespace trevlin::ui
