// An app's icon in a square: a command-line group's ">_" badge, the icon of
// the app's desktop entry, Trevlin's generic app picture when the entry has
// none, or the processor symbol when there is no app at all.
#pragma once

#include <QString>
#include <QWidget>

class QPainter;

namespace trevlin::ui {

class AppIconView : public QWidget {
    Q_OBJECT
public:
    explicit AppIconView(QString path = {}, int size = 20, QWidget* parent = nullptr);

    void setPath(const QString& path);
    const QString& path() const { return path_; }
    int iconSize() const { return size_; }

    QSize sizeHint() const override { return {size_, size_}; }

    /// Draws the icon of `path` into `box` (a square) with the colours of `palette`.
    static void paintIcon(QPainter& painter, const QString& path, const QRectF& box, const QPalette& palette);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString path_;
    int size_;
};

}  // namespace trevlin::ui
