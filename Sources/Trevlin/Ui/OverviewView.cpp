#include "OverviewView.h"

#include "ChartPoints.h"
#include "HistoryChart.h"
#include "PaneTitle.h"
#include "Theme.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace trevlin::ui {

namespace {

constexpr int kRanges[] = {1, 5, 30};
constexpr double kTrackHeight = 54;

void setTone(QLabel* label, const QColor& color) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
}

/// A rounded card with a faint outline.
class Card : public QWidget {
public:
    explicit Card(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Theme::withOpacity(Theme::primary(palette()), 0.15), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
    }
};

QWidget* figure(const QString& number, const QString& label, const QColor& color, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* l = new QVBoxLayout(box);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(2);
    auto* n = new QLabel(number, box);
    n->setFont(Theme::monospaceFont(22, QFont::DemiBold));
    setTone(n, color);
    auto* t = new QLabel(label.toUpper(), box);
    QFont f = Theme::font(11);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    t->setFont(f);
    setTone(t, Theme::secondary(parent->palette()));
    l->addWidget(n);
    l->addWidget(t);
    return box;
}

QLabel* heading(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(Theme::font(13, QFont::DemiBold));
    return l;
}

/// The legend of the dashed line: a short dash and its meaning.
class DashLegend : public QWidget {
public:
    explicit DashLegend(QWidget* parent) : QWidget(parent) { setFixedHeight(14); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPen pen(Theme::color(ThemeColor::saved, palette()), 1.6);
        pen.setDashPattern({4 / 1.6, 3 / 1.6});
        p.setPen(pen);
        p.drawLine(QPointF(0, height() / 2.0), QPointF(16, height() / 2.0));
        p.setFont(Theme::font(11));
        p.setPen(Theme::secondary(palette()));
        p.drawText(QRectF(22, 0, width() - 22, height()), Qt::AlignLeft | Qt::AlignVCenter,
                   "Would have used without Trevlin (estimated)");
    }
};

}  // namespace

// Core bars ----------------------------------------------------------------------------------

CoreBars::CoreBars(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setFixedHeight(static_cast<int>(kTrackHeight) + 4 + 14);
    connect(&model_, &AppModel::snapshotChanged, this, qOverload<>(&QWidget::update));
}

std::vector<std::string> CoreBars::labels(const std::vector<CoreLoad>& loads) {
    std::vector<std::string> out;
    int perf = 0, eff = 0;
    for (const auto& c : loads)
        if (c.kind == CoreKind::performance) out.push_back("P" + std::to_string(++perf));
    for (const auto& c : loads)
        if (c.kind != CoreKind::performance) out.push_back("E" + std::to_string(++eff));
    return out;
}

void CoreBars::paintEvent(QPaintEvent*) {
    const auto& snap = model_.snapshot();
    if (!snap || snap->coreLoads.empty()) return;
    std::vector<CoreLoad> ordered;
    for (const auto& c : snap->coreLoads)
        if (c.kind == CoreKind::performance) ordered.push_back(c);
    for (const auto& c : snap->coreLoads)
        if (c.kind != CoreKind::performance) ordered.push_back(c);
    const auto names = labels(snap->coreLoads);

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double gap = 8;
    const double n = static_cast<double>(ordered.size());
    const double w = std::clamp((width() - gap * (n - 1)) / n, 6.0, 28.0);
    p.setFont(Theme::font(10));
    for (size_t i = 0; i < ordered.size(); ++i) {
        const double x = i * (w + gap);
        const QRectF track(x, 0, w, kTrackHeight);
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::track(palette()));
        p.drawRoundedRect(track, 4, 4);
        const double fill = std::clamp(ordered[i].load, 0.0, 1.0) * kTrackHeight;
        if (fill > 0.5) {
            QPainterPath clip;
            clip.addRoundedRect(track, 4, 4);
            p.save();
            p.setClipPath(clip);
            p.setBrush(Theme::color(ordered[i].kind == CoreKind::performance ? ThemeColor::perf : ThemeColor::eff,
                                    palette()));
            p.drawRect(QRectF(x, kTrackHeight - fill, w, fill));
            p.restore();
        }
        p.setPen(Theme::secondary(palette()));
        p.drawText(QRectF(x - 6, kTrackHeight + 4, w + 12, 14), Qt::AlignHCenter | Qt::AlignTop,
                   QString::fromStdString(names[i]));
    }
}

// Page ---------------------------------------------------------------------------------------

OverviewView::OverviewView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* content = new QWidget(scroll);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    outer->addWidget(scroll);

    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(22, 18, 22, 18);
    layout->setSpacing(14);
    const SystemInfo& info = model_.systemInfo();
    title_ = new PaneTitle(QString::fromStdString(info.chipName), content);
    layout->addWidget(title_);

    auto* cores = new Card(content);
    cores->setFixedHeight(64);
    auto* cl = new QHBoxLayout(cores);
    cl->setContentsMargins(14, 8, 14, 8);
    cl->setSpacing(36);
    cl->addWidget(figure(QString::number(info.logicalCores), "Cores", Theme::primary(palette()), cores));
    cl->addWidget(figure(QString::number(info.performanceCores), "Performance",
                         Theme::color(ThemeColor::perf, palette()), cores));
    cl->addWidget(figure(QString::number(info.efficiencyCores), "Efficiency",
                         Theme::color(ThemeColor::eff, palette()), cores));
    cl->addStretch(1);
    layout->addWidget(cores);

    auto* now = new Card(content);
    auto* nl = new QVBoxLayout(now);
    nl->setContentsMargins(14, 14, 14, 14);
    nl->setSpacing(10);
    auto* nowHead = new QHBoxLayout;
    nowHead->addWidget(heading("Right now, per core", now));
    nowHead->addStretch(1);
    nowText_ = new QLabel(now);
    nowText_->setFont(Theme::font(12));
    setTone(nowText_, Theme::secondary(palette()));
    nowHead->addWidget(nowText_);
    nl->addLayout(nowHead);
    nl->addWidget(new CoreBars(model_, now));
    layout->addWidget(now);

    auto* chartCard = new Card(content);
    auto* hl = new QVBoxLayout(chartCard);
    hl->setContentsMargins(14, 14, 14, 14);
    hl->setSpacing(4);
    auto* chartHead = new QHBoxLayout;
    chartHead->addWidget(heading("CPU over time", chartCard));
    chartHead->addStretch(1);
    ranges_ = new QButtonGroup(this);
    ranges_->setExclusive(true);
    chartHead->setSpacing(0);
    for (int minutes : kRanges) {
        auto* b = new QPushButton(QString("%1 min").arg(minutes), chartCard);
        b->setCheckable(true);
        b->setAccessibleName(QString("Range: %1 min").arg(minutes));
        b->setMinimumWidth(64);
        ranges_->addButton(b, minutes);
        chartHead->addWidget(b);
    }
    hl->addLayout(chartHead);
    hl->addSpacing(6);
    chart_ = new HistoryChart(model_, chartCard);
    chart_->setMinimumHeight(170);
    hl->addWidget(chart_, 1);
    caption_ = new QLabel(chartCard);
    caption_->setFont(Theme::font(10));
    hl->addWidget(caption_);
    hl->addWidget(new DashLegend(chartCard));
    layout->addWidget(chartCard, 1);

    savings_ = new QLabel(content);
    savings_->setFont(Theme::font(11));
    setTone(savings_, Theme::color(ThemeColor::saved, palette()));
    savings_->setToolTip(
        "Estimated: what limited apps would have used minus what they used. One core-hour is one core busy for one "
        "hour.");
    layout->addSpacing(-8);  // 6 points under the card
    layout->addWidget(savings_);

    connect(ranges_, &QButtonGroup::idClicked, this, [this](int minutes) { model_.setChartRangeMinutes(minutes); });
    connect(&model_, &AppModel::settingsChanged, this, &OverviewView::refresh);
    connect(&model_, &AppModel::snapshotChanged, this, &OverviewView::refresh);
    connect(&model_, &AppModel::chartChanged, this, &OverviewView::refresh);
    connect(&model_, &AppModel::savingsChanged, this, &OverviewView::refresh);
    refresh();
}

QAbstractButton* OverviewView::rangeButton(int minutes) const { return ranges_->button(minutes); }

void OverviewView::refresh() {
    int minutes = model_.settings().chartRangeMinutes;
    if (minutes != 1 && minutes != 5 && minutes != 30) minutes = 5;
    if (auto* b = ranges_->button(minutes)) b->setChecked(true);
    if (chart_->minutes() != minutes) chart_->setMinutes(minutes);

    const auto& snap = model_.snapshot();
    nowText_->setText(QString::asprintf("%.1f of %d cores", snap ? snap->totalCores : 0.0,
                                        model_.systemInfo().logicalCores));

    const ChartData& d = model_.chartData();
    const int samples = static_cast<int>(std::min(d.p.size(), d.e.size()));
    const std::string caption = chartCaption(samples, minutes, d.sample, model_.renderMarketing());
    caption_->setText(QString::fromStdString(caption));
    caption_->setVisible(!caption.empty());
    if (d.sample) {
        caption_->setFont(Theme::font(10, QFont::Medium));
        setTone(caption_, Theme::color(ThemeColor::cap, palette()));
    } else {
        setTone(caption_, Theme::secondary(palette()));
    }

    const SavingsSummary& s = model_.savings();
    savings_->setText(QString::asprintf("Saved today: %.1f core-h · last 7 days: %.1f core-h (estimated)",
                                        s.todayCoreHours, s.last7DaysCoreHours));
}

}  // namespace trevlin::ui
