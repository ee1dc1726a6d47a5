#include "MenuPanel.h"

#include "AppIconView.h"
#include "CoreSplitBar.h"
#include "FooterButton.h"
#include "Legend.h"
#include "PanelTexts.h"
#include "Pill.h"
#include "QuestionRow.h"
#include "RowGroup.h"
#include "RulePill.h"
#include "Theme.h"
#include "ToggleSwitch.h"
#include "ToneLabel.h"
#include "Utf8.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace trevlin::ui {

namespace {

constexpr int kSideInset = 14;
constexpr int kPillWidth = 96;
constexpr int kRowIcon = 18;

QString qs(const std::string& s) { return QString::fromStdString(s); }

/// A block with the panel's side insets and the given vertical padding.
QVBoxLayout* block(QWidget* w, int top, int bottom, int spacing = 0) {
    auto* layout = new QVBoxLayout(w);
    layout->setContentsMargins(kSideInset, top, kSideInset, bottom);
    layout->setSpacing(spacing);
    return layout;
}

}  // namespace

MenuPanelView::MenuPanelView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    quit = [] { QCoreApplication::quit(); };
    setFixedWidth(kWidth);
    setFont(Theme::font(13));

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 4);
    column->setSpacing(0);

    // 1. The pending question.
    auto* questionBox = new QWidget(this);
    block(questionBox, 0, 0)->addWidget(question_ = new QuestionRow(questionBox));
    column->addWidget(questionBox);
    column->addWidget(questionDivider_ = new Divider(this));
    question_->hide();
    questionDivider_->hide();
    connect(question_, &QuestionRow::answered, this, [this](const AutoQuestion& q, AutoAnswer a) {
        const std::string path = q.path, name = q.name;
        model_.answer(path, name, a);
    });

    // 2. Header: the name, what limiting does, the main switch.
    auto* header = new QWidget(this);
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(kSideInset, 12, kSideInset, 12);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    title_ = new QLabel("Trevlin", header);
    title_->setFont(Theme::font(13, QFont::DemiBold));
    summary_ = new ToneLabel({}, header);
    summary_->setFont(Theme::font(11));
    // Where the desktop does not tell which app is in front, one line says so.
    frontNote_ = new ToneLabel({}, header);
    frontNote_->setFont(Theme::font(11));
    frontNote_->setWordWrap(true);
    frontNote_->hide();
    titles->addWidget(title_);
    titles->addWidget(summary_);
    titles->addWidget(frontNote_);
    headerRow->addLayout(titles, 1);
    masterSwitch_ = new ToggleSwitch("Limiting enabled", header);
    headerRow->addWidget(masterSwitch_, 0, Qt::AlignVCenter);
    connect(masterSwitch_, &ToggleSwitch::clicked, this, [this](bool on) { model_.setMaster(on); });
    column->addWidget(header);

    // 3. Load: the figure, the savings, the cores bar and its legend.
    load_ = new QWidget(this);
    auto* loadColumn = block(load_, 0, 12, 6);
    auto* figureRow = new QHBoxLayout;
    figureRow->setSpacing(5);
    loadFigure_ = new QLabel(load_);
    loadFigure_->setFont(Theme::monospaceFont(15, QFont::DemiBold));
    loadCaption_ = new ToneLabel({}, load_);
    figureRow->addWidget(loadFigure_, 0, Qt::AlignBaseline);
    figureRow->addWidget(loadCaption_, 0, Qt::AlignBaseline);
    figureRow->addStretch(1);
    loadColumn->addLayout(figureRow);
    savings_ = new ToneLabel({}, ThemeColor::saved, load_);
    savings_->setFont(Theme::font(12));
    savings_->setToolTip(PanelTexts::kSavingsTooltip);
    loadColumn->addWidget(savings_);
    bar_ = new CoreSplitBar(load_, 8);
    loadColumn->addWidget(bar_);
    legend_ = new Legend(load_);
    loadColumn->addWidget(legend_);
    column->addWidget(load_);
    column->addWidget(new Divider(this));

    // 4. The busiest apps.
    apps_ = new QWidget(this);
    appsLayout_ = block(apps_, 4, 4, 2);
    measuring_ = new ToneLabel("Measuring…", apps_);
    measuring_->setContentsMargins(0, 4, 0, 4);
    appsLayout_->addWidget(measuring_);
    column->addWidget(apps_);
    column->addWidget(new Divider(this));

    // 5. The Automatic switch and the footer.
    auto* bottom = new QWidget(this);
    auto* bottomColumn = new QVBoxLayout(bottom);
    bottomColumn->setContentsMargins(kSideInset - 6, 4, kSideInset - 6, 0);
    bottomColumn->setSpacing(0);
    auto* autoRow = new QHBoxLayout;
    autoRow->setContentsMargins(6, 4, 6, 4);
    autoRow->addWidget(new QLabel("Automatic mode", bottom));
    autoRow->addStretch(1);
    autoSwitch_ = new ToggleSwitch("Automatic mode", bottom);
    autoRow->addWidget(autoSwitch_);
    connect(autoSwitch_, &ToggleSwitch::clicked, this, [this](bool on) { model_.setAutoEnabled(on); });
    bottomColumn->addLayout(autoRow);
    open_ = new FooterButton("Open Trevlin…", {}, bottom);
    quitButton_ = new FooterButton("Quit", "restores every app", bottom);
    bottomColumn->addWidget(open_);
    bottomColumn->addWidget(quitButton_);
    connect(open_, &FooterButton::clicked, this, [this] {
        emit dismissRequested();
        if (openMainWindow) openMainWindow();
    });
    connect(quitButton_, &FooterButton::clicked, this, [this] {
        // Every held process is let go before the application ends.
        model_.shutdownEngine();
        if (quit) quit();
    });
    column->addWidget(bottom);

    for (auto signal : {&AppModel::snapshotChanged, &AppModel::savingsChanged, &AppModel::settingsChanged,
                        &AppModel::automaticChanged})
        connect(&model_, signal, this, &MenuPanelView::refresh);
    refresh();
}

QLabel* MenuPanelView::summaryLabel() const { return summary_; }
QLabel* MenuPanelView::frontNoteLabel() const { return frontNote_; }
QLabel* MenuPanelView::loadCaptionLabel() const { return loadCaption_; }
QLabel* MenuPanelView::savingsLabel() const { return savings_; }

std::vector<PillButton*> MenuPanelView::pillButtons() const {
    std::vector<PillButton*> pills;
    for (const auto& row : rows_) pills.push_back(row.pill);
    return pills;
}

std::vector<QString> MenuPanelView::rowNames() const {
    std::vector<QString> names;
    for (const auto& row : rows_) names.push_back(row.name->text());
    return names;
}

void MenuPanelView::refresh() {
    refreshQuestion();
    refreshHeader();
    refreshLoad();
    refreshApps();
}

void MenuPanelView::refreshQuestion() {
    const auto& questions = model_.pendingQuestions();
    const bool asking = !questions.empty();
    if (asking)
        question_->setQuestion(questions.front(), model_.settings().autoTriggerCores, model_.settings().autoAction);
    question_->setVisible(asking);
    questionDivider_->setVisible(asking);
}

void MenuPanelView::refreshHeader() {
    const AppSettings& s = model_.settings();
    summary_->setText(qs(PanelTexts::limitingSummary(s.masterEnabled, s.autoEnabled)));
    masterSwitch_->setChecked(s.masterEnabled);
    autoSwitch_->setChecked(s.autoEnabled);
}

void MenuPanelView::refreshLoad() {
    const auto& snapshot = model_.snapshot();
    const auto frontNote = model_.frontUnknownLine();
    frontNote_->setVisible(frontNote.has_value());
    if (frontNote) frontNote_->setText(qs(*frontNote));
    load_->setVisible(snapshot.has_value());
    if (!snapshot) return;
    const int cores = model_.systemInfo().logicalCores;
    loadFigure_->setText(qs(PanelTexts::loadFigure(snapshot->totalCores)));
    loadCaption_->setText(qs(PanelTexts::loadCaption(cores)));
    const auto savings = PanelTexts::savingsLine(model_.savings());
    savings_->setVisible(savings.has_value());
    if (savings) savings_->setText(qs(*savings));
    bar_->setValues(snapshot->pCores, snapshot->eCores, cores);
    legend_->setValues(snapshot->pCores, snapshot->eCores);
}

MenuPanelView::AppRow MenuPanelView::makeRow() {
    AppRow row;
    row.widget = new QWidget(apps_);
    auto* layout = new QHBoxLayout(row.widget);
    layout->setContentsMargins(0, 3, 0, 3);
    layout->setSpacing(8);
    row.icon = new AppIconView({}, kRowIcon, row.widget);
    row.name = new QLabel(row.widget);
    row.name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row.cores = new QLabel(row.widget);
    row.cores->setFont(Theme::monospaceFont(12));
    row.cores->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row.pill = new PillButton(kPillWidth, row.widget);
    layout->addWidget(row.icon);
    layout->addWidget(row.name, 1);
    layout->addWidget(row.cores);
    layout->addWidget(row.pill);
    // The row's current app, read at the click: rows are reused as the list changes.
    const size_t index = rows_.size();
    connect(row.pill, &PillButton::clicked, this, [this, index] {
        if (index >= rows_.size()) return;
        const std::string path = rows_[index].path;
        emit dismissRequested();
        model_.editRule(path);
    });
    return row;
}

void MenuPanelView::refreshApps() {
    const std::vector<AppUsage> apps = model_.topApps();
    measuring_->setVisible(apps.empty());
    while (rows_.size() < apps.size()) {
        rows_.push_back(makeRow());
        appsLayout_->addWidget(rows_.back().widget);
    }
    while (rows_.size() > apps.size()) {
        // Later: the click that led here may still be on its way out of this row.
        rows_.back().widget->hide();
        rows_.back().widget->deleteLater();
        rows_.pop_back();
    }
    for (size_t i = 0; i < apps.size(); ++i) {
        const AppUsage& app = apps[i];
        AppRow& row = rows_[i];
        row.path = app.bundlePath;
        row.displayName = app.name;
        row.icon->setPath(qs(app.bundlePath));
        row.cores->setText(qs(PanelTexts::appCores(app.cores)));
        row.pill->setPill(pill(model_, app.bundlePath));
        // The panel's width is fixed: the name gets what the other parts leave.
        const int room = kWidth - 2 * kSideInset - kRowIcon - row.pill->width() - row.cores->sizeHint().width() - 3 * 8;
        const std::string name = escapeControls(app.name);
        row.name->setText(row.name->fontMetrics().elidedText(qs(name), Qt::ElideRight, std::max(40, room)));
        row.name->setToolTip(qs(name));
        // Why the limiter holds nothing new, where it cannot write its journal.
        std::string pillTip = PanelTexts::editRuleTooltip(name);
        if (auto status = model_.liveStatus(app.bundlePath); status && !status->notHolding.empty())
            pillTip += "\n" + status->notHolding;
        row.pill->setToolTip(qs(pillTip));
        row.widget->show();
    }
}

// The popup ---------------------------------------------------------------------------

QPoint panelPosition(const QRect& anchor, const QSize& panel, const QRect& screen) {
    constexpr int kGap = 4;
    const bool above = anchor.center().y() > screen.center().y();
    int y = above ? anchor.top() - kGap - panel.height() : anchor.bottom() + 1 + kGap;
    int x = anchor.center().x() - panel.width() / 2;
    x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - panel.width()));
    y = std::clamp(y, screen.top(), std::max(screen.top(), screen.bottom() + 1 - panel.height()));
    return {x, y};
}

MenuPanel::MenuPanel(AppModel& model, QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint), model_(model), view_(new MenuPanelView(model, this)) {
    setWindowTitle("Trevlin");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->addWidget(view_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(view_, &MenuPanelView::dismissRequested, this, &QWidget::hide);
}

void MenuPanel::toggle(const QRect& anchor) {
    if (isVisible()) {
        hide();
        return;
    }
    // The click on the icon that closed the popup arrives right after it.
    if (QDateTime::currentMSecsSinceEpoch() - hiddenAt_ < 250) return;
    showAt(anchor);
}

void MenuPanel::showAt(const QRect& anchor) {
    view_->refresh();
    adjustSize();
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen) move(panelPosition(anchor, size(), screen->availableGeometry()));
    show();
    raise();
    activateWindow();
}

void MenuPanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_.setPanelVisible(true);
}

void MenuPanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    hiddenAt_ = QDateTime::currentMSecsSinceEpoch();
    model_.setPanelVisible(false);
}

void MenuPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    p.setPen(Theme::withOpacity(Theme::primary(palette()), 0.2));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace trevlin::ui
