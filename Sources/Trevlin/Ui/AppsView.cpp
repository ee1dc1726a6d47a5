#include "AppsView.h"

#include "AppIconView.h"
#include "AppsTexts.h"
#include "PaneTitle.h"
#include "RuleEditor.h"
#include "RulePill.h"
#include "Sparkline.h"
#include "SystemRuleEditor.h"
#include "Theme.h"
#include "Utf8.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace trevlin::ui {

namespace {

constexpr double kSpacing = 8;
constexpr double kRowHeight = 34;        // 6 points above and below a 22-point line
constexpr double kDetailRowHeight = 42;  // a name with the group's detail under it
constexpr double kIconSize = 20;
constexpr double kIconGap = 9;
constexpr int kRenderRows = 9;
constexpr int kRenderRowsWithSystem = 6;

const char* kSystemTip =
    "Break \"Other / system\" down into the processes using CPU. Reads them from /proc every 5 seconds while "
    "this page is open.";
const char* kSavingTip = "Estimated cores being kept away from this app right now (1.0 = one core fully busy)";

AppsRow rowOf(AppsRow::Kind kind) {
    AppsRow r;
    r.kind = kind;
    return r;
}

QString fixed2(double v) { return QString::asprintf("%.2f", v); }

/// The column header: upper-cased labels over the table's columns.
class AppsHeader : public QWidget {
public:
    explicit AppsHeader(QWidget* parent) : QWidget(parent) { setFixedHeight(22); }

protected:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::ToolTip) {
            auto* help = static_cast<QHelpEvent*>(e);
            const AppsColumns c = AppsColumns::of(width());
            if (help->pos().x() >= c.saving[0] && help->pos().x() < c.saving[1])
                QToolTip::showText(help->globalPos(), kSavingTip, this);
            else
                QToolTip::hideText();
            return true;
        }
        return QWidget::event(e);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QFont f = Theme::font(11, QFont::Medium);
        f.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
        p.setFont(f);
        p.setPen(Theme::secondary(palette()));
        const AppsColumns c = AppsColumns::of(width());
        auto put = [&](const double* col, const char* text, Qt::Alignment align) {
            p.drawText(QRectF(col[0], 0, col[1] - col[0], height()), align | Qt::AlignVCenter,
                       QString(text).toUpper());
        };
        put(c.app, "App", Qt::AlignLeft);
        put(c.total, "Total", Qt::AlignRight);
        put(c.perf, "Performance", Qt::AlignRight);
        put(c.eff, "Efficiency", Qt::AlignRight);
        put(c.saving, "Saving now", Qt::AlignRight);
        put(c.last, "Last 5 min", Qt::AlignHCenter);
        put(c.rule, "Rule", Qt::AlignHCenter);
    }
};

}  // namespace

AppsColumns AppsColumns::of(double width) {
    AppsColumns c;
    double x = width;
    auto take = [&](double* col, double w) {
        col[1] = x;
        col[0] = x - w;
        x = col[0] - kSpacing;
    };
    take(c.rule, 104);
    take(c.last, 80);
    take(c.saving, 84);
    take(c.eff, 76);
    take(c.perf, 92);
    take(c.total, 60);
    c.app[0] = 0;
    c.app[1] = std::max(0.0, x);
    return c;
}

// Table ------------------------------------------------------------------------------------

AppsTable::AppsTable(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setMouseTracking(false);
    rebuild();
}

QSize AppsTable::sizeHint() const { return {600, static_cast<int>(contentHeight_)}; }

void AppsTable::rebuild() {
    rows_.clear();
    const auto& settings = model_.settings();
    const bool showSystem = settings.showSystemProcesses;
    const auto& savings = model_.savings();
    const auto& history = model_.history();

    auto appRow = [&](const AppUsage& a) {
        AppsRow r;
        r.kind = AppsRow::Kind::app;
        r.key = a.bundlePath;
        r.name = a.name;
        r.detail = a.kind == AppKind::commandLine ? a.detail : "";
        r.front = a.isFrontmost;
        r.cores = a.cores;
        r.pCores = a.pCores;
        r.eCores = a.eCores;
        auto saved = savings.nowByKey.find(a.bundlePath);
        r.saving = savedFigure(saved == savings.nowByKey.end() ? 0.0 : saved->second);
        auto series = history.apps.find(a.bundlePath);
        if (series != history.apps.end()) r.spark = series->second;
        r.pill = pill(model_, a.bundlePath);
        r.showPill = true;
        rows_.push_back(std::move(r));
        rows_.push_back(rowOf(AppsRow::Kind::divider));
    };

    auto apps = model_.ordered(AppKind::app, model_.showBackgroundApps());
    if (model_.renderMode()) {
        const size_t cut = showSystem ? kRenderRowsWithSystem : kRenderRows;
        if (apps.size() > cut) apps.resize(cut);
    }
    for (const auto& a : apps) appRow(a);

    const auto groups = model_.ordered(AppKind::commandLine, model_.showBackgroundApps());
    if (!groups.empty()) {
        AppsRow heading = rowOf(AppsRow::Kind::heading);
        heading.name = "COMMAND LINE";
        rows_.push_back(heading);
        rows_.push_back(rowOf(AppsRow::Kind::divider));
        for (const auto& a : groups) appRow(a);
    }

    if (showSystem) {
        if (const auto& snap = model_.snapshot()) {
            AppsRow other = rowOf(AppsRow::Kind::other);
            other.name = snap->other.name.empty() ? "Other / system" : snap->other.name;
            other.cores = snap->other.cores;
            other.pCores = snap->other.pCores;
            other.eCores = snap->other.eCores;
            rows_.push_back(other);
            rows_.push_back(rowOf(AppsRow::Kind::divider));
        }
        const bool limits = model_.systemLimitsEnabled();
        std::vector<HelperGroup> seen;
        for (const auto& s : model_.systemRows()) {
            AppsRow r = rowOf(AppsRow::Kind::system);
            r.key = s.id;
            r.name = s.name;
            r.cores = s.cores;
            if (s.group && limits) {
                r.group = s.group;
                r.showPill = true;
                r.pill = model_.helperPill(*s.group);
                // The group's savings go on its first row only.
                if (std::find(seen.begin(), seen.end(), *s.group) == seen.end()) {
                    seen.push_back(*s.group);
                    r.saving = savedFigure(model_.helperSaved(*s.group).value_or(0.0), " now");
                }
            }
            rows_.push_back(std::move(r));
        }
        if (model_.systemRows().empty()) {
            AppsRow status = rowOf(AppsRow::Kind::status);
            status.name = systemStatusLine(model_.systemState());
            rows_.push_back(status);
        }
    }

    double y = 0;
    for (auto& r : rows_) {
        r.y = y;
        switch (r.kind) {
        case AppsRow::Kind::divider: r.height = 1; break;
        case AppsRow::Kind::heading: r.height = 28; break;
        case AppsRow::Kind::status: r.height = 30; break;
        case AppsRow::Kind::system: r.height = 28; break;
        default: r.height = r.detail.empty() ? kRowHeight : kDetailRowHeight;
        }
        y += r.height;
    }
    contentHeight_ = y + 8;
    setMinimumHeight(static_cast<int>(contentHeight_));
    updateGeometry();
    update();
}

std::optional<QPoint> AppsTable::rowCentre(const std::string& key) const {
    for (const auto& r : rows_) {
        const bool hit = key.empty() ? r.kind == AppsRow::Kind::other : (r.key == key);
        if (hit) return QPoint(width() / 3, static_cast<int>(r.y + r.height / 2));
    }
    return std::nullopt;
}

void AppsTable::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QColor primary = Theme::primary(pal), secondary = Theme::secondary(pal);
    const AppsColumns c = AppsColumns::of(width());
    const auto& editing = model_.editingPath();
    const QFont figures = Theme::monospaceFont(13);

    auto cell = [&](const double* col, const AppsRow& r, const QString& text, const QColor& color,
                    const QFont& font, Qt::Alignment align = Qt::AlignRight) {
        p.setFont(font);
        p.setPen(color);
        p.drawText(QRectF(col[0], r.y, col[1] - col[0], r.height), align | Qt::AlignVCenter, text);
    };

    for (const auto& r : rows_) {
        const QRectF rowRect(0, r.y, width(), r.height);
        switch (r.kind) {
        case AppsRow::Kind::divider:
            p.fillRect(QRectF(0, r.y, width(), 1), Theme::withOpacity(primary, 0.1));
            continue;
        case AppsRow::Kind::heading: {
            QFont f = Theme::font(11, QFont::Medium);
            f.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
            p.setFont(f);
            p.setPen(secondary);
            p.drawText(rowRect.adjusted(0, 8, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                       QString::fromStdString(escapeControls(r.name)));
            continue;
        }
        case AppsRow::Kind::status:
            p.setFont(Theme::font(11));
            p.setPen(secondary);
            p.drawText(rowRect.adjusted(kIconSize + kIconGap, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                       QString::fromStdString(r.name));
            continue;
        default: break;
        }

        if (r.kind == AppsRow::Kind::app && editing && *editing == r.key)
            p.fillRect(rowRect, Theme::withOpacity(primary, 0.08));

        // App cell: icon and name (system rows line up with the names).
        const double nameX = c.app[0] + kIconSize + kIconGap;
        if (r.kind != AppsRow::Kind::system) {
            const QString iconPath = r.kind == AppsRow::Kind::other ? QString() : QString::fromStdString(r.key);
            AppIconView::paintIcon(p, iconPath,
                                   QRectF(c.app[0], r.y + (r.height - kIconSize) / 2, kIconSize, kIconSize), pal);
        }
        const QFont nameFont = Theme::font(13, r.kind == AppsRow::Kind::system ? QFont::Normal : QFont::Medium);
        p.setFont(nameFont);
        QFontMetricsF nm(nameFont);
        double nameW = c.app[1] - nameX;
        QString tag;
        if (r.front) tag = "front";
        QFont tagFont = Theme::font(10);
        const double tagW = tag.isEmpty() ? 0 : QFontMetricsF(tagFont).horizontalAdvance(tag) + 6;
        const QString name = nm.elidedText(QString::fromStdString(escapeControls(r.name)), Qt::ElideRight, nameW - tagW);
        const double nameY = r.detail.empty() ? r.y : r.y - 7;
        p.setPen(primary);
        p.drawText(QRectF(nameX, nameY, nameW, r.height), Qt::AlignLeft | Qt::AlignVCenter, name);
        if (!tag.isEmpty()) {
            p.setFont(tagFont);
            p.setPen(secondary);
            p.drawText(QRectF(nameX + nm.horizontalAdvance(name) + 6, nameY, tagW, r.height),
                       Qt::AlignLeft | Qt::AlignVCenter, tag);
        }
        if (!r.detail.empty()) {
            QFont df = Theme::font(11);
            p.setFont(df);
            p.setPen(secondary);
            p.drawText(QRectF(nameX, r.y + 8, nameW, r.height), Qt::AlignLeft | Qt::AlignVCenter,
                       QFontMetricsF(df).elidedText(QString::fromStdString(escapeControls(r.detail)), Qt::ElideRight, nameW));
        }

        cell(c.total, r, fixed2(r.cores), primary, figures);
        if (r.kind == AppsRow::Kind::system) {
            cell(c.perf, r, "-", secondary, figures);
            cell(c.eff, r, "-", secondary, figures);
        } else {
            cell(c.perf, r, fixed2(r.pCores), Theme::color(ThemeColor::perf, pal), figures);
            cell(c.eff, r, fixed2(r.eCores), Theme::color(ThemeColor::eff, pal), figures);
        }
        if (r.kind == AppsRow::Kind::app) {
            if (r.saving)
                cell(c.saving, r, QString::fromStdString(*r.saving), Theme::color(ThemeColor::saved, pal), figures);
            else
                cell(c.saving, r, "-", secondary, figures);
            const SparklineShape shape =
                sparklineShape(r.spark, Sparkline::kWidth, Sparkline::kHeight);
            p.save();
            p.translate(c.last[0], r.y + (r.height - Sparkline::kHeight) / 2);
            QPen pen(secondary, 1.3);
            pen.setCapStyle(Qt::RoundCap);
            pen.setJoinStyle(Qt::RoundJoin);
            p.setPen(pen);
            if (!shape.line.empty()) {
                QPainterPath path(shape.line.front());
                for (size_t i = 1; i < shape.line.size(); ++i) path.lineTo(shape.line[i]);
                p.drawPath(path);
            }
            p.drawLine(shape.baseline);
            p.restore();
        } else if (r.kind == AppsRow::Kind::system && r.group) {
            if (r.saving)
                cell(c.saving, r, QString::fromStdString(*r.saving), Theme::color(ThemeColor::saved, pal),
                     Theme::font(12));
            else if (r.showPill)
                cell(c.saving, r, "-", secondary, figures);
        }
        if (r.showPill)
            RulePill::paintPill(p, QRectF(c.rule[0], r.y, c.rule[1] - c.rule[0], r.height),
                                QString::fromStdString(r.pill.text), r.pill.style, r.pill.dimmed, false, pal);
    }
}

void AppsTable::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const QPointF at = event->position();
    const AppsColumns c = AppsColumns::of(width());
    for (const auto& r : rows_) {
        if (at.y() < r.y || at.y() >= r.y + r.height) continue;
        if (r.kind == AppsRow::Kind::app) {
            model_.setEditingPath(r.key);
        } else if (r.kind == AppsRow::Kind::system && r.group && at.x() >= c.rule[0]) {
            model_.setEditingSystemGroup(r.group);
        }
        // "Other / system" and the rest do not react.
        return;
    }
}

bool AppsTable::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        QToolTip::hideText();
        e->ignore();
        return true;
    }
    return QWidget::event(e);
}

// Page ---------------------------------------------------------------------------------------

AppsView::AppsView(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(22, 18, 22, 18);
    layout->setSpacing(10);

    auto* titleBar = new QHBoxLayout;
    titleBar->addWidget(new PaneTitle("Apps", this));
    titleBar->addStretch(1);
    systemBox_ = new QCheckBox("Show system processes", this);
    systemBox_->setFont(Theme::font(12));
    systemBox_->setToolTip(kSystemTip);
    backgroundBox_ = new QCheckBox("Show background apps", this);
    backgroundBox_->setFont(Theme::font(12));
    titleBar->addWidget(systemBox_);
    titleBar->addSpacing(12);
    titleBar->addWidget(backgroundBox_);
    layout->addLayout(titleBar);

    auto* header = new AppsHeader(this);
    layout->addWidget(header);
    layout->addSpacing(-6);
    auto* line = new QWidget(this);
    line->setFixedHeight(1);
    line->setAutoFillBackground(true);
    QPalette lp = line->palette();
    lp.setColor(QPalette::Window, Theme::withOpacity(Theme::primary(palette()), 0.15));
    line->setPalette(lp);
    layout->addWidget(line);

    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table_ = new AppsTable(model_, scroll_);
    scroll_->setWidget(table_);
    scroll_->viewport()->setAutoFillBackground(false);
    table_->setAutoFillBackground(false);
    layout->addWidget(scroll_, 1);

    systemBox_->setChecked(model_.settings().showSystemProcesses);
    backgroundBox_->setChecked(model_.showBackgroundApps());
    connect(systemBox_, &QCheckBox::toggled, this, [this](bool on) { model_.setShowSystemProcesses(on); });
    connect(backgroundBox_, &QCheckBox::toggled, this, [this](bool on) { model_.setShowBackgroundApps(on); });

    auto rebuild = [this] { table_->rebuild(); };
    connect(&model_, &AppModel::snapshotChanged, table_, rebuild);
    connect(&model_, &AppModel::savingsChanged, table_, rebuild);
    connect(&model_, &AppModel::systemChanged, table_, rebuild);
    connect(&model_, &AppModel::helperChanged, table_, rebuild);
    connect(&model_, &AppModel::statusTickChanged, table_, rebuild);
    connect(&model_, &AppModel::automaticChanged, table_, rebuild);
    connect(&model_, &AppModel::showBackgroundAppsChanged, this, [this] {
        backgroundBox_->setChecked(model_.showBackgroundApps());
        table_->rebuild();
    });
    connect(&model_, &AppModel::settingsChanged, this, [this] {
        systemBox_->setChecked(model_.settings().showSystemProcesses);
        table_->rebuild();
    });
    connect(&model_, &AppModel::editingChanged, this, &AppsView::editingChanged);
}

AppsView::~AppsView() = default;

void AppsView::editingChanged() {
    table_->update();
    // The rule editor follows the model's editing key.
    const auto& path = model_.editingPath();
    if (path && (!ruleEditor_ || ruleEditor_->path() != *path)) {
        if (ruleEditor_) ruleEditor_->deleteLater();
        ruleEditor_ = new RuleEditor(model_, *path, model_.displayName(*path), window());
        ruleEditor_->setOnDone([this] { model_.setEditingPath(std::nullopt); });
        ruleEditor_->open();
    } else if (!path && ruleEditor_) {
        ruleEditor_->hide();
        ruleEditor_->deleteLater();
        ruleEditor_ = nullptr;
    }
    const auto& group = model_.editingSystemGroup();
    if (group && (!systemEditor_ || systemEditor_->group() != *group)) {
        if (systemEditor_) systemEditor_->deleteLater();
        systemEditor_ = new SystemRuleEditor(model_, *group, window());
        systemEditor_->setOnDone([this] { model_.setEditingSystemGroup(std::nullopt); });
        systemEditor_->open();
    } else if (!group && systemEditor_) {
        systemEditor_->hide();
        systemEditor_->deleteLater();
        systemEditor_ = nullptr;
    }
}

}  // namespace trevlin::ui
