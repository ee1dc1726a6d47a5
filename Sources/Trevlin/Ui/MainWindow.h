// The main window: the sidebar of the four sections beside the page of the
// selected one. Closing it only hides it; the same window, on the same page,
// comes back when it is shown again. Whether it is on screen (shown, not
// minimised, exposed) is reported to the model, which publishes every sample
// while it is.
#pragma once

#include "AppModel.h"

#include <QWidget>

#include <functional>

class QSplitter;
class QStackedWidget;
class QAbstractButton;

namespace trevlin::ui {

class Sidebar;

class MainWindow : public QWidget {
    Q_OBJECT
public:
    explicit MainWindow(AppModel& model, QWidget* parent = nullptr);
    ~MainWindow() override;

    static constexpr QSize kInitialSize{920, 620};
    static constexpr QSize kMinimumSize{820, 540};

    Sidebar* sidebar() const { return sidebar_; }
    QSplitter* splitter() const { return splitter_; }
    QStackedWidget* pages() const { return pages_; }
    /// The page of a section (a placeholder with its title until the page exists).
    QWidget* page(Section section) const;
    /// Replaces the page of a section; the window takes ownership.
    void setPage(Section section, QWidget* page);

    /// Where there is no tray: a button under the sidebar that opens the
    /// panel against it (given the button's global rectangle). None: no button.
    void setPanelOpener(std::function<void(const QRect&)> open);
    QAbstractButton* panelButton() const { return panelButton_; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent*) override;

private:
    void showSection();
    void reportVisibility();

    AppModel& model_;
    Sidebar* sidebar_;
    QSplitter* splitter_;
    QStackedWidget* pages_;
    QAbstractButton* panelButton_;
    std::function<void(const QRect&)> openPanel_;
    bool watchingHandle_ = false;
};

}  // namespace trevlin::ui
