#include "MainWindowController.h"

#include "FrameStore.h"
#include "MainWindow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

namespace trevlin::ui {

MainWindowController::MainWindowController(AppModel& model, QObject* parent) : QObject(parent), model_(model) {
    connect(&model_, &AppModel::showMainWindowRequested, this, [this](bool front) { show(front); });
}

MainWindowController::~MainWindowController() {
    if (window_ && window_->isVisible()) saveFrame();
}

void MainWindowController::create() {
    window_ = std::make_unique<MainWindow>(model_);
    window_->installEventFilter(this);
    bool restored = false;
    if (auto frame = FrameStore::load(kFrameName)) restored = window_->restoreGeometry(*frame);
    if (!restored) {
        QScreen* screen = QGuiApplication::primaryScreen();
        if (screen) {
            QRect content(QPoint(0, 0), MainWindow::kInitialSize);
            content.moveCenter(screen->availableGeometry().center());
            window_->setGeometry(content);
        }
    }
    if (onCreated) onCreated(*window_);
}

void MainWindowController::show(bool activate, bool behind) {
    if (!window_) create();
    MainWindow& w = *window_;
    if (w.isMinimized()) w.showNormal();
    else w.show();
    if (activate) {
        w.raise();
        w.activateWindow();
    } else if (behind) {
        w.lower();
    } else {
        w.raise();
    }
}

void MainWindowController::saveFrame() {
    if (!window_ || model_.renderMode()) return;
    FrameStore::save(kFrameName, window_->saveGeometry());
}

bool MainWindowController::eventFilter(QObject* watched, QEvent* event) {
    // Closing only hides the window; its frame is written then.
    if (window_ && watched == window_.get() && event->type() == QEvent::Hide) saveFrame();
    return QObject::eventFilter(watched, event);
}

}  // namespace trevlin::ui
