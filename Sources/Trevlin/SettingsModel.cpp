#include "SettingsModel.h"

namespace trevlin {

namespace {

/// The quiet time after the last change of a burst before the file is written.
constexpr int kSaveDelayMs = 250;

}  // namespace

SettingsModel::SettingsModel(std::string dataDirectory, bool renderMode, QObject* parent)
    : QObject(parent), dataDirectory_(std::move(dataDirectory)), renderMode_(renderMode) {
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(kSaveDelayMs);
    connect(&saveTimer_, &QTimer::timeout, this, [this] { saveNow(); });
    if (renderMode_) return;
    LoadedSettings loaded = SettingsStore::load(dataDirectory_);
    settings_ = std::move(loaded.settings);
    fileExisted_ = loaded.fileExists;
}

void SettingsModel::setMasterEnabled(bool on) {
    update([&](AppSettings& s) { s.masterEnabled = on; });
}

void SettingsModel::setShowInDock(bool on) {
    update([&](AppSettings& s) { s.showInDock = on; });
}

void SettingsModel::setAutoEnabled(bool on) {
    update([&](AppSettings& s) { s.autoEnabled = on; });
}

void SettingsModel::setAutoTrigger(std::optional<double> cores, std::optional<double> seconds,
                                   std::optional<double> limit) {
    update([&](AppSettings& s) {
        if (cores) s.autoTriggerCores = *cores;
        if (seconds) s.autoTriggerSeconds = *seconds;
        if (limit) s.autoLimitCores = *limit;
    });
}

void SettingsModel::setAutoAction(const std::string& action) {
    update([&](AppSettings& s) { s.autoAction = action; });
}

void SettingsModel::setAppearance(const std::string& name) {
    update([&](AppSettings& s) { s.appearance = name; });
}

void SettingsModel::setWelcomeShown() {
    update([](AppSettings& s) { s.welcomeShown = true; });
}

void SettingsModel::setChartRangeMinutes(int minutes) {
    update([&](AppSettings& s) { s.chartRangeMinutes = minutes; });
}

void SettingsModel::setAutoIncludeCommandLine(bool on) {
    update([&](AppSettings& s) { s.autoIncludeCommandLine = on; });
}

void SettingsModel::setShowSystemProcesses(bool on) {
    update([&](AppSettings& s) { s.showSystemProcesses = on; });
}

void SettingsModel::setExperimentalSystemLimits(bool on) {
    update([&](AppSettings& s) { s.experimentalSystemLimits = on; });
}

void SettingsModel::setRule(const std::string& key, std::optional<StoredRule> rule) {
    update([&](AppSettings& s) {
        if (rule) s.rules[key] = std::move(*rule);
        else s.rules.erase(key);
    });
}

void SettingsModel::rememberDecision(const std::string& key, const std::string& name, RememberedAnswer answer) {
    update([&](AppSettings& s) { s.autoDecisions[key] = AutoDecisionRecord{name, rawValue(answer)}; });
}

void SettingsModel::forgetDecision(const std::string& key) {
    update([&](AppSettings& s) { s.autoDecisions.erase(key); });
}

void SettingsModel::persist() {
    if (renderMode_) return;
    saveTimer_.start();  // restarts a pending save: one write after a burst
}

void SettingsModel::saveNow() {
    saveTimer_.stop();
    if (renderMode_) return;
    SettingsStore::saveNow(settings_, dataDirectory_);
}

}  // namespace trevlin
