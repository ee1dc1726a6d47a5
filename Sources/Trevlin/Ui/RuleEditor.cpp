#include "RuleEditor.h"

#include "AppIconView.h"
#include "AppKey.h"
#include "AutomaticViewControls.h"
#include "RuleEditorTexts.h"
#include "Theme.h"
#include "Utf8.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace trevlin::ui {

namespace {

constexpr Method kMethods[] = {Method::smart, Method::strict, Method::ecores, Method::pause};
constexpr RuleMode kModes[] = {RuleMode::off, RuleMode::automatic, RuleMode::custom};

QLabel* wrapped(const QString& text, int pixels, QWidget* parent, QFont::Weight weight = QFont::Normal) {
    auto* l = new QLabel(text, parent);
    l->setWordWrap(true);
    l->setFont(Theme::font(pixels, weight));
    l->setTextInteractionFlags(Qt::NoTextInteraction);
    return l;
}

void setTone(QLabel* label, const QColor& color) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
}

QLabel* caption(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text.toUpper(), parent);
    QFont f = Theme::font(11, QFont::Medium);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    l->setFont(f);
    setTone(l, Theme::secondary(parent->palette()));
    return l;
}

}  // namespace

// Option button -----------------------------------------------------------------------------

OptionButton::OptionButton(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void OptionButton::setTexts(const QString& title, const QString& detail) {
    title_ = title;
    detail_ = detail;
    setText(title);
    setAccessibleDescription(detail);
    updateGeometry();
    update();
}

int OptionButton::heightForWidth(int width) const {
    const double pad = boxed_ ? 10 : 3;
    const double textW = width - 26 - 2 * pad;
    QFontMetricsF tm(Theme::font(13, QFont::Medium)), dm(Theme::font(11));
    const QRectF d = dm.boundingRect(QRectF(0, 0, std::max(40.0, textW), 1000), Qt::TextWordWrap, detail_);
    return static_cast<int>(std::ceil(tm.height() + 2 + d.height() + 2 * pad));
}

QSize OptionButton::sizeHint() const { return {380, heightForWidth(380)}; }

void OptionButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QColor primary = Theme::primary(pal), secondary = Theme::secondary(pal);
    const double pad = boxed_ ? 10 : 3;
    if (boxed_) {
        p.setPen(QPen(Theme::withOpacity(primary, 0.15), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
    const double opacity = isEnabled() ? 1.0 : 0.45;
    // The selection mark: a ring, with a dot when chosen.
    const QRectF mark(pad, pad + 1, 16, 16);
    const QColor markColor = isChecked() ? Theme::color(ThemeColor::perf, pal) : secondary;
    p.setPen(QPen(Theme::withOpacity(markColor, opacity), 1.4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(mark.adjusted(1, 1, -1, -1));
    if (isChecked()) {
        p.setPen(Qt::NoPen);
        p.setBrush(markColor);
        p.drawEllipse(mark.center(), 4, 4);
    }
    const double x = pad + 26;
    const double w = width() - x - pad;
    QFont tf = Theme::font(13, QFont::Medium);
    QFontMetricsF tm(tf);
    p.setFont(tf);
    p.setPen(Theme::withOpacity(primary, opacity));
    p.drawText(QRectF(x, pad, w, tm.height()), Qt::AlignLeft | Qt::AlignVCenter, title_);
    p.setFont(Theme::font(11));
    p.setPen(Theme::withOpacity(secondary, opacity));
    p.drawText(QRectF(x, pad + tm.height() + 2, w, height()), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop,
               detail_);
}

// Editor ---------------------------------------------------------------------------------------

RuleEditor::RuleEditor(AppModel& model, std::string path, std::string name, QWidget* parent)
    : QDialog(parent), model_(model), path_(std::move(path)), name_(escapeControls(name)), group_(AppKey::isGroupKey(path_)) {
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QString::fromStdString(name_));
    setFixedWidth(kWidth);
    const QString shown = QString::fromStdString(name_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(12);

    // Header.
    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    auto* icon = new AppIconView(QString::fromStdString(path_), 32, this);
    header->addWidget(icon, 0, Qt::AlignTop);
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    names->addWidget(wrapped(shown, 15, this, QFont::DemiBold));
    if (group_) {
        const auto row = model_.app(path_);
        groupLine_ = wrapped(QString::fromStdString(groupHeaderLine(row ? row->detail : "")), 12, this);
        setTone(groupLine_, Theme::secondary(palette()));
        groupNote_ = wrapped(QString::fromStdString(groupHeaderNote(name_)), 11, this);
        names->addWidget(groupLine_);
        names->addWidget(groupNote_);
    }
    names->addStretch(1);
    header->addLayout(names, 1);
    layout->addLayout(header);

    // Mode picker: one capsule of three segments across the sheet.
    modes_ = new SegmentedPicker({{"0", "Off"}, {"1", "Automatic"}, {"2", "Custom"}}, this);
    modes_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    for (const char* id : {"0", "1", "2"})
        modes_->segment(id)->setAccessibleName("Rule: " + modes_->segment(id)->text());
    layout->addWidget(modes_);
    connect(modes_, &SegmentedPicker::picked, this, [this](const std::string& id) {
        write(withMode(model_.rule(path_), kModes[std::stoi(id)], model_.systemInfo().logicalCores));
    });

    modeText_ = wrapped("", 12, this);
    layout->addWidget(modeText_);

    // Custom section.
    custom_ = new QWidget(this);
    auto* cl = new QVBoxLayout(custom_);
    cl->setContentsMargins(0, 0, 0, 0);
    cl->setSpacing(8);

    sliderBox_ = new QWidget(custom_);
    auto* sl = new QVBoxLayout(sliderBox_);
    sl->setContentsMargins(0, 0, 0, 0);
    sl->setSpacing(2);
    auto* capRow = new QHBoxLayout;
    capCaption_ = caption("Maximum cores", custom_);
    capValue_ = new QLabel(custom_);
    capValue_->setFont(Theme::monospaceFont(13, QFont::DemiBold));
    capRow->addWidget(capCaption_);
    capRow->addStretch(1);
    capRow->addWidget(capValue_);
    sl->addLayout(capRow);
    slider_ = new QSlider(Qt::Horizontal, custom_);
    slider_->setAccessibleName("Maximum cores");
    slider_->setMinimum(1);  // steps of 0.5 core
    slider_->setMaximum(std::max(1, model_.systemInfo().logicalCores * 2));
    slider_->setPageStep(1);
    sl->addWidget(slider_);
    auto* ends = new QHBoxLayout;
    auto* low = new QLabel("0.5", custom_);
    sliderHigh_ = new QLabel(QString::number(model_.systemInfo().logicalCores), custom_);
    for (QLabel* l : {low, sliderHigh_}) {
        l->setFont(Theme::monospaceFont(10));
        setTone(l, Theme::secondary(palette()));
    }
    ends->addWidget(low);
    ends->addStretch(1);
    ends->addWidget(sliderHigh_);
    sl->addLayout(ends);
    cl->addWidget(sliderBox_);
    pauseCaption_ = caption("How to hold it back", custom_);
    cl->addWidget(pauseCaption_);
    connect(slider_, &QSlider::valueChanged, this, [this](int v) {
        if (refreshing_) return;
        StoredRule r = model_.rule(path_);
        r.maxCores = v * 0.5;
        write(r);
    });

    cl->addWidget(caption("When it goes over", custom_));
    methods_ = new QButtonGroup(this);
    methods_->setExclusive(true);
    for (int i = 0; i < 4; ++i) {
        const MethodWording w = methodWording(kMethods[i], group_);
        auto* b = new OptionButton(custom_);
        b->setTexts(QString::fromStdString(w.title), QString::fromStdString(w.detail));
        b->setEnabled(w.enabled);
        methods_->addButton(b, i);
        cl->addWidget(b);
    }
    connect(methods_, &QButtonGroup::idClicked, this, [this](int id) {
        StoredRule r = model_.rule(path_);
        r.method = rawValue(kMethods[id]);
        write(r);
    });

    efficiencyBox_ = new QCheckBox(group_ ? "Always keep these programs on efficiency cores"
                                          : "Always keep this app on efficiency cores",
                                   custom_);
    cl->addWidget(efficiencyBox_);
    auto* effNote = wrapped("Efficiency cores slow an app by an amount that varies with how busy they are. They are "
                            "not a precise cap.",
                            11, custom_);
    setTone(effNote, Theme::secondary(palette()));
    cl->addWidget(effNote);
    connect(efficiencyBox_, &QCheckBox::clicked, this, [this](bool on) {
        StoredRule r = model_.rule(path_);
        r.alwaysEfficiency = on;
        write(r);
    });

    pauseDetails_ = new QWidget(custom_);
    auto* pl = new QVBoxLayout(pauseDetails_);
    pl->setContentsMargins(0, 4, 0, 0);
    pl->setSpacing(6);
    catchUpBox_ = new QCheckBox("Let it catch up for a few seconds every 5 minutes", pauseDetails_);
    sparesBox_ = new QCheckBox("Don't pause it while it's playing audio or keeping the computer awake", pauseDetails_);
    pl->addWidget(catchUpBox_);
    pl->addWidget(sparesBox_);
    auto* sparesNote =
        wrapped("Silent audio counts as playing. Browsers' main processes are never paused, only their tabs.", 11,
                pauseDetails_);
    setTone(sparesNote, Theme::secondary(palette()));
    pl->addWidget(sparesNote);
    auto* note = wrapped("While " + shown +
                             " is in the background it will not:\n• play sound or video\n• receive messages or "
                             "notifications\n• sync, upload or download\n• finish exports or other work in "
                             "progress\nIt picks up where it left off when you switch to it.",
                         11, pauseDetails_);
    pl->addWidget(note);
    cl->addWidget(pauseDetails_);
    connect(catchUpBox_, &QCheckBox::clicked, this, [this](bool on) {
        StoredRule r = model_.rule(path_);
        r.pauseCatchUp = on;
        write(r);
    });
    connect(sparesBox_, &QCheckBox::clicked, this, [this](bool on) {
        StoredRule r = model_.rule(path_);
        r.pauseSparesBusy = on;
        write(r);
    });
    layout->addWidget(custom_);

    // Status block.
    // The status block belongs to the custom section.
    auto* status = new QVBoxLayout;
    status->setContentsMargins(0, 6, 0, 0);
    status->setSpacing(2);
    statusTitle_ = wrapped("", 12, custom_, QFont::Medium);
    statusDetail_ = wrapped("", 11, custom_);
    statusNote_ = wrapped("", 11, custom_);
    setTone(statusDetail_, Theme::secondary(palette()));
    setTone(statusNote_, Theme::color(ThemeColor::cap, palette()));
    status->addWidget(statusTitle_);
    status->addWidget(statusDetail_);
    status->addWidget(statusNote_);
    cl->addLayout(status);

    // Whatever the mode: while the desktop does not tell which app is in
    // front, the one line that says what that means for this rule.
    frontNote_ = wrapped("", 11, this);
    setTone(frontNote_, Theme::secondary(palette()));
    layout->addWidget(frontNote_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    done_ = new QPushButton("Done", this);
    done_->setDefault(true);
    done_->setAutoDefault(true);
    buttons->addWidget(done_);
    layout->addLayout(buttons);
    connect(done_, &QPushButton::clicked, this, &RuleEditor::finish);
    connect(this, &QDialog::rejected, this, [this] {
        if (onDone_) onDone_();
    });

    connect(&model_, &AppModel::settingsChanged, this, &RuleEditor::refresh);
    connect(&model_, &AppModel::statusTickChanged, this, &RuleEditor::refresh);
    connect(&model_, &AppModel::automaticChanged, this, &RuleEditor::refresh);
    refresh();
}

QAbstractButton* RuleEditor::modeButton(RuleMode mode) const {
    return modes_->segment(std::to_string(static_cast<int>(mode)));
}

OptionButton* RuleEditor::methodButton(Method method) const {
    for (int i = 0; i < 4; ++i)
        if (kMethods[i] == method) return static_cast<OptionButton*>(methods_->button(i));
    return nullptr;
}

void RuleEditor::write(StoredRule rule) { model_.setStoredRule(path_, rule); }

void RuleEditor::finish() {
    hide();
    if (onDone_) onDone_();
}

void RuleEditor::refresh() {
    refreshing_ = true;
    const StoredRule rule = model_.rule(path_);
    const AppSettings& settings = model_.settings();
    const Method method = methodFromRaw(rule.method).value_or(Method::smart);

    modes_->setSelected(std::to_string(static_cast<int>(rule.mode)));
    const bool custom = rule.mode == RuleMode::custom;
    modeText_->setVisible(!custom);
    modeText_->setText(QString::fromStdString(modeText(rule.mode, name_, group_, settings)));
    custom_->setVisible(custom);

    const bool pause = method == Method::pause;
    sliderBox_->setVisible(!pause);
    pauseCaption_->setVisible(pause);
    capValue_->setText(QString::fromStdString(capFigure(rule.maxCores)));
    slider_->setValue(static_cast<int>(std::lround(rule.maxCores * 2)));
    for (int i = 0; i < 4; ++i) methods_->button(i)->setChecked(kMethods[i] == method);
    efficiencyBox_->setChecked(rule.alwaysEfficiency);
    pauseDetails_->setVisible(pause);
    catchUpBox_->setChecked(rule.pauseCatchUp);
    sparesBox_->setChecked(rule.pauseSparesBusy);

    const StatusBlock block = statusBlock(model_.status(path_), settings.masterEnabled);
    statusTitle_->setText(QString::fromStdString(block.title));
    setTone(statusTitle_, block.savedTone ? Theme::color(ThemeColor::saved, palette()) : Theme::primary(palette()));
    statusDetail_->setText(QString::fromStdString(block.detail));
    statusDetail_->setVisible(!block.detail.empty());
    statusNote_->setText(QString::fromStdString(block.note));
    statusNote_->setVisible(!block.note.empty());
    const auto frontNote = model_.frontUnknownLine();
    frontNote_->setText(QString::fromStdString(frontNote.value_or("")));
    frontNote_->setVisible(frontNote.has_value());
    // The sheet keeps its width; its height follows the sections shown.
    if (QLayout* l = layout()) {
        l->activate();
        const int h = l->hasHeightForWidth() ? l->totalHeightForWidth(width()) : l->totalSizeHint().height();
        setFixedHeight(std::max(h, l->totalMinimumSize().height()));
    }
    refreshing_ = false;
}

}  // namespace trevlin::ui
