#include "AppModel.h"

#include "Appearance.h"
#include "Files.h"
#include "HelperEnvironment.h"
#include "LimiterManager.h"
#include "LoginItem.h"
#include "Log.h"
#include "Monitor.h"
#include "Notifier.h"
#include "LinuxPlatform.h"
#include "ProcessUtil.h"

#include <QApplication>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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
      dataDirectory_(options.dataDirectory.empty() ? context_->platform().dataDirectory() : options.dataDirectory),
      journalDirectory_(options.journalDirectory.value_or(context_->platform().dataDirectory())),
      recordEngineCalls_(options.recordEngineCalls),
      lastSort_(kDistantPast),
      lastLabelUpdate_(kDistantPast) {
    // 1-2. The machine, the monitor, the queues, the policy with its defaults.
    systemInfo_ = SystemInfo::read(context_->platform());
    monitor_ = std::make_unique<Monitor>(context_, systemInfo_);
    engineQueue_ = std::make_unique<SerialQueue>("trevlin.engine");
    policy_.config = AutoConfig();
    systemSampler_ = std::make_unique<SystemProcessSampler>(context_->platform());
    systemQueue_ = std::make_unique<SerialQueue>("trevlin.system");

    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(250);
    connect(&saveTimer_, &QTimer::timeout, this, [this] { saveNow(); });

    // 3. Debug output asked for by the environment.
    debugSystem_ = envSet("TREVLIN_DEBUG_SYSTEM");
    debugWindows_ = envSet("TREVLIN_DEBUG_WINDOWS");

    // 4-5. The settings, and the policy's thresholds from them.
    bool settingsFileExisted = true;
    if (!renderMode_) {
        LoadedSettings loaded = SettingsStore::load(dataDirectory_);
        settings_ = loaded.settings;
        settingsFileExisted = loaded.fileExists;
    }
    setAutoConfigFromSettings();

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
        for (const std::string& dir : {dataDirectory_, journalDirectory_}) Files::removeStaleTemporaryFiles(dir);
    monitor_->start(options.monitorTimer);

    // 8. Render mode owns no engine and touches no file.
    if (renderMode_) {
        refreshLoginStatus();
        return;
    }

    // 9. Rules handed to the privileged helper.
    if (systemLimitsEnabled()) {
        if (auto bytes = HelperRules::read(HelperEnvironment::productionRulesPath))
            helperRules_ = HelperRules::parse(*bytes, systemInfo_.logicalCores);
    }

    // 10. The limiter manager, its savings ledger and the saved series.
    limiter_ = std::make_unique<LimiterManager>(context_, journalDirectory_);
    limiter_->setEnabled(false);
    limiter_->ledger().enablePersistence(dataDirectory_ + "/savings.json");
    {
        LimiterManager* manager = limiter_.get();
        // The monitor stops before the manager goes (see the destructor).
        monitor_->setSavedProvider([manager] { return manager->ledger().currentSavedCores(); });
    }
    savings_ = limiter_->ledger().summary(context_->platform().wallClock());

    // 11. A complete file from the first launch on.
    if (!settingsFileExisted) saveNow();

    // 12. The engine follows the stored rules.
    syncEngine();

    // 13. Notifications.
    if (options.notifications) {
        notifier_ = new Notifier(QDBusConnection::sessionBus(), this);
        if (notifier_->available()) applyNotificationCategory();
        notifier_->onAnswer = [this](const std::string& path, const std::string& name, AutoAnswer a) {
            answer(path, name, a);
        };
        notifier_->refreshStatus([this](const std::string& status) { setNotificationStatus(status); });
    } else {
        setNotificationStatus("unavailable");
    }

    // 14. Open at login.
    refreshLoginStatus();
}

AppModel::~AppModel() {
    shutdownEngine();
    saveTimer_.stop();
    // The system queue's timer reads the monitor and the sampler: end it first.
    stopSystemSampling();
    systemQueue_.reset();
    monitor_.reset();
    engineQueue_.reset();
    limiter_.reset();
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
    runPolicy(sample);
}

void AppModel::publish(const MonitorSnapshot& sample) {
    if (limiter_) {
        savings_ = limiter_->ledger().summary(context_->platform().wallClock());
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
        chartData_ = ChartData{history_.systemP, history_.systemE, history_.saved, false};
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
    bool autoActive = settings_.autoEnabled && settings_.masterEnabled;
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

void AppModel::setShowSystemProcesses(bool on) {
    if (on == settings_.showSystemProcesses) return;
    settings_.showSystemProcesses = on;
    persist();
    emit settingsChanged();
    updateSystemSampling();
}

void AppModel::setChartRangeMinutes(int minutes) {
    if (minutes == settings_.chartRangeMinutes) return;
    settings_.chartRangeMinutes = minutes;
    persist();
    emit settingsChanged();
}

std::optional<ChartPoint> AppModel::chartPoint(int secondsAgo) const {
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
        point.apps.push_back({displayName(key), cores, key.rfind("cli:", 0) == 0});
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
    if (path.rfind("cli:", 0) == 0) return path == "cli:claude-code" ? "Claude Code" : path.substr(4);
    return deletingPathExtension(lastPathComponent(path));
}

bool AppModel::passesVisibilityFilter(const AppUsage& app) const {
    if (app.isUserFacing || app.cores > 0.2) return true;
    if (autoLimits_.count(app.bundlePath)) return true;
    auto stored = settings_.rules.find(app.bundlePath);
    return stored != settings_.rules.end() && stored->second.mode != RuleMode::off;
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

std::optional<LimiterStatus> AppModel::status(const std::string& path) const {
    if (!settings_.masterEnabled) return std::nullopt;
    return liveStatus(path);
}

std::optional<LimiterStatus> AppModel::liveStatus(const std::string& path) const {
    if (!limiter_) return std::nullopt;
    return limiter_->status(path);
}

std::optional<AppUsage> AppModel::latestApp(const std::string& path) const {
    if (!latest_) return std::nullopt;
    for (const auto& app : latest_->apps)
        if (app.bundlePath == path) return app;
    return std::nullopt;
}

// System processes ---------------------------------------------------------------------

void AppModel::updateSystemSampling() {
    bool appsShown = windowVisible_ && section_ == Section::apps;
    if (appsShown && systemLimitsEnabled()) refreshHelper();

    bool wanted = !renderMode_ && settings_.showSystemProcesses && appsShown;
    if (wanted && !systemSampling_) {
        startSystemSampling();
    } else if (!wanted && systemSampling_) {
        stopSystemSampling();
        systemRows_.clear();
        systemState_ = settings_.showSystemProcesses ? "measuring" : "off";
        emit systemChanged();
    } else if (!wanted && !settings_.showSystemProcesses && systemState_ != "off") {
        systemState_ = "off";
        systemRows_.clear();
        emit systemChanged();
    }
}

void AppModel::startSystemSampling() {
    systemSampling_ = true;
    uint64_t generation = ++systemGeneration_;
    systemState_ = "measuring";
    emit systemChanged();
    Monitor* monitor = monitor_.get();
    SystemProcessSampler* sampler = systemSampler_.get();
    const bool debug = debugSystem_;
    systemQueue_->startTimer(0.2, 5.0, [this, monitor, sampler, generation, debug] {
        // The machine's own clock: `ps` runs at most every 4.5 s of real time.
        double uptime = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        if (uptime - lastSystemRun_ < 4.5) return;
        lastSystemRun_ = uptime;
        std::set<Pid> excluded;
        for (Pid pid : monitor->countedPids()) excluded.insert(pid);
        excluded.insert(myPid(context_->platform()));
        std::optional<SystemBreakdown> result = sampler->sample(excluded, 4.0);
        if (debug) {
            char when[64];
            std::time_t t = std::time(nullptr);
            std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S +0000", std::gmtime(&t));
            logStderr("Trevlin system ps run #" + std::to_string(sampler->runs()) + " at " + when);
        }
        QMetaObject::invokeMethod(
            this,
            [this, result, generation] {
                if (systemSampling_ && generation == systemGeneration_) applySystemBreakdown(result);
            },
            Qt::QueuedConnection);
    });
}

void AppModel::stopSystemSampling() {
    if (!systemQueue_) return;
    systemSampling_ = false;
    ++systemGeneration_;
    systemQueue_->cancelTimer();
    SystemProcessSampler* sampler = systemSampler_.get();
    systemQueue_->async([this, sampler] {
        sampler->reset();
        lastSystemRun_ = -1e18;
    });
}

void AppModel::applySystemBreakdown(const std::optional<SystemBreakdown>& breakdown) {
    if (!breakdown) {
        systemRows_.clear();
        systemState_ = "failed";
        emit systemChanged();
        return;
    }
    if (breakdown->interval <= 0) return;  // the first run only lays the baseline
    // The rates cover at most 60 s, so the newest 60 points of "other" suffice.
    MonitorHistory other = monitor_->history(60, std::vector<std::string>{});
    std::optional<double> latestOther;
    if (latest_) latestOther = latest_->other.cores;
    systemRows_ = buildSystemRows(*breakdown, other.other, latestOther, systemLimitsEnabled(), AllowList::production());
    systemState_ = "ready";
    emit systemChanged();
    if (systemLimitsEnabled()) refreshHelper();
}

// The privileged helper ------------------------------------------------------------------

bool AppModel::systemLimitsEnabled() const {
    const char* env = std::getenv("TREVLIN_EXPERIMENTAL_SYSTEM");
    return settings_.experimentalSystemLimits || (env && std::string(env) == "1");
}

void AppModel::setHelperRule(HelperGroup group, std::optional<HelperRule> rule) {
    if (renderMode_ || !systemLimitsEnabled()) return;
    if (rule) helperRules_[group] = *rule;
    else helperRules_.erase(group);
    try {
        HelperClient::writeRules(helperRules_, HelperEnvironment::productionRulesPath);
        helperWriteError_.reset();
    } catch (const std::exception& e) {
        helperWriteError_ = helperState_ == HelperState::notInstalled
                                ? std::string("Helper not installed")
                                : "Couldn't write the rules file (" + std::string(e.what()) + ")";
    }
    emit helperChanged();
}

void AppModel::refreshHelper() {
    if (renderMode_ || !systemLimitsEnabled()) return;
    auto status = HelperClient::readStatus(HelperEnvironment::productionStatusPath);
    bool installed = HelperClient::binaryInstalled(HelperEnvironment::installedBinary);
    HelperState state = HelperClient::state(status, installed, context_->platform().wallClock());
    bool changed = status != helperStatus_ || state != helperState_;
    helperStatus_ = std::move(status);
    helperState_ = state;
    if (changed) emit helperChanged();
}

std::optional<double> AppModel::helperSaved(HelperGroup group) const {
    if (helperState_ != HelperState::running || !helperStatus_) return std::nullopt;
    const HelperGroupStatus* g = helperStatus_->group(group);
    if (!g) return std::nullopt;
    return g->savedCores;
}

Pill AppModel::helperPill(HelperGroup group) const {
    auto it = helperRules_.find(group);
    if (it == helperRules_.end()) return Pill{"Off", PillStyle::off, false};
    char text[64];
    std::snprintf(text, sizeof text, "%g cores", it->second.cores);
    std::string t = text;
    if (it->second.method == HelperMethod::ecores) t += " · E";
    return Pill{t, PillStyle::limited, false};
}

// Other switches ----------------------------------------------------------------------------

void AppModel::setShowInDock(bool on) {
    settings_.showInDock = on;
    persist();
    emit settingsChanged();
    if (renderMode_) return;
    emit dockPresenceChanged();
    Appearance::apply(settings_.appearance);
}

void AppModel::setAppearance(const std::string& name) {
    settings_.appearance = name;
    persist();
    emit settingsChanged();
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

void AppModel::setNotificationStatus(const std::string& status) {
    if (status == notificationStatus_) return;
    notificationStatus_ = status;
    emit notificationStatusChanged();
}

void AppModel::applyNotificationCategory() {
    if (notifier_) notifier_->registerCategory(settings_.autoLimitCores, settings_.autoAction == "pause");
}

void AppModel::requestNotificationPermissionIfNeeded() {
    if (!notifier_) return;
    notifier_->refreshStatus([this](const std::string& status) {
        setNotificationStatus(status);
        if (status == "not asked yet" && notifier_)
            notifier_->requestPermission([this](const std::string& s) { setNotificationStatus(s); });
    });
}

void AppModel::refreshNotificationStatus() {
    if (notifier_) notifier_->refreshStatus([this](const std::string& status) { setNotificationStatus(status); });
}

void AppModel::showWelcomeIfFirstLaunch() {
    if (renderMode_ || settings_.welcomeShown) return;
    settings_.welcomeShown = true;
    persist();
    emit settingsChanged();
    setSection(Section::overview);
    emit showMainWindowRequested(true);
}

// Settings file ---------------------------------------------------------------------------------

void AppModel::persist() {
    if (renderMode_) return;
    saveTimer_.start();  // restarts a pending save: one write after a burst
}

void AppModel::cancelPendingSave() { saveTimer_.stop(); }

bool AppModel::savePending() const { return saveTimer_.isActive(); }

void AppModel::saveNow() {
    if (renderMode_) return;
    SettingsStore::saveNow(settings_, dataDirectory_);
}

// Shut-down ---------------------------------------------------------------------------------------

void AppModel::shutdownEngine() {
    if (engineShutDown_) return;
    engineShutDown_ = true;
    monitor_->stop();
    if (limiter_) {
        LimiterManager* manager = limiter_.get();
        engineQueue_->sync([this, manager] {
            manager->shutdown();
            recordEngineCall("shutdown");
        });
    }
}

void AppModel::waitForEngine() {
    engineQueue_->sync([] {});
}

void AppModel::recordEngineCall(std::string call) {
    if (!recordEngineCalls_) return;
    std::lock_guard<std::mutex> g(engineCallsLock_);
    engineCalls_.push_back(std::move(call));
}

std::vector<std::string> AppModel::engineCalls() {
    std::lock_guard<std::mutex> g(engineCallsLock_);
    return engineCalls_;
}

void AppModel::clearEngineCalls() {
    std::lock_guard<std::mutex> g(engineCallsLock_);
    engineCalls_.clear();
}

}  // namespace trevlin
