// The tray item's panel: the pending question with its answers, the main
// switch with what limiting does, the machine's load and savings, the
// busiest apps with their rule pills, the Automatic switch, and the ways to
// the main window and out. It holds no state of its own: every element reads
// the model and every action calls one of the model's operations.
//
// `MenuPanelView` is the content; `MenuPanel` is the frameless popup window
// that shows it against the tray icon. While the popup is open the model
// counts the panel as visible and publishes every sample.
#pragma once

#include "AppModel.h"

#include <QWidget>

#include <functional>
#include <vector>

class QLabel;
class QVBoxLayout;

namespace trevlin::ui {

class CoreSplitBar;
class Divider;
class FooterButton;
class Legend;
class QuestionRow;
class ToggleSwitch;
class ToneLabel;
class PillButton;
class AppIconView;

class MenuPanelView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 330;

    explicit MenuPanelView(AppModel& model, QWidget* parent = nullptr);

    /// "Open Trevlin…": show the main window in front.
    std::function<void()> openMainWindow;
    /// "Quit", after the engine has let every app go. Defaults to ending the
    /// application's event loop.
    std::function<void()> quit;

    /// Reads everything again from the model.
    void refresh();

    // The parts, for tests.
    QuestionRow* questionRow() const { return question_; }
    ToggleSwitch* masterSwitch() const { return masterSwitch_; }
    ToggleSwitch* autoSwitch() const { return autoSwitch_; }
    QLabel* summaryLabel() const;
    /// The line shown while the app in front is unknown.
    QLabel* frontNoteLabel() const;
    QWidget* loadBlock() const { return load_; }
    QLabel* loadFigureLabel() const { return loadFigure_; }
    QLabel* loadCaptionLabel() const;
    QLabel* savingsLabel() const;
    CoreSplitBar* coreBar() const { return bar_; }
    QLabel* measuringLabel() const { return measuring_; }
    /// The pill buttons of the app rows, top to bottom.
    std::vector<PillButton*> pillButtons() const;
    std::vector<QString> rowNames() const;
    FooterButton* openButton() const { return open_; }
    FooterButton* quitButton() const { return quitButton_; }

signals:
    /// An action took the user elsewhere (the main window): close the popup.
    void dismissRequested();

private:
    struct AppRow {
        QWidget* widget = nullptr;
        AppIconView* icon = nullptr;
        QLabel* name = nullptr;
        QLabel* cores = nullptr;
        PillButton* pill = nullptr;
        std::string path;
        std::string displayName;
    };
    AppRow makeRow();
    void refreshQuestion();
    void refreshHeader();
    void refreshLoad();
    void refreshApps();

    AppModel& model_;
    QuestionRow* question_;
    Divider* questionDivider_;
    QLabel* title_;
    ToneLabel* summary_;
    ToneLabel* frontNote_;
    ToggleSwitch* masterSwitch_;
    QWidget* load_;
    QLabel* loadFigure_;
    ToneLabel* loadCaption_;
    ToneLabel* savings_;
    CoreSplitBar* bar_;
    Legend* legend_;
    QWidget* apps_;
    QVBoxLayout* appsLayout_;
    QLabel* measuring_;
    std::vector<AppRow> rows_;
    ToggleSwitch* autoSwitch_;
    FooterButton* open_;
    FooterButton* quitButton_;
};

/// Where the panel goes: under the anchor (the tray icon, or the pointer),
/// or above it when the anchor sits in the lower half of the screen, and
/// always inside the screen's available area.
QPoint panelPosition(const QRect& anchor, const QSize& panel, const QRect& screen);

class MenuPanel : public QWidget {
    Q_OBJECT
public:
    explicit MenuPanel(AppModel& model, QWidget* parent = nullptr);

    MenuPanelView* view() const { return view_; }

    /// Opens the panel against `anchor` (global coordinates), or closes it
    /// when it is open. A click on the tray icon that itself closed the
    /// panel (a popup closes on any click outside it) does not reopen it.
    void toggle(const QRect& anchor);
    void showAt(const QRect& anchor);

protected:
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;
    void paintEvent(QPaintEvent*) override;

private:
    AppModel& model_;
    MenuPanelView* view_;
    qint64 hiddenAt_ = 0;
};

}  // namespace trevlin::ui
