// Trevlin's permanent presence on the desktop: a tray icon showing the gauge
// and the cores in use (tray hosts show no text beside an icon, so the
// figure is drawn into the image). A click opens or closes the panel; the
// context menu holds "Open Trevlin…" and "Quit" for hosts that only show
// menus. The figure is the model's menu bar text, which changes at most
// every 5 s.
#pragma once

#include "AppModel.h"

#include <QImage>
#include <QObject>

#include <functional>

class QMenu;
class QSystemTrayIcon;

namespace trevlin::ui {

class MenuPanel;

/// The tray image: the gauge above the figure, in `color`, `size` pixels square.
QImage trayImage(const QString& figure, const QColor& color, int size, qreal devicePixelRatio = 1.0);

class TrayItem : public QObject {
    Q_OBJECT
public:
    TrayItem(AppModel& model, MenuPanel& panel, QObject* parent = nullptr);
    ~TrayItem() override;

    /// Whether the desktop has a tray to show the icon in.
    static bool available();

    std::function<void()> openMainWindow;
    std::function<void()> quit;

    QSystemTrayIcon* icon() const { return icon_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void redraw();

    AppModel& model_;
    MenuPanel& panel_;
    QSystemTrayIcon* icon_;
    QMenu* menu_;
};

}  // namespace trevlin::ui
