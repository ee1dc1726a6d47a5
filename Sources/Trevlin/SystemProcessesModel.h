// The system process breakdown of the Apps page and the privileged helper's
// files, for the app model.
//
// System processes are read from /proc on the "trevlin.system" queue, at
// most every 4.5 s, only while the Apps page is on screen with system
// processes shown; the results become the page's rows. With system limits
// enabled, the rules handed to the privileged helper are written to its
// rules file and its status file is read while the Apps page shows.
//
// Main thread, except the sampling itself, which runs on the system queue.
#pragma once

#include "EngineContext.h"
#include "HelperClient.h"
#include "SerialQueue.h"
#include "SystemProcesses.h"
#include "SystemRows.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace trevlin {

class Monitor;
class SettingsModel;

/// Where the breakdown stands.
enum class SystemState {
    /// System processes are not to be shown.
    off,
    /// Waiting for the first rates: sampling has just started, or is paused
    /// while the Apps page is not on screen.
    measuring,
    /// `rows` hold the latest breakdown.
    ready,
    /// The last pass could not read the process list.
    failed,
};

/// "off", "measuring", "ready", "failed".
const char* text(SystemState state);

class SystemProcessesModel : public QObject {
    Q_OBJECT
public:
    /// The latest sample's "Other / system" cores, if there is a sample.
    using OtherCores = std::function<std::optional<double>()>;

    /// `monitor` and `settings` must outlive the model.
    SystemProcessesModel(std::shared_ptr<EngineContext> context, Monitor& monitor, const SettingsModel& settings,
                         bool renderMode, OtherCores otherCores, QObject* parent = nullptr);
    /// Ends the sampling before the monitor it reads can go.
    ~SystemProcessesModel() override;
    SystemProcessesModel(const SystemProcessesModel&) = delete;
    SystemProcessesModel& operator=(const SystemProcessesModel&) = delete;

    const std::vector<SystemRow>& rows() const { return rows_; }
    SystemState state() const { return state_; }

    /// Starts, keeps or stops sampling after anything it depends on changed:
    /// it runs while `appsShown` (the main window on the Apps page) and
    /// system processes are to be shown. While the Apps page shows, the
    /// helper's status is read again.
    void update(bool appsShown);

    // The privileged helper ---------------------------------------------------------
    /// The setting, or TREVLIN_EXPERIMENTAL_SYSTEM=1 in the environment.
    bool systemLimitsEnabled() const;
    /// Reads the rules file once at start (with system limits enabled);
    /// `logicalCores` bounds the caps read.
    void loadHelperRules(int logicalCores);
    const HelperRules::RuleMap& helperRules() const { return helperRules_; }
    const std::optional<HelperStatusFile>& helperStatus() const { return helperStatus_; }
    HelperState helperState() const { return helperState_; }
    const std::optional<std::string>& helperWriteError() const { return helperWriteError_; }
    void setHelperRule(HelperGroup group, std::optional<HelperRule> rule);
    void refreshHelper();
    /// Cores the helper saves for a group, while it runs and reports one.
    std::optional<double> helperSaved(HelperGroup group) const;

    /// Render mode's pictures: a breakdown as if sampled (no process is read)
    /// and a helper that runs these rules and reports this status (no file
    /// is read or written).
    void showSample(const SystemBreakdown& breakdown, HelperRules::RuleMap rules, HelperStatusFile status);

signals:
    /// `rows` or `state` changed.
    void systemChanged();
    void helperChanged();

private:
    void start();
    void stop();
    void apply(const std::optional<SystemBreakdown>& breakdown);

    const std::shared_ptr<EngineContext> context_;
    Monitor& monitor_;
    const SettingsModel& settings_;
    const bool renderMode_;
    const OtherCores otherCores_;
    const bool debug_;

    std::vector<SystemRow> rows_;
    SystemState state_ = SystemState::off;

    HelperRules::RuleMap helperRules_;
    std::optional<HelperStatusFile> helperStatus_;
    HelperState helperState_ = HelperState::notInstalled;
    std::optional<std::string> helperWriteError_;

    // The timer runs on `queue_`; results are applied only while the
    // sampling that asked for them still runs.
    bool sampling_ = false;
    uint64_t generation_ = 0;
    double lastRun_ = -1e18;  ///< touched on the system queue only

    // Destroyed in reverse order: the queue ends before the sampler it uses.
    std::unique_ptr<SystemProcessSampler> sampler_;
    std::unique_ptr<SerialQueue> queue_;
};

}  // namespace trevlin
