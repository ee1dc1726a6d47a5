// The Automatic page: Automatic mode's switch, its trigger and action, the
// command-line choice and the remembered decisions. It keeps nothing of its
// own: every control shows the model's settings and changes them through
// the model's operations, and the page follows the model's changes.
#pragma once

#include "AppModel.h"

#include <QScrollArea>
#include <QStringList>

#include <string>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QVBoxLayout;

namespace trevlin::ui {

class RowGroup;
class SegmentedPicker;
class Stepper;
class ToggleSwitch;

class AutomaticView : public QScrollArea {
    Q_OBJECT
public:
    explicit AutomaticView(AppModel& model, QWidget* parent = nullptr);

    /// Opacity of the trigger rows and the command-line group while
    /// Automatic mode is off (they stay usable).
    static constexpr double kDimmedOpacity = 0.6;

    // The parts, for tests.
    ToggleSwitch* autoSwitch() const { return autoSwitch_; }
    QLabel* mainSwitchWarning() const { return warning_; }
    QWidget* triggerGroup() const { return triggerGroup_; }
    QWidget* commandLineGroup() const { return commandLineGroup_; }
    Stepper* coresStepper() const { return coresStepper_; }
    Stepper* secondsStepper() const { return secondsStepper_; }
    Stepper* limitStepper() const { return limitStepper_; }
    SegmentedPicker* actionPicker() const { return actionPicker_; }
    QLabel* pauseNote() const { return pauseNote_; }
    QCheckBox* commandLineBox() const { return commandLineBox_; }
    /// The names in the remembered decisions' rows, top to bottom.
    QStringList decisionNames() const;
    /// The "Remove" button of a decision's row; null when it has none.
    QAbstractButton* removeButton(const std::string& path) const;
    /// The text shown instead of the list when nothing is remembered.
    QLabel* noDecisionsNote() const { return noDecisions_; }
    /// The opacity a group is drawn at.
    static double opacityOf(const QWidget* group);

private:
    void refresh();
    void rebuildDecisions();

    AppModel& model_;
    ToggleSwitch* autoSwitch_;
    QLabel* warning_;
    QWidget* triggerGroup_;
    Stepper* coresStepper_;
    QLabel* coresValue_;
    Stepper* secondsStepper_;
    QLabel* secondsValue_;
    SegmentedPicker* actionPicker_;
    Stepper* limitStepper_;
    QLabel* pauseNote_;
    QWidget* commandLineGroup_;
    QCheckBox* commandLineBox_;
    QLabel* noDecisions_;
    QWidget* decisionsHolder_;
    RowGroup* decisions_ = nullptr;
    std::map<std::string, AutoDecisionRecord> shownDecisions_;
    bool decisionsShown_ = false;
};

}  // namespace trevlin::ui
