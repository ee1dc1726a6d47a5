// Automatic mode's pending question in the panel: which app is busy, for how
// long, and the four answers.
#pragma once

#include "AutoAnswer.h"
#include "AutoPolicy.h"

#include <QWidget>

#include <array>

class QLabel;
class QPushButton;

namespace trevlin::ui {

class ToneLabel;

class QuestionRow : public QWidget {
    Q_OBJECT
public:
    explicit QuestionRow(QWidget* parent = nullptr);

    /// Shows `question`, asked with the trigger `triggerCores` while
    /// Automatic mode's action is `autoAction`.
    void setQuestion(const AutoQuestion& question, double triggerCores, const std::string& autoAction);
    const AutoQuestion& question() const { return question_; }

    /// The answer buttons in order: limit (or pause), always, ignore, never.
    QPushButton* button(AutoAnswer answer) const { return buttons_[static_cast<size_t>(answer)]; }
    QLabel* headline() const { return headline_; }
    QLabel* detail() const;

signals:
    void answered(const AutoQuestion& question, AutoAnswer answer);

private:
    AutoQuestion question_;
    QLabel* headline_;
    ToneLabel* detail_;
    std::array<QPushButton*, 4> buttons_{};
};

}  // namespace trevlin::ui
