#include "Interface.h"

#include "MainWindow.h"
#include "MainWindowController.h"
#include "MenuPanel.h"
#include "TrayItem.h"

namespace trevlin::ui {

Interface::Interface(AppModel& model, std::function<void()> quit, QObject* parent)
    : QObject(parent),
      model_(model),
      controller_(std::make_unique<MainWindowController>(model)),
      panel_(std::make_unique<MenuPanel>(model)) {
    auto open = [this] { controller_->show(true); };
    panel_->view()->openMainWindow = open;
    panel_->view()->quit = quit;

    const bool trayAvailable = TrayItem::available();
    if (trayAvailable) {
        tray_ = std::make_unique<TrayItem>(model, *panel_);
        tray_->openMainWindow = open;
        tray_->quit = quit;
    } else {
        // Without a tray the window is the way in, and the panel opens from it.
        controller_->onCreated = [this](MainWindow& window) {
            window.setPanelOpener([this](const QRect& anchor) { panel_->toggle(anchor); });
        };
        controller_->show(true);
    }
}

Interface::~Interface() {
    // The panel and tray go before the window, all before the model.
    tray_.reset();
    panel_.reset();
    controller_.reset();
}

void Interface::reopen() { controller_->show(true); }

}  // namespace trevlin::ui
