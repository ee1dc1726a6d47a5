// The rule editor: a window-modal sheet in which the user decides how one app
// or command-line group is held back. It keeps nothing of its own: every
// control reads the stored rule from the model, and every change writes the
// whole rule back, saves and brings the engine up to date at once. The
// status block follows the app's limiter live.
#pragma once

#include "AppModel.h"

#include <QAbstractButton>
#include <QDialog>

#include <functional>
#include <string>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QSlider;

namespace trevlin::ui {

class SegmentedPicker;

/// A radio option drawn as a selection mark, a title and a detail line.
class OptionButton : public QAbstractButton {
    Q_OBJECT
public:
    OptionButton(QWidget* parent = nullptr);
    void setTexts(const QString& title, const QString& detail);
    /// Draw inside a rounded outline (the system rule editor's look).
    void setBoxed(bool boxed) { boxed_ = boxed; }
    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString title_, detail_;
    bool boxed_ = false;
};

class RuleEditor : public QDialog {
    Q_OBJECT
public:
    RuleEditor(AppModel& model, std::string path, std::string name, QWidget* parent = nullptr);

    static constexpr int kWidth = 460;

    const std::string& path() const { return path_; }
    void setOnDone(std::function<void()> onDone) { onDone_ = std::move(onDone); }

    // The controls, for tests.
    QAbstractButton* modeButton(RuleMode mode) const;
    OptionButton* methodButton(Method method) const;
    QSlider* slider() const { return slider_; }
    QCheckBox* efficiencyBox() const { return efficiencyBox_; }
    QLabel* headerLine() const { return groupLine_; }
    QLabel* headerNote() const { return groupNote_; }
    QLabel* modeLabel() const { return modeText_; }
    QLabel* statusTitle() const { return statusTitle_; }
    /// The line shown while the app in front is unknown.
    QLabel* frontNote() const { return frontNote_; }
    QLabel* statusDetail() const { return statusDetail_; }
    QPushButton* doneButton() const { return done_; }

    /// Reads everything from the model again.
    void refresh();

private:
    void write(StoredRule rule);
    void finish();

    AppModel& model_;
    const std::string path_;
    const std::string name_;
    const bool group_;
    std::function<void()> onDone_;
    bool refreshing_ = false;

    QLabel* groupLine_ = nullptr;
    QLabel* groupNote_ = nullptr;
    SegmentedPicker* modes_;
    QLabel* modeText_;
    QWidget* custom_;
    QLabel* capCaption_;
    QLabel* capValue_;
    QWidget* sliderBox_;
    QLabel* pauseCaption_;
    QSlider* slider_;
    QLabel* sliderHigh_;
    QButtonGroup* methods_;
    QCheckBox* efficiencyBox_;
    QWidget* pauseDetails_;
    QCheckBox* catchUpBox_;
    QCheckBox* sparesBox_;
    QLabel* statusTitle_;
    QLabel* statusDetail_;
    QLabel* statusNote_;
    QLabel* frontNote_;
    QPushButton* done_;
};

}  // namespace trevlin::ui
