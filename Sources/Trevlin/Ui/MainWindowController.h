// Makes the main window on first use and keeps it for the life of the
// process: it is hidden when closed and shown again, with its state, when
// asked for (the panel, a rule edit, a reopen request, the first launch).
// Its frame is remembered under "TrevlinMain" between runs; the first show
// without a remembered frame centres it on the screen.
#pragma once

#include "AppModel.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace trevlin::ui {

class MainWindow;

class MainWindowController : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kFrameName = "TrevlinMain";

    explicit MainWindowController(AppModel& model, QObject* parent = nullptr);
    /// Remembers the window's frame.
    ~MainWindowController() override;

    /// Creates the window if needed, then: with `activate`, brings it to the
    /// front and gives it the keyboard; otherwise with `behind`, puts it
    /// under the other windows; otherwise brings it to the front without
    /// taking the keyboard from the app in front.
    void show(bool activate, bool behind = false);

    /// The window, once it has been shown.
    MainWindow* window() const { return window_.get(); }

    /// Called on the window when it is made (the panel's button where there is no tray).
    std::function<void(MainWindow&)> onCreated;

    /// Writes the window's frame (not in render mode). Done on every hide and at the end.
    void saveFrame();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void create();

    AppModel& model_;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace trevlin::ui
