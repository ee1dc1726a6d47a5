// The one object that ties the interface, the settings file and the engine
// together.
//
// It receives every monitor sample on the main thread, decides what the
// interface is shown and keeps the observable state that every view reads.
// Views read its state and call its operations; every change of an area is
// announced with that area's signal. The work behind the operations is done
// by three collaborators the model owns:
// - `SettingsModel`: the user's choices and settings.json; every change goes
//   through a setter that saves and announces it;
// - `EngineBridge`: stored rules and Automatic mode turned into the limiter's
//   rule set, Automatic mode's questions and the answers to them;
// - `SystemProcessesModel`: the system process rows and the privileged
//   helper's files.
//
// Threads: all state lives on the main thread. The limiter manager is only
// ever called on the "trevlin.engine" queue (posted in order; the model waits
// for it only at shut-down), the system process sampler only on the
// "trevlin.system" queue.
#pragma once

#include "AutoAnswer.h"
#include "AutoPolicy.h"
#include "EngineBridge.h"
#include "EngineContext.h"
#include "HelperClient.h"
#include "LimiterStatus.h"
#include "LoginItem.h"
#include "MonitorTypes.h"
#include "Notifier.h"
#include "Pill.h"
#include "Rule.h"
#include "SavingsLedger.h"
#include "Settings.h"
#include "SettingsModel.h"
#include "SystemInfo.h"
#include "SystemProcessesModel.h"
#include "SystemRows.h"

#include <QObject>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace trevlin {

class Monitor;

namespace testing {
class AppModelProbe;
}

/// The pages of the main window.
enum class Section { overview, apps, automatic, settings };

/// The series the history chart draws.
struct ChartData {
    std::vector<float> p;
    std::vector<float> e;
    std::vector<float> saved;
    /// A generated illustration rather than measurements.
    bool sample = false;
};

/// One app in a chart point's list of the busiest.
struct ChartPointApp {
    std::string name;
    double cores = 0;
    bool commandLine = false;
};

/// What the history held some seconds ago, for the chart's tooltip.
struct ChartPoint {
    int secondsAgo = 0;
    double p = 0;
    double e = 0;
    /// What the machine would have used without limits: the drawn
    /// would-have-used value (p + e + saved, at most the core count), present
    /// only where the saved figure is above 0.005, as the chart draws it.
    std::optional<double> wouldHaveUsed;
    /// The three busiest rows then.
    std::vector<ChartPointApp> apps;
};

/// How a model is made. The defaults are the running program's; tests point
/// the files elsewhere and drive the samples themselves.
struct AppModelOptions {
    bool renderMode = false;
    /// The engine's context; absent: the real Linux platform, with front-app
    /// observers run on Qt's main thread.
    std::shared_ptr<EngineContext> context;
    /// Where settings.json and savings.json live; empty: the per-user data
    /// folder of the platform.
    std::string dataDirectory;
    /// A private journal folder for the limiter manager; absent: the per-user
    /// data folder of the platform.
    std::optional<std::string> journalDirectory;
    /// False: the monitor takes its baselines but never ticks by itself;
    /// samples reach the model only through `receive`.
    bool monitorTimer = true;
    /// False: no notification server is asked anything; the status stays
    /// `unavailable`.
    bool notifications = true;
    /// Told of each call made into the limiter manager, from the first on.
    EngineCallObserver engineCallObserver;
};

class AppModel : public QObject {
    Q_OBJECT
public:
    explicit AppModel(AppModelOptions options = {}, QObject* parent = nullptr);
    /// Shuts the engine down if that has not happened yet.
    ~AppModel() override;
    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // Observable state ---------------------------------------------------------
    const std::string& labelText() const { return labelText_; }
    const std::optional<MonitorSnapshot>& snapshot() const { return snapshot_; }
    const MonitorHistory& history() const { return history_; }
    const ChartData& chartData() const { return chartData_; }
    int64_t statusTick() const { return statusTick_; }
    /// Read only: every choice changes through its setter below.
    const AppSettings& settings() const { return settings_->value(); }
    const std::map<std::string, Rule>& autoLimits() const { return engine_->autoLimits(); }
    const std::vector<AutoQuestion>& pendingQuestions() const { return engine_->pendingQuestions(); }
    NotificationStatus notificationStatus() const { return notificationStatus_; }
    LoginStatus loginStatus() const { return loginStatus_; }
    const std::optional<std::string>& loginError() const { return loginError_; }
    Section section() const { return section_; }
    void setSection(Section section);
    const SavingsSummary& savings() const { return savings_; }
    const std::vector<SystemRow>& systemRows() const { return system_->rows(); }
    SystemState systemState() const { return system_->state(); }
    const std::optional<std::string>& editingPath() const { return editingPath_; }
    /// Opens (a key) or closes (none) the rule editor, and nothing else.
    void setEditingPath(std::optional<std::string> path);
    const std::optional<HelperGroup>& editingSystemGroup() const { return editingSystemGroup_; }
    void setEditingSystemGroup(std::optional<HelperGroup> group);
    const HelperRules::RuleMap& helperRules() const { return system_->helperRules(); }
    const std::optional<HelperStatusFile>& helperStatus() const { return system_->helperStatus(); }
    HelperState helperState() const { return system_->helperState(); }
    const std::optional<std::string>& helperWriteError() const { return system_->helperWriteError(); }
    bool showBackgroundApps() const { return showBackgroundApps_; }
    void setShowBackgroundApps(bool on);
    bool renderMode() const { return renderMode_; }
    /// The machine the model measures (core counts for the panel's load).
    const SystemInfo& systemInfo() const { return systemInfo_; }
    // Render mode's pictures ----------------------------------------------------
    /// Shows this sample, chart and savings as if measured (render mode).
    void showRenderSample(const MonitorSnapshot& sample, ChartData chart, SavingsSummary savings);
    /// The status shown for a key instead of a limiter's (render mode); none
    /// removes it.
    void setPreviewStatus(const std::string& path, std::optional<LimiterStatus> status);
    /// Pictures of well-known apps with fixed figures rather than of this
    /// machine (render mode).
    void setRenderMarketing(bool on) { renderMarketing_ = on; }
    bool renderMarketing() const { return renderMarketing_; }
    /// The questions the panel shows (render mode).
    void showRenderQuestions(std::vector<AutoQuestion> questions) { engine_->showQuestions(std::move(questions)); }
    /// System limits on or off, with a sample breakdown and a running helper
    /// (render mode).
    void showRenderSystem(bool systemLimits, const SystemBreakdown& breakdown, HelperRules::RuleMap rules,
                          HelperStatusFile status);

    /// The latest monitor row of a key.
    std::optional<AppUsage> app(const std::string& path) const { return latestApp(path); }
    /// The history `secondsAgo` seconds back; absent beyond what is recorded.
    std::optional<ChartPoint> chartPoint(int secondsAgo) const;
    bool windowVisible() const { return windowVisible_; }
    bool panelVisible() const { return panelVisible_; }
    /// Whether the app shows in the task bar (true) or lives in the tray only.
    bool regularApplication() const { return settings().showInDock; }

    // Samples and what is shown -------------------------------------------------
    /// One monitor sample, on the main thread (the monitor's callback hops here).
    void receive(const MonitorSnapshot& sample);
    /// The views report whether the main window and the panel are on screen.
    void setWindowVisible(bool visible);
    void setPanelVisible(bool visible);
    /// The monitor runs lightweight exactly when nothing is on screen and
    /// Automatic mode is not active.
    void updateMonitorMode();

    std::string displayName(const std::string& path) const;
    /// The Apps page's rows of one kind, in the steady row order.
    std::vector<AppUsage> ordered(AppKind kind, bool showBackground) const;
    /// The panel's rows: at most 5 of the busiest that pass the visibility filter.
    std::vector<AppUsage> topApps() const;
    /// The limiter's live status while limiting is on.
    std::optional<LimiterStatus> status(const std::string& path) const;
    /// Whether the desktop tells which app is in front (as of the latest
    /// sample shown).
    bool frontAppKnown() const { return !snapshot_ || snapshot_->frontKnown; }
    /// While it does not: the one line the panel and the rule editor show,
    /// saying so and what it means (or how to fix it). Absent while it does.
    std::optional<std::string> frontUnknownLine() const;
    /// The same regardless of the main switch (for pills).
    std::optional<LimiterStatus> liveStatus(const std::string& path) const;

    // Rules and Automatic mode --------------------------------------------------
    RuleMode effectiveMode(const std::string& path) const { return engine_->effectiveMode(path); }
    /// The stored rule to show in the rule editor.
    StoredRule rule(const std::string& path) const { return engine_->rule(path); }
    /// The engine rule of an automatic limit, at `cores` (the setting when absent).
    Rule autoRule(const std::string& path, std::optional<double> cores = std::nullopt) const {
        return engine_->autoRule(path, cores);
    }
    AutoStance autoStance(const std::string& path) const { return engine_->autoStance(path); }
    /// Pushes the current rule map and main switch to the limiter manager.
    void syncEngine() { engine_->syncEngine(); }
    void runPolicy(const MonitorSnapshot& sample) { engine_->runPolicy(sample); }
    void answer(const std::string& path, const std::string& name, AutoAnswer answer) {
        engine_->answer(path, name, answer);
    }
    void removeDecision(const std::string& path) { engine_->removeDecision(path); }
    void setMaster(bool on);
    void setAutoEnabled(bool on);
    void setAutoTrigger(std::optional<double> cores, std::optional<double> seconds, std::optional<double> limit);
    void setAutoAction(const std::string& action);
    /// Lets Automatic mode consider command-line groups (the Automatic page).
    void setAutoIncludeCommandLine(bool on) {
        settings_->setAutoIncludeCommandLine(on);
        // Command-line work's effective mode follows this setting at once.
        engine_->syncEngine();
    }
    /// Stores (or, with none, removes) the user's rule for an app and applies it.
    void setStoredRule(const std::string& path, std::optional<StoredRule> rule) {
        engine_->setStoredRule(path, std::move(rule));
    }

    // Other switches ------------------------------------------------------------
    void setShowInDock(bool on);
    void setAppearance(const std::string& name);
    void setLaunchAtLogin(bool on);
    void refreshLoginStatus();
    void requestNotificationPermissionIfNeeded();
    /// Asks the notification server again (the Settings page, when shown).
    void refreshNotificationStatus();
    void showWelcomeIfFirstLaunch();
    /// Opens the rule editor for an app.
    void editRule(const std::string& path);
    /// The history chart's range (the Overview page).
    void setChartRangeMinutes(int minutes) { settings_->setChartRangeMinutes(minutes); }
    /// Shows or hides the system processes on the Apps page; sampling starts
    /// or stops at once.
    void setShowSystemProcesses(bool on);

    // The privileged helper -----------------------------------------------------
    bool systemLimitsEnabled() const { return system_->systemLimitsEnabled(); }
    void setHelperRule(HelperGroup group, std::optional<HelperRule> rule) {
        system_->setHelperRule(group, std::move(rule));
    }
    void refreshHelper() { system_->refreshHelper(); }
    /// Cores the helper saves for a group, while it runs and reports one.
    std::optional<double> helperSaved(HelperGroup group) const { return system_->helperSaved(group); }
    /// The pill of a helper group: its cap, or "Off".
    Pill helperPill(HelperGroup group) const;

    // Settings file -------------------------------------------------------------
    /// Saves 0.25 s after the last of a burst of changes. The setters do this
    /// themselves.
    void persist() { settings_->persist(); }
    /// Saves at once, dropping a save still pending.
    void saveNow() { settings_->saveNow(); }
    const std::string& dataDirectory() const { return settings_->dataDirectory(); }

    /// Stops the monitor, then lets go of every held process and waits until
    /// that is done. Safe to call more than once.
    void shutdownEngine();

signals:
    void labelChanged();
    void snapshotChanged();
    void historyChanged();
    void chartChanged();
    void statusTickChanged();
    void settingsChanged();
    /// `autoLimits` or `pendingQuestions` changed.
    void automaticChanged();
    void notificationStatusChanged();
    void loginChanged();
    void sectionChanged();
    void savingsChanged();
    void systemChanged();
    void helperChanged();
    void editingChanged();
    void showBackgroundAppsChanged();
    /// The task-bar presence changed (`regularApplication`).
    void dockPresenceChanged();
    /// The model wants the main window on screen (in front when `front`).
    void showMainWindowRequested(bool front);

private:
    friend class testing::AppModelProbe;

    void publish(const MonitorSnapshot& sample);
    void appendChart();
    void visibilityChanged(bool wasVisible);
    void updateSystemSampling();
    void applyNotificationCategory();
    void setNotificationStatus(NotificationStatus status);
    bool passesVisibilityFilter(const AppUsage& app) const;
    std::optional<AppUsage> latestApp(const std::string& path) const;
    /// The name the limiter is given for an app's rule.
    std::string engineName(const std::string& path) const;

    // Fixed at creation.
    std::map<std::string, LimiterStatus> previewStatuses_;
    std::optional<ChartData> renderChart_;
    bool renderMarketing_ = false;
    const bool renderMode_;
    const std::shared_ptr<EngineContext> context_;
    const std::string journalDirectory_;
    bool debugWindows_ = false;
    SystemInfo systemInfo_;

    // Observable state.
    std::string labelText_ = "0.0";
    std::optional<MonitorSnapshot> snapshot_;
    MonitorHistory history_;
    ChartData chartData_;
    int64_t statusTick_ = 0;
    NotificationStatus notificationStatus_ = NotificationStatus::checking;
    LoginStatus loginStatus_ = LoginStatus::unknown;
    std::optional<std::string> loginError_;
    Section section_ = Section::overview;
    SavingsSummary savings_;
    std::optional<std::string> editingPath_;
    std::optional<HelperGroup> editingSystemGroup_;
    bool showBackgroundApps_ = false;

    // Private state.
    std::optional<MonitorSnapshot> latest_;
    std::vector<std::string> order_;
    double lastSort_;
    double lastLabelUpdate_;
    std::map<std::string, std::string> nameCache_;
    bool windowVisible_ = false;
    bool panelVisible_ = false;
    bool windowJustShown_ = false;
    int64_t publishCount_ = 0;
    int64_t chartTick_ = 0;
    Notifier* notifier_ = nullptr;

    // The collaborators, made in this order and taken down in the opposite
    // one (see the destructor): the monitor, whose ticks post to the model,
    // is stopped before anything it reads goes.
    std::unique_ptr<SettingsModel> settings_;
    std::unique_ptr<Monitor> monitor_;
    std::unique_ptr<EngineBridge> engine_;
    std::unique_ptr<SystemProcessesModel> system_;
};

}  // namespace trevlin
