#include "QuestionRow.h"

#include "PanelTexts.h"
#include "Theme.h"
#include "ToneLabel.h"
#include "Utf8.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace trevlin::ui {

QuestionRow::QuestionRow(QWidget* parent)
    : QWidget(parent), headline_(new QLabel(this)), detail_(new ToneLabel({}, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 10, 0, 10);
    layout->setSpacing(4);
    headline_->setFont(Theme::font(13, QFont::DemiBold));
    detail_->setFont(Theme::font(11));
    detail_->setWordWrap(true);
    layout->addWidget(headline_);
    layout->addWidget(detail_);

    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->setContentsMargins(0, 4, 0, 0);
    const std::array<AutoAnswer, 4> answers = {AutoAnswer::limitOnce, AutoAnswer::always, AutoAnswer::ignore,
                                               AutoAnswer::never};
    const std::array<const char*, 4> titles = {"Limit", "Always", "Ignore", "Never"};
    for (size_t i = 0; i < answers.size(); ++i) {
        auto* b = new QPushButton(titles[i], this);
        b->setFont(Theme::font(12));
        b->setAutoDefault(false);
        b->setFocusPolicy(Qt::TabFocus);
        const AutoAnswer a = answers[i];
        connect(b, &QPushButton::clicked, this, [this, a] {
            // A copy: answering changes the model, which may show the next
            // question in this row before the answer has been applied.
            const AutoQuestion asked = question_;
            emit answered(asked, a);
        });
        buttons_[static_cast<size_t>(a)] = b;
        row->addWidget(b, 1);
    }
    layout->addLayout(row);
}

QLabel* QuestionRow::detail() const { return detail_; }

void QuestionRow::setQuestion(const AutoQuestion& question, double triggerCores, const std::string& autoAction) {
    question_ = question;
    headline_->setText(QString::fromStdString(PanelTexts::questionHeadline(escapeControls(question.name), question.cores)));
    detail_->setText(QString::fromStdString(PanelTexts::questionDetail(triggerCores, question.overSeconds)));
    button(AutoAnswer::limitOnce)->setText(QString::fromStdString(PanelTexts::limitAnswerTitle(autoAction, question.path)));
}

}  // namespace trevlin::ui
