// The system rule editor: a window-modal sheet that sets or clears the
// helper's rule for one group of system processes and shows whether the
// privileged helper has picked it up. Every change goes straight to the
// model, which writes the rules file at once.
#pragma once

#include "AppModel.h"

#include <QDialog>

#include <functional>

class QAbstractButton;
class QButtonGroup;
class QLabel;
class QPushButton;
class QSlider;

namespace trevlin::ui {

class OptionButton;
class SegmentedPicker;

class SystemRuleEditor : public QDialog {
    Q_OBJECT
public:
    SystemRuleEditor(AppModel& model, HelperGroup group, QWidget* parent = nullptr);

    HelperGroup group() const { return group_; }
    void setOnDone(std::function<void()> onDone) { onDone_ = std::move(onDone); }

    // The controls, for tests.
    QAbstractButton* offButton() const;
    QAbstractButton* customButton() const;
    QSlider* slider() const { return slider_; }
    QLabel* sliderHigh() const { return sliderHigh_; }
    QLabel* statusTitle() const { return statusTitle_; }
    QLabel* statusDetail() const { return statusDetail_; }

    void refresh();

private:
    void finish();

    AppModel& model_;
    const HelperGroup group_;
    std::function<void()> onDone_;
    bool refreshing_ = false;

    SegmentedPicker* states_;
    QLabel* offText_;
    QWidget* ruleBox_;
    QLabel* coresValue_;
    QSlider* slider_;
    QLabel* sliderHigh_;
    QButtonGroup* methods_;
    QLabel* statusTitle_;
    QLabel* statusDetail_;
    QLabel* writeError_;
};

}  // namespace trevlin::ui
