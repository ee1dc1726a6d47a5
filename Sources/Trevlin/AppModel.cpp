#include "AppModel.h"

#include "AppKey.h"
#include "Appearance.h"
#include "Files.h"
#include "Journal.h"
#include "LimiterManager.h"
#include "LinuxPlatform.h"
#include "Log.h"
#include "Monitor.h"
#include "ProcessUtil.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <set>
#include <unordered_set>

namespace trevlin {

namespace {

/// "Long ago" for the 5-second rules: the first sample always counts.
constexpr double kDistantPast = -std::numeric_limits<double>::infinity();
/// Seconds between changes of the menu bar text and of the row order.
constexpr double kSteadySeconds = 5.0;
constexpr int kSparklinePoints = 300;
constexpr size_t kChartPoints = MonitorHistory::capacity;

bool envSet(const char* name) { return std::getenv(name) != nullptr; }

std::shared_ptr<EngineContext> contextFor(const AppModelOptions& options) {
    if (options.context) return options.context;
    return EngineContext::make(std::make_shared<LinuxPlatform>(), [](std::function<void()> work) {
        QMetaObject::invokeMethod(qApp, std::move(work), Qt::QueuedConnection);
    });
}

void keepNewest(std::vector<float>& series) {
    if (series.size() > kChartPoints) series.erase(series.begin(), series.end() - kChartPoints);
}

}  // namespace

AppModel::AppModel(AppModelOptions options, QObject* parent)
    : QObject(parent),
      renderMode_(options.renderMode),
      context_(contextFor(options)),
      journalDirectory_(options.journalDirectory.value_or(context_->platform().dataDirectory())),
      lastSort_(kDistantPast),
      lastLabelUpdate_(kDistantPast) {
    const std::string dataDirectory =
        options.dataDirectory.empty() ? context_->platform().dataDirectory() : options.dataDirectory;

    // 1-2. The machine and the monitor.
    systemInfo_ = SystemInfo::read(context_->platform());
    monitor_ = std::make_unique<Monitor>(context_, systemInfo_);

    // 3. Debug output asked for by the environment.
    debugWindows_ = envSet("TREVLIN_DEBUG_WINDOWS");

    // 4-5. The settings; the engine bridge takes Automatic mode's thresholds
    // from them.
    settings_ = std::make_unique<SettingsModel>(dataDirectory, renderMode_);
    engine_ = std::make_unique<EngineBridge>(
        context_, *settings_, [this](const std::string& path) { return engineName(path); },
        std::move(options.engineCallObserver));
    system_ = std::make_unique<SystemProcessesModel>(context_, *monitor_, *settings_, renderMode_, [this] {
        return latest_ ? std::optional<double>(latest_->other.cores) : std::nullopt;
    });
    connect(settings_.get(), &SettingsModel::changed, this, &AppModel::settingsChanged);
    connect(engine_.get(), &EngineBridge::automaticChanged, this, &AppModel::automaticChanged);
    connect(engine_.get(), &EngineBridge::asked, this, [this](const AutoQuestion& question) {
        if (notificationStatus_ == NotificationStatus::allowed && notifier_)
            notifier_->post(question, settings().autoTriggerCores);
    });
    connect(engine_.get(), &EngineBridge::withdrawn, this, [this](const std::string& path) {
        if (notifier_) notifier_->withdraw(path);
    });
    connect(system_.get(), &SystemProcessesModel::systemChanged, this, &AppModel::systemChanged);
    connect(system_.get(), &SystemProcessesModel::helperChanged, this, &AppModel::helperChanged);

    // 6. What the monitor lists.
    monitor_->setHiddenAppPaths({context_->platform().ownBundlePath()});
    if (const char* extra = std::getenv("TREVLIN_EXTRA_APPS")) {
        std::set<std::string> paths;
        std::string value = extra;
        size_t start = 0;
        while (start <= value.size()) {
            size_t end = value.find(':', start);
            if (end == std::string::npos) end = value.size();
            if (end > start) paths.insert(value.substr(start, end - start));
            start = end + 1;
        }
        monitor_->setExtraAppPaths(std::move(paths));
    }
    updateMonitorMode();

    // 7. Samples hop to the main thread; one that arrives after the model is
    // gone is dropped with the queued call.
    monitor_->setOnSnapshot([this](const MonitorSnapshot& sample) {
        QMetaObject::invokeMethod(this, [this, sample] { receive(sample); }, Qt::QueuedConnection);
    });
    // Processes an earlier run left stopped are resumed before anything is
    // sampled, so their figures are never those of a frozen process.
    if (!renderMode_) Journal::recoverOrphans(context_->platform(), journalDirectory_);
    if (!renderMode_)
        for (const std::string& dir : {dataDirectory, journalDirectory_}) Files::removeStaleTemporaryFiles(dir);
    monitor_->start(options.monitorTimer);

    // 8. Render mode owns no engine and touches no file.
    if (renderMode_) {
        refreshLoginStatus();
        return;
    }

    // 9. Rules handed to the privileged helper.
    system_->loadHelperRules(systemInfo_.logicalCores);

    // 10. The limiter manager, its savings ledger and the saved series.
    engine_->startLimiter(journalDirectory_, dataDirectory + "/savings.json");
    {
        LimiterManager* manager = engine_->limiter();
        // The monitor stops before the manager goes (see the destructor).
        monitor_->setSavedProvider([manager] { return manager->ledger().currentSavedCores(); });
        savings_ = manager->ledger().summary(context_->platform().wallClock());
    }

    // 11. A complete file from the first launch on.
    if (!settings_->fileExisted()) settings_->saveNow();

    // 12. The engine follows the stored rules.
    engine_->syncEngine();

    // 13. Notifications.
    if (options.notifications) {
        notifier_ = new Notifier(QDBusConnection::sessionBus(), this);
        if (notifier_->available()) applyNotificationCategory();
        notifier_->onAnswer = [this](const std::string& path, const std::string& name, AutoAnswer a) {
            answer(path, name, a);
        };
        notifier_->refreshStatus([this](NotificationStatus status) { setNotificationStatus(status); });
    } else {
        setNotificationStatus(NotificationStatus::unavailable);
    }

    // 14. Open at login.
    refreshLoginStatus();
}

AppModel::~AppModel() {
    shutdownEngine();
    // The system queue's timer reads the monitor: it ends first. The monitor
    // is stopped, so nothing reads the limiter's ledger any more.
    system_.reset();
    monitor_.reset();
    engine_.reset();
    settings_.reset();
}

// Samples -------------------------------------------------------------------------

void AppModel::receive(const MonitorSnapshot& sample) {
    latest_ = sample;

    char text[32];
    std::snprintf(text, sizeof text, "%.1f", sample.totalCores);
    double t = now(context_->platform());
    if (labelText_ != text && t - lastLabelUpdate_ >= kSteadySeconds) {
        labelText_ = text;
        lastLabelUpdate_ = t;
        emit labelChanged();
    }

    updateSystemSampling();
    if (renderMode_ || windowVisible_ || panelVisible_) publish(sample);
    engine_->runPolicy(sample);
}

void AppModel::publish(const MonitorSnapshot& sample) {
    if (LimiterManager* manager = engine_->limiter()) {
        savings_ = manager->ledger().summary(context_->platform().wallClock());
        emit savingsChanged();
    }
    snapshot_ = sample;
    for (const auto& app : sample.apps)
        if (!app.bundlePath.empty()) nameCache_[app.bundlePath] = app.name;
    emit snapshotChanged();

    if (renderMode_) {
        history_ = monitor_->history();
        emit historyChanged();
        ++statusTick_;
        emit statusTickChanged();
        chartData_ = renderChart_ ? *renderChart_ : ChartData{history_.systemP, history_.systemE, history_.saved, false};
        emit chartChanged();
    } else if (windowVisible_) {
        ++publishCount_;
        bool due = windowJustShown_ || publishCount_ % 2 == 0;
        if (due) {
            std::vector<std::string> keys;
            for (const auto& app : sample.apps) keys.push_back(app.bundlePath);
            history_ = monitor_->history(kSparklinePoints, keys);
            emit historyChanged();
            appendChart();
        }
        windowJustShown_ = false;
        ++statusTick_;
        emit statusTickChanged();
    }

    // Rows keep their order for 5 s; newcomers go to the end meanwhile.
    double t = now(context_->platform());
    if (t - lastSort_ < kSteadySeconds && !order_.empty()) {
        std::unordered_set<std::string> known(order_.begin(), order_.end());
        for (const auto& app : sample.apps)
            if (known.insert(app.bundlePath).second) order_.push_back(app.bundlePath);
    } else {
        order_.clear();
        for (const auto& app : sample.apps) order_.push_back(app.bundlePath);
        lastSort_ = t;
    }
}

void AppModel::appendChart() {
    SystemSamples fresh = monitor_->systemSamples(chartTick_, static_cast<int>(kChartPoints));
    int64_t passed = fresh.tick - chartTick_;
    if (static_cast<int64_t>(fresh.p.size()) < passed) {
        chartData_.p = fresh.p;
        chartData_.e = fresh.e;
        chartData_.saved = fresh.saved;
    } else {
        chartData_.p.insert(chartData_.p.end(), fresh.p.begin(), fresh.p.end());
        chartData_.e.insert(chartData_.e.end(), fresh.e.begin(), fresh.e.end());
        chartData_.saved.insert(chartData_.saved.end(), fresh.saved.begin(), fresh.saved.end());
    }
    keepNewest(chartData_.p);
    keepNewest(chartData_.e);
    keepNewest(chartData_.saved);
    chartData_.sample = false;
    chartTick_ = fresh.tick;
    emit chartChanged();
}

// Visibility -----------------------------------------------------------------------

void AppModel::setWindowVisible(bool visible) {
    if (visible == windowVisible_) return;
    bool wasVisible = windowVisible_ || panelVisible_;
    windowVisible_ = visible;
    if (visible) windowJustShown_ = true;
    visibilityChanged(wasVisible);
}

void AppModel::setPanelVisible(bool visible) {
    if (visible == panelVisible_) return;
    bool wasVisible = windowVisible_ || panelVisible_;
    panelVisible_ = visible;
    visibilityChanged(wasVisible);
}

void AppModel::visibilityChanged(bool wasVisible) {
    if (debugWindows_) {
        std::string line = "windows: [";
        bool first = true;
        if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (!first) line += ", ";
                first = false;
                line += std::string(w->metaObject()->className()) + " vis=" + (w->isVisible() ? "true" : "false") +
                        " w=" + std::to_string(w->width());
            }
        }
        line += std::string("] -> window=") + (windowVisible_ ? "true" : "false") +
                " panel=" + (panelVisible_ ? "true" : "false");
        logStderr(line);
    }
    updateMonitorMode();
    if (!wasVisible && (windowVisible_ || panelVisible_) && latest_) publish(*latest_);
    updateSystemSampling();
}

void AppModel::updateMonitorMode() {
    bool autoActive = settings().autoEnabled && settings().masterEnabled;
    monitor_->setLightweight(!renderMode_ && !windowVisible_ && !panelVisible_ && !autoActive);
}

void AppModel::setSection(Section section) {
    if (section == section_) return;
    section_ = section;
    emit sectionChanged();
    updateSystemSampling();
}

void AppModel::setEditingSystemGroup(std::optional<HelperGroup> group) {
    editingSystemGroup_ = group;
    emit editingChanged();
}

void AppModel::setShowBackgroundApps(bool on) {
    if (on == showBackgroundApps_) return;
    showBackgroundApps_ = on;
    emit showBackgroundAppsChanged();
}

void AppModel::setEditingPath(std::optional<std::string> path) {
    if (path == editingPath_) return;
    editingPath_ = std::move(path);
    emit editingChanged();
}

std::optional<ChartPoint> AppModel::chartPoint(int secondsAgo) const {
    if (renderMode_ && chartData_.sample) {
        // An illustration: its own figures, with the busiest rows shown now.
        const int n = static_cast<int>(chartData_.p.size());
        const int i = n - 1 - secondsAgo;
        if (secondsAgo < 0 || i < 0) return std::nullopt;
        ChartPoint point;
        point.secondsAgo = secondsAgo;
        point.p = chartData_.p[i];
        point.e = i < static_cast<int>(chartData_.e.size()) ? chartData_.e[i] : 0.0;
        const double saved = i < static_cast<int>(chartData_.saved.size()) ? chartData_.saved[i] : 0.0;
        if (saved > 0.005) point.wouldHaveUsed = std::min<double>(point.p + point.e + saved, systemInfo_.logicalCores);
        if (snapshot_) {
            double rows = 0;
            for (const auto& app : snapshot_->apps) rows += app.cores;
            const double scale = rows > 0 ? std::min(1.0, (point.p + point.e) / rows) : 0;
            for (const auto& app : snapshot_->apps) {
                if (point.apps.size() == 3 || app.cores < 0.05) break;
                point.apps.push_back({app.name, app.cores * scale, app.kind == AppKind::commandLine});
            }
        }
        return point;
    }
    auto h = monitor_->historyPoint(secondsAgo, 3);
    if (!h) return std::nullopt;
    ChartPoint point;
    point.secondsAgo = secondsAgo;
    point.p = h->p;
    point.e = h->e;
    // The same value the chart's dashed line draws at that time, so the
    // tooltip never disagrees with the line under the pointer.
    if (h->saved > 0.005f)
        point.wouldHaveUsed = std::min<double>(h->p + h->e + h->saved, systemInfo_.logicalCores);
    for (const auto& [key, cores] : h->apps)
        point.apps.push_back({displayName(key), cores, AppKey::isGroupKey(key)});
    return point;
}

void AppModel::editRule(const std::string& path) {
    setSection(Section::apps);
    editingPath_ = path;
    emit editingChanged();
    emit showMainWindowRequested(true);
}

// Rows and names ---------------------------------------------------------------------

std::string AppModel::displayName(const std::string& path) const {
    auto cached = nameCache_.find(path);
    if (cached != nameCache_.end()) return cached->second;
    if (snapshot_) {
        for (const auto& app : snapshot_->apps)
            if (app.bundlePath == path) return app.name;
    }
    return AppKey(path).displayName();
}

std::string AppModel::engineName(const std::string& path) const {
    // The name the app has in the latest sample; before one has been seen,
    // the name the interface would show.
    auto app = latestApp(path);
    return app ? app->name : displayName(path);
}

bool AppModel::passesVisibilityFilter(const AppUsage& app) const {
    if (app.isUserFacing || app.cores > 0.2) return true;
    if (autoLimits().count(app.bundlePath)) return true;
    auto stored = settings().rules.find(app.bundlePath);
    return stored != settings().rules.end() && stored->second.mode != RuleMode::off;
}

std::vector<AppUsage> AppModel::ordered(AppKind kind, bool showBackground) const {
    std::vector<AppUsage> rows;
    if (!snapshot_) return rows;
    std::map<std::string, const AppUsage*> byKey;
    for (const auto& app : snapshot_->apps) byKey.emplace(app.bundlePath, &app);
    for (const auto& key : order_) {
        auto it = byKey.find(key);
        if (it == byKey.end()) continue;
        const AppUsage& app = *it->second;
        if (app.kind != kind) continue;
        if (!showBackground && !passesVisibilityFilter(app)) continue;
        rows.push_back(app);
    }
    return rows;
}

std::vector<AppUsage> AppModel::topApps() const {
    std::vector<AppUsage> rows;
    if (!snapshot_) return rows;
    for (const auto& app : snapshot_->apps) {
        if (rows.size() == 5) break;
        if (passesVisibilityFilter(app)) rows.push_back(app);
    }
    return rows;
}

std::optional<LimiterStatus> AppModel::liveStatus(const std::string& path) const {
    if (renderMode_) {
        auto it = previewStatuses_.find(path);
        return it == previewStatuses_.end() ? std::nullopt : std::optional<LimiterStatus>(it->second);
    }
    return engine_->status(path);
}

void AppModel::showRenderSample(const MonitorSnapshot& sample, ChartData chart, SavingsSummary savings) {
    savings_ = std::move(savings);
    emit savingsChanged();
    snapshot_ = sample;
    latest_ = sample;
    order_.clear();
    for (const auto& app : sample.apps) {
        order_.push_back(app.bundlePath);
        nameCache_[app.bundlePath] = app.name;
    }
    emit snapshotChanged();
    history_ = monitor_->history();
    emit historyChanged();
    renderChart_ = chart;
    chartData_ = std::move(chart);
    emit chartChanged();
    ++statusTick_;
    emit statusTickChanged();
}

void AppModel::setPreviewStatus(const std::string& path, std::optional<LimiterStatus> status) {
    if (status) previewStatuses_[path] = *status;
    else previewStatuses_.erase(path);
    ++statusTick_;
    emit statusTickChanged();
}

void AppModel::showRenderSystem(bool systemLimits, const SystemBreakdown& breakdown, HelperRules::RuleMap rules,
                                HelperStatusFile status) {
    settings_->setExperimentalSystemLimits(systemLimits);
    system_->showSample(breakdown, std::move(rules), std::move(status));
}

std::optional<LimiterStatus> AppModel::status(const std::string& path) const {
    if (!settings().masterEnabled) return std::nullopt;
    return liveStatus(path);
}

std::optional<std::string> AppModel::frontUnknownLine() const {
    if (frontAppKnown()) return std::nullopt;
    if (context_->front().unknownReason() == kFrontGnomeExtensionReason)
        return std::string("To see which app is in front, enable the Trevlin extension in GNOME's Extensions app.");
    return std::string("This desktop doesn't tell which app is in front, so nothing counts as in the background.");
}

std::optional<AppUsage> AppModel::latestApp(const std::string& path) const {
    if (!latest_) return std::nullopt;
    for (const auto& app : latest_->apps)
        if (app.bundlePath == path) return app;
    return std::nullopt;
}

// System processes ---------------------------------------------------------------------

void AppModel::updateSystemSampling() { system_->update(windowVisible_ && section_ == Section::apps); }

void AppModel::setShowSystemProcesses(bool on) {
    settings_->setShowSystemProcesses(on);
    updateSystemSampling();
}

// Rules and Automatic mode's switches ------------------------------------------------------

void AppModel::setMaster(bool on) {
    engine_->setMaster(on);
    updateMonitorMode();
    if (on) requestNotificationPermissionIfNeeded();
}

void AppModel::setAutoEnabled(bool on) {
    engine_->setAutoEnabled(on);
    updateMonitorMode();
    if (on) requestNotificationPermissionIfNeeded();
}

void AppModel::setAutoTrigger(std::optional<double> cores, std::optional<double> seconds,
                              std::optional<double> limit) {
    engine_->setAutoTrigger(cores, seconds, limit);
    // The notification's first button names the cap.
    if (limit) applyNotificationCategory();
}

void AppModel::setAutoAction(const std::string& action) {
    if (engine_->setAutoAction(action)) applyNotificationCategory();
}

Pill AppModel::helperPill(HelperGroup group) const {
    const auto& rules = helperRules();
    auto it = rules.find(group);
    if (it == rules.end()) return Pill{"Off", PillStyle::off, false};
    char text[64];
    std::snprintf(text, sizeof text, "%g cores", it->second.cores);
    std::string t = text;
    if (it->second.method == HelperMethod::ecores) t += " · E";
    return Pill{t, PillStyle::limited, false};
}

// Other switches ----------------------------------------------------------------------------

void AppModel::setShowInDock(bool on) {
    settings_->setShowInDock(on);
    if (renderMode_) return;
    emit dockPresenceChanged();
    Appearance::apply(settings().appearance);
}

void AppModel::setAppearance(const std::string& name) {
    settings_->setAppearance(name);
    Appearance::apply(name);
}

void AppModel::setLaunchAtLogin(bool on) {
    if (renderMode_) return;
    loginError_.reset();
    std::string error;
    if (!LoginItem::setEnabled(on, &error)) loginError_ = error;
    refreshLoginStatus();
}

void AppModel::refreshLoginStatus() {
    loginStatus_ = LoginItem::status();
    emit loginChanged();
}

void AppModel::setNotificationStatus(NotificationStatus status) {
    if (status == notificationStatus_) return;
    notificationStatus_ = status;
    emit notificationStatusChanged();
}

void AppModel::applyNotificationCategory() {
    if (notifier_) notifier_->registerCategory(settings().autoLimitCores, settings().autoAction == "pause");
}

void AppModel::requestNotificationPermissionIfNeeded() {
    if (!notifier_) return;
    notifier_->refreshStatus([this](NotificationStatus status) {
        setNotificationStatus(status);
        if (status == NotificationStatus::notAskedYet && notifier_)
            notifier_->requestPermission([this](NotificationStatus s) { setNotificationStatus(s); });
    });
}

void AppModel::refreshNotificationStatus() {
    if (notifier_) notifier_->refreshStatus([this](NotificationStatus status) { setNotificationStatus(status); });
}

void AppModel::showWelcomeIfFirstLaunch() {
    if (renderMode_ || settings().welcomeShown) return;
    settings_->setWelcomeShown();
    setSection(Section::overview);
    emit showMainWindowRequested(true);
}

// Shut-down ---------------------------------------------------------------------------------------

void AppModel::shutdownEngine() {
    if (engine_->isShutDown()) return;
    monitor_->stop();
    engine_->shutdown();
}

}  // namespace trevlin
