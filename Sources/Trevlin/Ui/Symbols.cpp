#include "Symbols.h"

#include <QFile>
#include <QHash>
#include <QSvgRenderer>

#include <memory>

// The resources live in the static library: name them once so the linker
// keeps them and Qt registers them before the first lookup.
static void initTrevlinResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(Trevlin);
        return true;
    }();
    (void)done;
}

namespace trevlin::ui::Symbols {

namespace {

/// The SVG text of a resource, read once.
const QByteArray* source(const QString& file) {
    initTrevlinResources();
    static QHash<QString, QByteArray> cache;
    auto it = cache.find(file);
    if (it == cache.end()) {
        QFile f(":/" + file);
        QByteArray bytes;
        if (f.open(QIODevice::ReadOnly)) bytes = f.readAll();
        it = cache.insert(file, bytes);
    }
    return it->isEmpty() ? nullptr : &*it;
}

/// A renderer for a one-colour drawing in the given colour. The drawings are
/// written with "currentColor"; the colour goes in as text, its opacity
/// through the painter.
QSvgRenderer* renderer(const QString& file, const QColor& color) {
    static QHash<QString, std::shared_ptr<QSvgRenderer>> cache;
    const QString key = file + '|' + color.name(QColor::HexRgb);
    auto it = cache.find(key);
    if (it != cache.end()) return it->get();
    const QByteArray* svg = source(file);
    if (!svg) return nullptr;
    QByteArray tinted = *svg;
    tinted.replace("currentColor", color.name(QColor::HexRgb).toLatin1());
    auto r = std::make_shared<QSvgRenderer>(tinted);
    if (!r->isValid()) return nullptr;
    cache.insert(key, r);
    return r.get();
}

void paintTinted(QPainter& painter, const QString& file, const QRectF& box, const QColor& color) {
    QSvgRenderer* r = renderer(file, color);
    if (!r) return;
    painter.save();
    painter.setOpacity(painter.opacity() * color.alphaF());
    r->render(&painter, box);
    painter.restore();
}

QString symbolFile(const QString& name) { return "symbols/" + name + ".svg"; }

}  // namespace

bool has(const QString& name) { return source(symbolFile(name)) != nullptr; }

void paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& color) {
    paintTinted(painter, symbolFile(name), box, color);
}

QPixmap pixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio) {
    QPixmap pm(QSize(size, size) * devicePixelRatio);
    pm.setDevicePixelRatio(devicePixelRatio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p, name, QRectF(0, 0, size, size), color);
    return pm;
}

bool paintResource(QPainter& painter, const QString& file, const QRectF& box) {
    static QHash<QString, std::shared_ptr<QSvgRenderer>> cache;
    auto it = cache.find(file);
    if (it == cache.end()) {
        const QByteArray* svg = source(file);
        auto r = svg ? std::make_shared<QSvgRenderer>(*svg) : nullptr;
        it = cache.insert(file, r && r->isValid() ? r : nullptr);
    }
    if (!*it) return false;
    (*it)->render(&painter, box);
    return true;
}

void paintMenuBarIcon(QPainter& painter, const QRectF& box, const QColor& color) {
    if (source("MenuBarIcon.svg")) paintTinted(painter, "MenuBarIcon.svg", box, color);
    else paint(painter, "gauge.with.dots.needle.50percent", box, color);
}

}  // namespace trevlin::ui::Symbols
