#include "Renderer.h"

#include "Appearance.h"
#include "RenderSamples.h"
#include "Ui/HistoryChart.h"
#include "Ui/MainWindow.h"
#include "Ui/MenuPanel.h"
#include "Ui/RuleEditor.h"
#include "Ui/SystemRuleEditor.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QImage>
#include <QLayout>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <unistd.h>

namespace trevlin::Renderer {

namespace {

/// The main window's pages; the Settings-like ones are a little shorter.
constexpr QSize kWindowPage{920, 620};
constexpr int kEditorWidth = ui::RuleEditor::kWidth;
constexpr int kPanelWidth = ui::MenuPanelView::kWidth;
/// Where the hover line of "overview-hover" stands.
constexpr int kHoverSecondsAgo = 110;
constexpr uint32_t kChartSeed = 20261210;

void runEventLoopFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void settle() {
    for (int i = 0; i < 4; ++i) QCoreApplication::processEvents();
}

/// Draws `widget` at `size` (a height of 0: its content's) into a PNG at a
/// device pixel ratio of 2.
bool draw(QWidget& widget, QSize size, const std::string& file) {
    widget.setAttribute(Qt::WA_DontShowOnScreen);
    widget.resize(size.width(), size.height() > 0 ? size.height() : widget.sizeHint().height());
    widget.show();
    settle();
    if (size.height() <= 0) {
        QLayout* layout = widget.layout();
        const int height = layout && layout->hasHeightForWidth() ? layout->totalHeightForWidth(size.width())
                                                                 : widget.sizeHint().height();
        widget.resize(size.width(), std::max(height, widget.minimumHeight()));
        settle();
    }
    QImage image(widget.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(widget.palette().color(QPalette::Window));
    widget.render(&image);
    widget.hide();
    return image.save(QString::fromStdString(file), "PNG");
}

/// The state every page starts from, and what each page changes.
class Scene {
public:
    Scene(AppModel& model, bool marketing) : model_(model), marketing_(marketing) {}

    /// Freezes the measured sample and lays the samples over it.
    void prepare() {
        const MonitorSnapshot live = *model_.snapshot();
        const SystemInfo& info = model_.systemInfo();
        MonitorSnapshot shown;
        SavingsSummary savings;
        if (marketing_) {
            auto m = RenderSamples::marketing(info.logicalCores);
            shown = m.snapshot;
            shown.coreLoads = live.coreLoads;
            // The cores as busy as the fixed figures say.
            for (auto& core : shown.coreLoads) core.load = std::min(1.0, shown.totalCores / info.logicalCores);
            model_.setRenderMarketing(true);
            shown.timestamp = live.timestamp;
            savings = m.savings;
            for (const auto& [key, rule] : m.rules) model_.setStoredRule(key, rule);
            for (const auto& status : m.statuses) model_.setPreviewStatus(status.appPath, status);
        } else {
            shown = RenderSamples::withSampleRows(live, info.logicalCores);
            savings.nowCores = 0.62;
            savings.nowByKey = {{RenderSamples::kLauncherKey, 0.62}};
            savings.todayCoreHours = 0.8;
            savings.last7DaysCoreHours = 4.6;
        }
        for (const auto& app : shown.apps)
            if (app.kind == AppKind::app && !app.bundlePath.empty()) {
                app_ = app;
                break;
            }
        model_.showRenderSample(shown, RenderSamples::chartIllustration(kChartSeed, info.logicalCores,
                                                                        info.efficiencyCores),
                                savings);

        // The sample group is held to a cap and says so.
        StoredRule groupRule;
        groupRule.mode = RuleMode::custom;
        groupRule.maxCores = 1.0;
        groupRule.method = "strict";
        model_.setStoredRule(RenderSamples::kLauncherKey, groupRule);
        LimiterStatus::DutyCycleFacts facts;
        facts.currentCores = 0.98;
        facts.processCount = 6;
        facts.candidateCount = 4;
        facts.fraction = 0.55;
        facts.unthrottledCores = 1.6;
        facts.savedCores = 0.62;
        model_.setPreviewStatus(RenderSamples::kLauncherKey,
                                LimiterStatus::dutyCycle(RenderSamples::kLauncherName, RenderSamples::kLauncherKey, 1.0,
                                                         Method::strict, facts));
        model_.setMaster(true);
        model_.setAutoEnabled(true);
        model_.setAutoAction("slow");
        model_.setShowSystemProcesses(false);
        model_.showRenderSystem(true, RenderSamples::systemBreakdown(live.timestamp), RenderSamples::helperRules(),
                                RenderSamples::helperStatus(live.timestamp));
    }

    /// What a page needs before it is drawn; then the widget to draw.
    std::unique_ptr<QWidget> build(const std::string& page) {
        model_.showRenderQuestions({});
        if (page == "menubar-panel") return std::make_unique<ui::MenuPanelView>(model_);
        if (page == "menubar-panel-prompt") {
            model_.showRenderQuestions({AutoQuestion{app_.bundlePath, app_.name, std::max(app_.cores, 2.3), 42}});
            return std::make_unique<ui::MenuPanelView>(model_);
        }
        if (page == "overview") return window(Section::overview);
        if (page == "overview-hover") {
            auto w = window(Section::overview);
            if (auto* chart = w->findChild<ui::HistoryChart*>()) chart->setFixedSecondsAgo(kHoverSecondsAgo);
            return w;
        }
        if (page == "apps") {
            model_.setShowSystemProcesses(false);
            return window(Section::apps);
        }
        if (page == "rule-editor") return appEditor("smart");
        if (page == "rule-editor-pause") return appEditor("pause");
        if (page == "rule-editor-cli")
            return std::make_unique<ui::RuleEditor>(model_, RenderSamples::kLauncherKey, RenderSamples::kLauncherName);
        if (page == "automatic") {
            model_.setAutoAction("slow");
            return window(Section::automatic);
        }
        if (page == "automatic-pause") {
            model_.setAutoAction("pause");
            auto w = window(Section::automatic);
            return w;
        }
        if (page == "system-rule" || page == "system-rule-off") {
            const bool on = page == "system-rule";
            model_.showRenderSystem(on, RenderSamples::systemBreakdown(now()), RenderSamples::helperRules(),
                                    RenderSamples::helperStatus(now()));
            return std::make_unique<ui::SystemRuleEditor>(model_, HelperGroup::spotlight);
        }
        if (page == "system-rule-apps") {
            model_.setShowSystemProcesses(true);
            model_.showRenderSystem(true, RenderSamples::systemBreakdown(now()), RenderSamples::helperRules(),
                                    RenderSamples::helperStatus(now()));
            return window(Section::apps);
        }
        if (page == "settings") return window(Section::settings);
        return nullptr;
    }

private:
    double now() const { return model_.snapshot() ? model_.snapshot()->timestamp : 0; }

    std::unique_ptr<QWidget> window(Section section) {
        model_.setSection(section);
        return std::make_unique<ui::MainWindow>(model_);
    }

    std::unique_ptr<QWidget> appEditor(const std::string& method) {
        StoredRule rule;
        rule.mode = RuleMode::custom;
        rule.maxCores = 1.5;
        rule.method = method;
        model_.setStoredRule(app_.bundlePath, rule);
        if (method == "pause") {
            LimiterStatus::PauseFacts f;
            f.state = PauseState::paused;
            f.processCount = std::max(app_.processCount, 1);
            f.stoppedCount = f.processCount;
            f.cappedEstimate = std::max(app_.cores, 0.4);
            model_.setPreviewStatus(app_.bundlePath, LimiterStatus::pause(app_.name, app_.bundlePath, 1.5, f));
        } else {
            LimiterStatus::DutyCycleFacts f;
            f.currentCores = std::min(std::max(app_.cores, 1.2), 1.49);
            f.processCount = std::max(app_.processCount, 1);
            f.candidateCount = f.processCount;
            f.fraction = 0.6;
            f.unthrottledCores = 2.2;
            f.savedCores = 0.7;
            model_.setPreviewStatus(app_.bundlePath,
                                    LimiterStatus::dutyCycle(app_.name, app_.bundlePath, 1.5, Method::smart, f));
        }
        return std::make_unique<ui::RuleEditor>(model_, app_.bundlePath, app_.name);
    }

    AppModel& model_;
    const bool marketing_;
    AppUsage app_ = RenderSamples::sampleAppRow();
};

}  // namespace

const std::vector<PageSize>& pages() {
    static const std::vector<PageSize> all = {
        {"menubar-panel", {kPanelWidth, 0}},
        {"menubar-panel-prompt", {kPanelWidth, 0}},
        {"overview", kWindowPage},
        {"overview-hover", {920, 600}},
        {"apps", kWindowPage},
        {"rule-editor", {kEditorWidth, 0}},
        {"rule-editor-pause", {kEditorWidth, 0}},
        {"rule-editor-cli", {kEditorWidth, 0}},
        {"automatic", kWindowPage},
        {"automatic-pause", {920, 640}},
        {"system-rule", {kEditorWidth, 0}},
        {"system-rule-off", {kEditorWidth, 0}},
        {"system-rule-apps", kWindowPage},
        {"settings", {920, 600}},
    };
    return all;
}

int run(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error || !std::filesystem::is_directory(dir) || ::access(dir.c_str(), W_OK) != 0) {
        std::fprintf(stderr, "cannot create %s\n", dir.c_str());
        return 1;
    }
    const char* only = std::getenv("TREVLIN_RENDER_ONLY");
    const char* marketingVariable = std::getenv("TREVLIN_RENDER_MARKETING");
    const bool marketing = marketingVariable && *marketingVariable;

    AppModelOptions options;
    options.renderMode = true;
    options.notifications = false;
    AppModel model(options);
    // Real samples first: the monitor runs as it always does.
    runEventLoopFor(5500);
    if (!model.snapshot()) {
        std::fputs("no monitor data\n", stderr);
        model.shutdownEngine();
        return 1;
    }
    // From here on the pictures show one moment.
    model.shutdownEngine();
    Scene scene(model, marketing);
    scene.prepare();

    for (const PageSize& page : pages()) {
        if (only && std::string(only) != page.name) continue;
        for (const char* appearance : {"light", "dark"}) {
            // The Settings page shows the appearance the picture is in.
            model.setAppearance(appearance);
            settle();
            const std::string file = dir + "/" + page.name + "-" + appearance + ".png";
            std::unique_ptr<QWidget> widget = scene.build(page.name);
            if (!widget || !draw(*widget, page.size, file)) {
                std::fprintf(stderr, "failed to render %s\n", file.c_str());
                return 1;
            }
        }
    }
    return 0;
}

}  // namespace trevlin::Renderer
