// Everything the user sees, made once at start: the tray item with its
// panel, and the main window's controller. Where the desktop has no tray,
// the main window opens at start and a button in it opens the panel.
#pragma once

#include "AppModel.h"

#include <QObject>

#include <functional>
#include <memory>

namespace trevlin::ui {

class MainWindowController;
class MenuPanel;
class TrayItem;

class Interface : public QObject {
    Q_OBJECT
public:
    /// `quit` ends the application after the panel's "Quit" has let every app go.
    Interface(AppModel& model, std::function<void()> quit, QObject* parent = nullptr);
    ~Interface() override;

    MainWindowController& mainWindow() { return *controller_; }
    MenuPanel& panel() { return *panel_; }
    /// Null where the desktop has no tray.
    TrayItem* tray() { return tray_.get(); }

    /// A later start asked for the main window.
    void reopen();

private:
    AppModel& model_;
    std::unique_ptr<MainWindowController> controller_;
    std::unique_ptr<MenuPanel> panel_;
    std::unique_ptr<TrayItem> tray_;
};

}  // namespace trevlin::ui
