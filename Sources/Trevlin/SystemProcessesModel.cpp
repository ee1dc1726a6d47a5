#include "SystemProcessesModel.h"

#include "AllowList.h"
#include "HelperEnvironment.h"
#include "Log.h"
#include "Monitor.h"
#include "ProcessUtil.h"
#include "SettingsModel.h"

#include <QMetaObject>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <set>

namespace trevlin {

namespace {

/// Seconds from the start of sampling to the first run, and between the
/// runs of the queue's timer.
constexpr double kFirstRunSeconds = 0.2;
constexpr double kRunIntervalSeconds = 5.0;
/// The processes are read at most this often, in seconds of real time, whatever the timer does.
constexpr double kMinimumRunSpacing = 4.5;
/// How long one pass over the processes may take.
constexpr double kSampleTimeoutSeconds = 4.0;
/// The rates cover at most 60 s, so the newest 60 points of "other" suffice.
constexpr int kOtherHistoryPoints = 60;

}  // namespace

const char* text(SystemState state) {
    switch (state) {
        case SystemState::off: return "off";
        case SystemState::measuring: return "measuring";
        case SystemState::ready: return "ready";
        case SystemState::failed: return "failed";
    }
    return "off";
}

SystemProcessesModel::SystemProcessesModel(std::shared_ptr<EngineContext> context, Monitor& monitor,
                                           const SettingsModel& settings, bool renderMode, OtherCores otherCores,
                                           QObject* parent)
    : QObject(parent),
      context_(std::move(context)),
      monitor_(monitor),
      settings_(settings),
      renderMode_(renderMode),
      otherCores_(std::move(otherCores)),
      debug_(std::getenv("TREVLIN_DEBUG_SYSTEM") != nullptr),
      sampler_(std::make_unique<SystemProcessSampler>(context_->platform())),
      queue_(std::make_unique<SerialQueue>("trevlin.system")) {}

SystemProcessesModel::~SystemProcessesModel() {
    stop();
    queue_.reset();
}

// Sampling -------------------------------------------------------------------------

void SystemProcessesModel::update(bool appsShown) {
    if (appsShown && systemLimitsEnabled()) refreshHelper();

    const bool shown = settings_.value().showSystemProcesses;
    const bool wanted = !renderMode_ && shown && appsShown;
    if (wanted && !sampling_) {
        start();
    } else if (!wanted && sampling_) {
        stop();
        rows_.clear();
        state_ = shown ? SystemState::measuring : SystemState::off;
        emit systemChanged();
    } else if (!wanted && !shown && state_ != SystemState::off) {
        state_ = SystemState::off;
        rows_.clear();
        emit systemChanged();
    }
}

void SystemProcessesModel::start() {
    sampling_ = true;
    uint64_t generation = ++generation_;
    state_ = SystemState::measuring;
    emit systemChanged();
    Monitor* monitor = &monitor_;
    SystemProcessSampler* sampler = sampler_.get();
    const bool debug = debug_;
    queue_->startTimer(kFirstRunSeconds, kRunIntervalSeconds, [this, monitor, sampler, generation, debug] {
        // The machine's own clock: one pass at most every 4.5 s of real time.
        double uptime = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        if (uptime - lastRun_ < kMinimumRunSpacing) return;
        lastRun_ = uptime;
        std::set<Pid> excluded;
        for (Pid pid : monitor->countedPids()) excluded.insert(pid);
        excluded.insert(myPid(context_->platform()));
        std::optional<SystemBreakdown> result = sampler->sample(excluded, kSampleTimeoutSeconds);
        if (debug) {
            char when[64];
            std::time_t t = std::time(nullptr);
            std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S +0000", std::gmtime(&t));
            logStderr("Trevlin system ps run #" + std::to_string(sampler->runs()) + " at " + when);
        }
        QMetaObject::invokeMethod(
            this,
            [this, result, generation] {
                if (sampling_ && generation == generation_) apply(result);
            },
            Qt::QueuedConnection);
    });
}

void SystemProcessesModel::stop() {
    if (!queue_) return;
    sampling_ = false;
    ++generation_;
    queue_->cancelTimer();
    SystemProcessSampler* sampler = sampler_.get();
    queue_->async([this, sampler] {
        sampler->reset();
        lastRun_ = -1e18;
    });
}

void SystemProcessesModel::apply(const std::optional<SystemBreakdown>& breakdown) {
    if (!breakdown) {
        rows_.clear();
        state_ = SystemState::failed;
        emit systemChanged();
        return;
    }
    if (breakdown->interval <= 0) return;  // the first run only lays the baseline
    MonitorHistory other = monitor_.history(kOtherHistoryPoints, std::vector<std::string>{});
    rows_ = buildSystemRows(*breakdown, other.other, otherCores_(), systemLimitsEnabled(), AllowList::production());
    state_ = SystemState::ready;
    emit systemChanged();
    if (systemLimitsEnabled()) refreshHelper();
}

void SystemProcessesModel::showSample(const SystemBreakdown& breakdown, HelperRules::RuleMap rules,
                                      HelperStatusFile status) {
    helperRules_ = std::move(rules);
    helperStatus_ = std::move(status);
    helperState_ = HelperState::running;
    helperWriteError_.reset();
    rows_ = buildSystemRows(breakdown, {}, otherCores_(), systemLimitsEnabled(), AllowList::production());
    state_ = SystemState::ready;
    emit systemChanged();
    emit helperChanged();
}

// The privileged helper ------------------------------------------------------------------

bool SystemProcessesModel::systemLimitsEnabled() const {
    const char* env = std::getenv("TREVLIN_EXPERIMENTAL_SYSTEM");
    return settings_.value().experimentalSystemLimits || (env && std::string(env) == "1");
}

void SystemProcessesModel::loadHelperRules(int logicalCores) {
    if (!systemLimitsEnabled()) return;
    if (auto bytes = HelperRules::read(HelperEnvironment::productionRulesPath))
        helperRules_ = HelperRules::parse(*bytes, logicalCores);
}

void SystemProcessesModel::setHelperRule(HelperGroup group, std::optional<HelperRule> rule) {
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

void SystemProcessesModel::refreshHelper() {
    if (renderMode_ || !systemLimitsEnabled()) return;
    auto status = HelperClient::readStatus(HelperEnvironment::productionStatusPath);
    bool installed = HelperClient::binaryInstalled(HelperEnvironment::installedBinary);
    HelperState state = HelperClient::state(status, installed, context_->platform().wallClock());
    bool changed = status != helperStatus_ || state != helperState_;
    helperStatus_ = std::move(status);
    helperState_ = state;
    if (changed) emit helperChanged();
}

std::optional<double> SystemProcessesModel::helperSaved(HelperGroup group) const {
    if (helperState_ != HelperState::running || !helperStatus_) return std::nullopt;
    const HelperGroupStatus* g = helperStatus_->group(group);
    if (!g) return std::nullopt;
    return g->savedCores;
}

}  // namespace trevlin
