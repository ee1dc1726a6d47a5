#include "AutomaticView.h"

#include "AppIconView.h"
#include "AutomaticViewControls.h"
#include "AutomaticViewTexts.h"
#include "PaneTitle.h"
#include "RowGroup.h"
#include "SettingRow.h"
#include "Theme.h"
#include "ToggleSwitch.h"
#include "ToneLabel.h"
#include "Utf8.h"

#include <QCheckBox>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>
#include <optional>

namespace trevlin::ui {

namespace {

QString numberText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

/// A paragraph of text that wraps within the page's column.
ToneLabel* note(const QString& text, int pixels, QWidget* parent, std::optional<ThemeColor> color = {}) {
    auto* label = color ? new ToneLabel(text, *color, parent) : new ToneLabel(text, parent);
    label->setFont(Theme::font(pixels));
    label->setWordWrap(true);
    return label;
}

/// The trailing part of a stepper row: the value, its unit and the arrows.
QWidget* stepperTrailing(Stepper* stepper, QLabel* value, const QString& unit) {
    auto* box = new QWidget;
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    value->setFont(Theme::monospaceFont(13, QFont::DemiBold));
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(value);
    if (!unit.isEmpty()) {
        auto* unitLabel = new ToneLabel(unit, box);
        unitLabel->setFont(Theme::font(12));
        layout->addWidget(unitLabel);
    }
    stepper->setParent(box);
    layout->addWidget(stepper);
    return box;
}

/// A name on one line that gives way to the controls beside it: elided to
/// whatever width the row leaves it (the full name stays its text).
class ElidedName : public QLabel {
public:
    ElidedName(const QString& text, QWidget* parent) : QLabel(text, parent) {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setToolTip(text);
    }
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(palette().color(foregroundRole()));
        p.setFont(font());
        p.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width()));
    }
};

}  // namespace

AutomaticView::AutomaticView(AppModel& model, QWidget* parent) : QScrollArea(parent), model_(model) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The page's own background, wherever the page is shown.
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(22, 18, 22, 18);
    column->setSpacing(14);
    column->setAlignment(Qt::AlignTop);

    column->addWidget(new PaneTitle("Automatic", content));
    column->addWidget(note("Automatic mode holds back a background app that has been using a lot of CPU for a while, "
                           "and lets go as soon as you switch to it or it calms down. The app you are using is never "
                           "touched, and nothing is ever limited while the main switch in the menu bar panel is off. "
                           "The first time it wants to limit an app it asks you.",
                           12, content));

    auto* modeGroup = new RowGroup(content);
    autoSwitch_ = new ToggleSwitch("Automatic mode");
    modeGroup->addRow(new SettingRow("Automatic mode", autoSwitch_));
    column->addWidget(modeGroup);
    connect(autoSwitch_, &QAbstractButton::clicked, this, [this](bool on) { model_.setAutoEnabled(on); });

    warning_ = note("The main switch in the menu bar panel is off, so nothing will be limited yet.", 11, content,
                    ThemeColor::cap);
    column->addWidget(warning_);

    const double coresMax = coresStepperMaximum(model_.systemInfo().logicalCores);
    auto* trigger = new RowGroup(content);
    triggerGroup_ = trigger;
    coresStepper_ = new Stepper(0.5, coresMax, 0.5);
    coresValue_ = new QLabel;
    trigger->addRow(new SettingRow("Background app above", stepperTrailing(coresStepper_, coresValue_, "cores")));
    trigger->addDivider();
    secondsStepper_ = new Stepper(5, 120, 5);
    secondsValue_ = new QLabel;
    trigger->addRow(new SettingRow("for at least", stepperTrailing(secondsStepper_, secondsValue_, "seconds")));
    trigger->addDivider();
    auto* then = new QWidget;
    auto* thenLayout = new QHBoxLayout(then);
    thenLayout->setContentsMargins(0, 0, 0, 0);
    thenLayout->setSpacing(8);
    actionPicker_ = new SegmentedPicker({{"slow", slowSegmentText(1)}, {"pause", "Pause it"}}, then);
    limitStepper_ = new Stepper(0.5, coresMax, 0.5, then);
    thenLayout->addWidget(actionPicker_);
    thenLayout->addWidget(limitStepper_);
    trigger->addRow(new SettingRow("Then", then));
    column->addWidget(trigger);
    connect(coresStepper_, &Stepper::valueChanged, this,
            [this](double v) { model_.setAutoTrigger(v, std::nullopt, std::nullopt); });
    connect(secondsStepper_, &Stepper::valueChanged, this,
            [this](double v) { model_.setAutoTrigger(std::nullopt, v, std::nullopt); });
    connect(limitStepper_, &Stepper::valueChanged, this,
            [this](double v) { model_.setAutoTrigger(std::nullopt, std::nullopt, v); });
    connect(actionPicker_, &SegmentedPicker::picked, this, [this](const std::string& tag) { model_.setAutoAction(tag); });

    pauseNote_ = note("\"Pause it\" freezes the app until you switch to it. Music, messages and downloads in that app "
                      "stop meanwhile, except while it is playing audio or keeping the computer awake. Command-line "
                      "work is always slowed, never paused.",
                      11, content);
    column->addWidget(pauseNote_);

    // The checkbox and the note under it dim together.
    commandLineGroup_ = new QWidget(content);
    auto* commandLineColumn = new QVBoxLayout(commandLineGroup_);
    commandLineColumn->setContentsMargins(0, 0, 0, 0);
    commandLineColumn->setSpacing(6);
    auto* commandLineRows = new RowGroup(commandLineGroup_);
    commandLineBox_ = new QCheckBox;
    commandLineBox_->setAccessibleName("Include command-line work");
    commandLineRows->addRow(new SettingRow("Include command-line work (builds, scripts)", commandLineBox_));
    commandLineColumn->addWidget(commandLineRows);
    commandLineColumn->addWidget(note("Off by default: builds and scripts are work you asked for. When on, Automatic "
                                      "may also hold back the programs a launcher such as node or a coding assistant "
                                      "started. The launcher itself is never paused.",
                                      11, commandLineGroup_));
    column->addWidget(commandLineGroup_);
    connect(commandLineBox_, &QCheckBox::clicked, this, [this](bool on) { model_.setAutoIncludeCommandLine(on); });

    for (QWidget* dimmed : {triggerGroup_, commandLineGroup_}) dimmed->setGraphicsEffect(new QGraphicsOpacityEffect(dimmed));

    auto* heading = new QLabel("Remembered decisions", content);
    heading->setFont(Theme::font(13, QFont::DemiBold));
    column->addSpacing(4);
    column->addWidget(heading);
    noDecisions_ = note("None yet. When Automatic asks about an app, \"Always limit\" and \"Never limit\" are "
                        "remembered here.",
                        12, content);
    column->addWidget(noDecisions_);
    decisionsHolder_ = new QWidget(content);
    auto* holderLayout = new QVBoxLayout(decisionsHolder_);
    holderLayout->setContentsMargins(0, 0, 0, 0);
    column->addWidget(decisionsHolder_);

    setWidget(content);
    refresh();
    connect(&model_, &AppModel::settingsChanged, this, &AutomaticView::refresh);
}

void AutomaticView::refresh() {
    const AppSettings& s = model_.settings();
    autoSwitch_->setChecked(s.autoEnabled);
    warning_->setVisible(s.autoEnabled && !s.masterEnabled);

    coresStepper_->setValue(s.autoTriggerCores);
    coresValue_->setText(numberText(s.autoTriggerCores));
    secondsStepper_->setValue(s.autoTriggerSeconds);
    secondsValue_->setText(numberText(s.autoTriggerSeconds));
    actionPicker_->setLabel("slow", slowSegmentText(s.autoLimitCores));
    actionPicker_->setSelected(s.autoAction);
    limitStepper_->setValue(s.autoLimitCores);
    limitStepper_->setVisible(s.autoAction == "slow");
    pauseNote_->setVisible(s.autoAction == "pause");
    commandLineBox_->setChecked(s.autoIncludeCommandLine);

    const double opacity = s.autoEnabled ? 1.0 : kDimmedOpacity;
    for (QWidget* dimmed : {triggerGroup_, commandLineGroup_}) {
        auto* effect = static_cast<QGraphicsOpacityEffect*>(dimmed->graphicsEffect());
        effect->setOpacity(opacity);
        // At full opacity the effect is off: it only costs, and drawing the
        // page into an image (render mode) misplaces what an effect covers.
        effect->setEnabled(opacity < 1.0);
    }

    if (!decisionsShown_ || shownDecisions_ != s.autoDecisions) rebuildDecisions();
}

void AutomaticView::rebuildDecisions() {
    const auto& decisions = model_.settings().autoDecisions;
    shownDecisions_ = decisions;
    decisionsShown_ = true;
    if (decisions_) {
        // Later: a Remove click may be what brought us here.
        decisions_->hide();
        decisions_->deleteLater();
        decisions_ = nullptr;
    }
    noDecisions_->setVisible(decisions.empty());
    if (decisions.empty()) return;

    decisions_ = new RowGroup(decisionsHolder_);
    bool first = true;
    for (const DecisionRow& d : sortedDecisions(decisions)) {
        if (!first) decisions_->addDivider();
        first = false;
        auto* row = new QWidget;
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 6, 0, 6);
        layout->setSpacing(8);
        layout->addWidget(new AppIconView(QString::fromStdString(d.path), 22, row));
        auto* name = new ElidedName(QString::fromStdString(escapeControls(d.record.name)), row);
        name->setObjectName("decisionName");
        layout->addWidget(name, 1);
        layout->addStretch(1);
        const bool always = d.record.decision == "always";
        auto* text = always ? new ToneLabel("Always limit", ThemeColor::cap, row) : new ToneLabel("Never limit", row);
        text->setFont(Theme::font(12));
        layout->addWidget(text);
        auto* remove = new QPushButton("Remove", row);
        remove->setFont(Theme::font(11));
        remove->setProperty("decisionPath", QString::fromStdString(d.path));
        layout->addWidget(remove);
        const std::string path = d.path;
        connect(remove, &QPushButton::clicked, this, [this, path] { model_.removeDecision(path); });
        decisions_->addRow(row);
    }
    decisionsHolder_->layout()->addWidget(decisions_);
}

QStringList AutomaticView::decisionNames() const {
    QStringList names;
    if (!decisions_) return names;
    for (const QLabel* label : decisions_->findChildren<QLabel*>("decisionName")) names << label->text();
    return names;
}

QAbstractButton* AutomaticView::removeButton(const std::string& path) const {
    if (!decisions_) return nullptr;
    for (QPushButton* b : decisions_->findChildren<QPushButton*>())
        if (b->property("decisionPath").toString().toStdString() == path) return b;
    return nullptr;
}

double AutomaticView::opacityOf(const QWidget* group) {
    const auto* effect = qobject_cast<const QGraphicsOpacityEffect*>(group->graphicsEffect());
    return effect ? effect->opacity() : 1.0;
}

}  // namespace trevlin::ui
