#include "SystemRuleEditor.h"

#include "AutomaticViewControls.h"
#include "RuleEditor.h"
#include "SystemLimitsTexts.h"
#include "Theme.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace trevlin::ui {

namespace {

QLabel* text(const QString& s, int pixels, QWidget* parent, QFont::Weight weight = QFont::Normal) {
    auto* l = new QLabel(s, parent);
    l->setWordWrap(true);
    l->setFont(Theme::font(pixels, weight));
    return l;
}

void setTone(QLabel* label, const QColor& color) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
}

/// The group's picture: a magnifying glass for the indexer, a clock with a
/// turning arrow for backups.
class GroupIcon : public QWidget {
public:
    GroupIcon(HelperGroup group, QWidget* parent) : QWidget(parent), group_(group) { setFixedSize(32, 32); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPen pen(Theme::primary(palette()), 2.2);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        if (group_ == HelperGroup::spotlight) {
            p.drawEllipse(QRectF(5, 5, 16, 16));
            p.drawLine(QPointF(19, 19), QPointF(27, 27));
        } else {
            p.drawArc(QRectF(5, 5, 22, 22), 100 * 16, 300 * 16);
            p.drawLine(QPointF(16, 10), QPointF(16, 16));
            p.drawLine(QPointF(16, 16), QPointF(20, 19));
            p.drawLine(QPointF(9.5, 4.5), QPointF(13, 6.5));
            p.drawLine(QPointF(13, 6.5), QPointF(11.5, 10));
        }
    }

private:
    HelperGroup group_;
};

}  // namespace

SystemRuleEditor::SystemRuleEditor(AppModel& model, HelperGroup group, QWidget* parent)
    : QDialog(parent), model_(model), group_(group) {
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QString::fromStdString(systemGroupTitle(group_)));
    setFixedWidth(RuleEditor::kWidth);
    const QColor secondary = Theme::secondary(palette());
    const QColor cap = Theme::color(ThemeColor::cap, palette());
    const int cores = model_.systemInfo().logicalCores;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(12);

    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    header->addWidget(new GroupIcon(group_, this), 0, Qt::AlignTop);
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    names->addWidget(text(QString::fromStdString(systemGroupTitle(group_)), 15, this, QFont::DemiBold));
    auto* sub = text("System process · needs the Trevlin helper · experimental", 11, this);
    setTone(sub, secondary);
    names->addWidget(sub);
    names->addStretch(1);
    header->addLayout(names, 1);
    layout->addLayout(header);

    auto* stateRow = new QHBoxLayout;
    stateRow->addWidget(text("Rule", 12, this));
    stateRow->addStretch(1);
    states_ = new SegmentedPicker({{"off", "Off"}, {"custom", "Custom"}}, this);
    stateRow->addWidget(states_);
    layout->addLayout(stateRow);
    connect(states_, &SegmentedPicker::picked, this, [this](const std::string& picked) {
        const int id = picked == "custom" ? 1 : 0;
        const auto& rules = model_.helperRules();
        auto it = rules.find(group_);
        std::optional<HelperRule> existing;
        if (it != rules.end()) existing = it->second;
        model_.setHelperRule(group_, id == 1 ? std::optional<HelperRule>(customHelperRule(existing)) : std::nullopt);
    });

    offText_ = text(QString::fromStdString(systemGroupTitle(group_)) + " is not limited.", 12, this);
    setTone(offText_, secondary);
    layout->addWidget(offText_);

    ruleBox_ = new QWidget(this);
    auto* rl = new QVBoxLayout(ruleBox_);
    rl->setContentsMargins(0, 0, 0, 0);
    rl->setSpacing(6);
    auto* capRow = new QHBoxLayout;
    auto* capCaption = text("MAXIMUM CORES", 11, ruleBox_, QFont::Medium);
    QFont cf = capCaption->font();
    cf.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    capCaption->setFont(cf);
    setTone(capCaption, secondary);
    coresValue_ = new QLabel(ruleBox_);
    coresValue_->setFont(Theme::monospaceFont(13, QFont::DemiBold));
    capRow->addWidget(capCaption);
    capRow->addStretch(1);
    capRow->addWidget(coresValue_);
    rl->addLayout(capRow);
    slider_ = new QSlider(Qt::Horizontal, ruleBox_);
    slider_->setAccessibleName("Maximum cores");
    slider_->setMinimum(1);  // steps of 0.25 core
    slider_->setMaximum(std::max(1, cores * 4));
    slider_->setPageStep(1);
    rl->addWidget(slider_);
    auto* ends = new QHBoxLayout;
    auto* low = new QLabel("0.25", ruleBox_);
    char high[32];
    std::snprintf(high, sizeof high, "%lld", static_cast<long long>(cores));
    sliderHigh_ = new QLabel(high, ruleBox_);
    for (QLabel* l : {low, sliderHigh_}) {
        l->setFont(Theme::monospaceFont(10));
        setTone(l, secondary);
    }
    ends->addWidget(low);
    ends->addStretch(1);
    ends->addWidget(sliderHigh_);
    rl->addLayout(ends);
    connect(slider_, &QSlider::valueChanged, this, [this](int v) {
        if (refreshing_) return;
        auto it = model_.helperRules().find(group_);
        if (it == model_.helperRules().end()) return;
        HelperRule r = it->second;
        r.cores = v * 0.25;
        model_.setHelperRule(group_, r);
    });

    auto* howCaption = text("HOW TO HOLD IT BACK", 11, ruleBox_, QFont::Medium);
    howCaption->setFont(cf);
    setTone(howCaption, secondary);
    rl->addSpacing(4);
    rl->addWidget(howCaption);
    methods_ = new QButtonGroup(this);
    methods_->setExclusive(true);
    const char* titles[] = {"Strict", "Move to efficiency cores"};
    const char* details[] = {"Briefly pause it, many times a second, so it averages the cap.",
                             "Nothing is paused. The heaviest part runs slower until usage drops."};
    for (int i = 0; i < 2; ++i) {
        auto* b = new OptionButton(ruleBox_);
        b->setBoxed(true);
        b->setTexts(titles[i], details[i]);
        methods_->addButton(b, i);
        rl->addWidget(b);
    }
    connect(methods_, &QButtonGroup::idClicked, this, [this](int id) {
        auto it = model_.helperRules().find(group_);
        if (it == model_.helperRules().end()) return;
        HelperRule r = it->second;
        r.method = id == 0 ? HelperMethod::strict : HelperMethod::ecores;
        model_.setHelperRule(group_, r);
    });
    auto* note = text(QString::fromStdString(systemGroupNote(group_)), 11, ruleBox_);
    setTone(note, secondary);
    rl->addWidget(note);
    layout->addWidget(ruleBox_);

    auto* status = new QVBoxLayout;
    status->setSpacing(2);
    statusTitle_ = text("", 12, this, QFont::Medium);
    statusDetail_ = text("", 11, this);
    setTone(statusDetail_, secondary);
    writeError_ = text("", 11, this);
    setTone(writeError_, cap);
    status->addWidget(statusTitle_);
    status->addWidget(statusDetail_);
    status->addWidget(writeError_);
    layout->addLayout(status);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* done = new QPushButton("Done", this);
    done->setDefault(true);
    buttons->addWidget(done);
    layout->addLayout(buttons);
    connect(done, &QPushButton::clicked, this, &SystemRuleEditor::finish);
    connect(this, &QDialog::rejected, this, [this] {
        if (onDone_) onDone_();
    });

    connect(&model_, &AppModel::helperChanged, this, &SystemRuleEditor::refresh);
    refresh();
}

QAbstractButton* SystemRuleEditor::offButton() const { return states_->segment("off"); }
QAbstractButton* SystemRuleEditor::customButton() const { return states_->segment("custom"); }

void SystemRuleEditor::finish() {
    hide();
    if (onDone_) onDone_();
}

void SystemRuleEditor::refresh() {
    refreshing_ = true;
    const auto& rules = model_.helperRules();
    auto it = rules.find(group_);
    const bool hasRule = it != rules.end();
    states_->setSelected(hasRule ? "custom" : "off");
    offText_->setVisible(!hasRule);
    ruleBox_->setVisible(hasRule);
    if (hasRule) {
        coresValue_->setText(QString::asprintf("%.2f", it->second.cores));
        slider_->setValue(static_cast<int>(std::lround(it->second.cores * 4)));
        methods_->button(it->second.method == HelperMethod::strict ? 0 : 1)->setChecked(true);
    }
    const HelperGroupStatus* entry = model_.helperStatus() ? model_.helperStatus()->group(group_) : nullptr;
    const HelperStatusLines lines = helperStatusLines(model_.helperState(), entry, hasRule);
    statusTitle_->setText(QString::fromStdString(lines.title));
    setTone(statusTitle_, Theme::color(lines.running ? ThemeColor::saved : ThemeColor::cap, palette()));
    statusDetail_->setText(QString::fromStdString(lines.detail));
    statusDetail_->setVisible(!lines.detail.empty());
    const auto& error = model_.helperWriteError();
    writeError_->setText(error ? QString::fromStdString(*error) : QString());
    writeError_->setVisible(error.has_value());
    // The sheet keeps its width; its height follows the sections shown.
    if (QLayout* l = layout()) {
        l->activate();
        const int h = l->hasHeightForWidth() ? l->totalHeightForWidth(width()) : l->totalSizeHint().height();
        setFixedHeight(std::max(h, l->totalMinimumSize().height()));
    }
    refreshing_ = false;
}

}  // namespace trevlin::ui
