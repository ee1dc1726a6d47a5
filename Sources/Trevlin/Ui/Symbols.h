// The small pictures the interface names by symbol ("cpu", "gearshape",
// "gauge.with.dots.needle.50percent", ...): Trevlin's own vector drawings,
// compiled into the program, so every desktop shows the same pictures
// whatever its icon theme. Each drawing is one colour, given when drawn.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QRectF>
#include <QString>

namespace trevlin::ui::Symbols {

/// Whether a drawing of that name exists.
bool has(const QString& name);

/// Draws the symbol scaled to fit `box`, in `color`. Nothing for an unknown name.
void paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& color);

/// The symbol as a square pixmap of `size` device-independent pixels.
QPixmap pixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio = 1.0);

/// Draws one of the program's multi-colour pictures (":/<file>") into `box`.
/// Returns false when the resource is missing.
bool paintResource(QPainter& painter, const QString& file, const QRectF& box);

/// The tray's gauge ("MenuBarIcon" in the resources) in `color`, falling back
/// to the gauge symbol when the resource is missing.
void paintMenuBarIcon(QPainter& painter, const QRectF& box, const QColor& color);

}  // namespace trevlin::ui::Symbols
