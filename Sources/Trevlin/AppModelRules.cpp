// The half of the app model that decides what the engine enforces: stored
// rules and Automatic mode's limits become one rule map for the limiter
// manager; Automatic mode runs on every sample, raises questions, and the
// user's answers are applied and remembered.
#include "AppModel.h"

#include "LimiterManager.h"
#include "Log.h"
#include "Notifier.h"
#include "ProcessUtil.h"

#include <charconv>
#include <cstring>
#include <utility>

namespace trevlin {

namespace {

bool isCommandLineKey(const std::string& key) { return key.rfind("cli:", 0) == 0; }

/// The engine rule of a stored custom rule.
Rule engineRule(const std::string& key, const StoredRule& stored) {
    Method method = methodFromRaw(stored.method).value_or(Method::smart);
    // A command-line group has no window to come to the front: it is never paused.
    if (method == Method::pause && isCommandLineKey(key)) method = Method::smart;
    return Rule(stored.maxCores, method, stored.alwaysEfficiency, stored.pauseCatchUp, stored.pauseSparesBusy);
}

}  // namespace

std::string AppModel::logNumber(double value) {
    char buf[400];  // room for any finite double written out in full
    // Shortest round-trip digits, always in plain decimal notation.
    auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (result.ec != std::errc()) return "0.0";
    std::string text(buf, result.ptr);
    if (text.find('.') == std::string::npos && text.find("inf") == std::string::npos &&
        text.find("nan") == std::string::npos)
        text += ".0";
    return text;
}

RuleMode AppModel::effectiveMode(const std::string& path) const {
    auto stored = settings_.rules.find(path);
    if (stored != settings_.rules.end()) return stored->second.mode;
    if (isCommandLineKey(path) && !settings_.autoIncludeCommandLine) return RuleMode::off;
    return settings_.autoEnabled ? RuleMode::automatic : RuleMode::off;
}

StoredRule AppModel::rule(const std::string& path) const {
    auto stored = settings_.rules.find(path);
    if (stored != settings_.rules.end()) return stored->second;
    StoredRule r;
    r.mode = effectiveMode(path);
    r.maxCores = 4.0;
    r.method = "smart";
    r.alwaysEfficiency = false;
    r.pauseCatchUp = true;
    r.pauseSparesBusy = true;
    return r;
}

Rule AppModel::autoRule(const std::string& path, std::optional<double> cores) const {
    bool pause = settings_.autoAction == "pause" && !isCommandLineKey(path);
    return Rule(cores.value_or(settings_.autoLimitCores), pause ? Method::pause : Method::smart, false, true, true);
}

AutoStance AppModel::autoStance(const std::string& path) const {
    if (effectiveMode(path) != RuleMode::automatic) return AutoStance::skip;
    auto decision = settings_.autoDecisions.find(path);
    if (decision != settings_.autoDecisions.end()) {
        if (decision->second.decision == "always") return AutoStance::always;
        if (decision->second.decision == "never") return AutoStance::never;
    }
    return AutoStance::ask;
}

void AppModel::syncEngine() {
    // Once the engine has been shut down nothing may hold an app again.
    if (!limiter_ || engineShutDown_) return;
    std::map<std::string, Rule> rules = autoLimits_;
    for (const auto& [key, stored] : settings_.rules) {
        if (stored.mode != RuleMode::custom) continue;
        rules.insert_or_assign(key, engineRule(key, stored));
    }
    std::map<std::string, std::string> names;
    for (const auto& [key, rule] : rules) {
        // The name the app has in the latest sample; before one has been
        // seen, the name the interface would show.
        auto app = latestApp(key);
        names[key] = app ? app->name : displayName(key);
    }
    bool master = settings_.masterEnabled;
    LimiterManager* manager = limiter_.get();
    engineQueue_->async([this, manager, rules = std::move(rules), names = std::move(names), master] {
        if (!master && manager->isEnabled()) {
            manager->setEnabled(false);
            recordEngineCall("disable");
        }
        for (const auto& [key, rule] : manager->rules()) {
            if (rules.count(key)) continue;
            manager->removeRule(key);
            recordEngineCall("remove " + key);
        }
        std::map<std::string, Rule> current = manager->rules();
        for (const auto& [key, rule] : rules) {
            auto it = current.find(key);
            if (it != current.end() && it->second == rule) continue;
            manager->setRule(rule, key, names.at(key));
            recordEngineCall("set " + key);
        }
        if (master && !manager->isEnabled()) {
            manager->setEnabled(true);
            recordEngineCall("enable");
        }
    });
}

void AppModel::runPolicy(const MonitorSnapshot& sample) {
    if (renderMode_ || !limiter_ || !settings_.masterEnabled || !settings_.autoEnabled) return;
    std::vector<AppUsage> candidates;
    candidates.reserve(sample.apps.size());
    for (const auto& app : sample.apps)
        if (settings_.autoIncludeCommandLine || app.kind == AppKind::app) candidates.push_back(app);

    auto decisions = policy_.evaluate(candidates, limiter_->statuses(),
                                      [this](const std::string& path) { return autoStance(path); }, now(context_->platform()));
    if (decisions.empty()) return;
    for (const auto& d : decisions) {
        switch (d.kind) {
        case AutoDecision::Kind::limit:
            logSystem("Trevlin auto: limiting " + d.name + " to " + logNumber(d.cores));
            autoLimits_.insert_or_assign(d.path, autoRule(d.path, d.cores));
            break;
        case AutoDecision::Kind::release:
            logSystem("Trevlin auto: releasing " + d.path);
            autoLimits_.erase(d.path);
            break;
        case AutoDecision::Kind::ask: {
            const AutoQuestion& q = d.question;
            logSystem("Trevlin auto: asking about " + q.name + " (" + logNumber(q.cores) + " cores)");
            std::erase_if(pendingQuestions_, [&](const AutoQuestion& p) { return p.path == q.path; });
            pendingQuestions_.push_back(q);
            if (notificationStatus_ == "allowed" && notifier_)
                notifier_->post(q, settings_.autoTriggerCores);
            break;
        }
        }
    }
    emit automaticChanged();
    syncEngine();
}

void AppModel::answer(const std::string& path, const std::string& name, AutoAnswer answer) {
    std::erase_if(pendingQuestions_, [&](const AutoQuestion& q) { return q.path == path; });
    if (notifier_) notifier_->withdraw(path);

    switch (answer) {
    case AutoAnswer::never:
        settings_.autoDecisions[path] = AutoDecisionRecord{name, "never"};
        persist();
        emit settingsChanged();
        policy_.forget(path);
        break;
    case AutoAnswer::ignore:
        policy_.markIgnored(path, now(context_->platform()));
        break;
    case AutoAnswer::always:
        settings_.autoDecisions[path] = AutoDecisionRecord{name, "always"};
        persist();
        emit settingsChanged();
        [[fallthrough]];
    case AutoAnswer::limitOnce:
        policy_.markLimited(path);
        autoLimits_.insert_or_assign(path, autoRule(path));
        syncEngine();
        break;
    }
    emit automaticChanged();
}

void AppModel::removeDecision(const std::string& path) {
    settings_.autoDecisions.erase(path);
    persist();
    emit settingsChanged();
}

void AppModel::clearAutomatic() {
    policy_.reset();
    bool hadLimits = !autoLimits_.empty();
    autoLimits_.clear();
    // Questions that can no longer be answered leave the desktop too.
    if (notifier_)
        for (const auto& q : pendingQuestions_) notifier_->withdraw(q.path);
    pendingQuestions_.clear();
    emit automaticChanged();
    if (hadLimits) syncEngine();
}

void AppModel::setMaster(bool on) {
    settings_.masterEnabled = on;
    persist();
    emit settingsChanged();
    updateMonitorMode();
    syncEngine();
    if (on) requestNotificationPermissionIfNeeded();
    else clearAutomatic();
}

void AppModel::setAutoEnabled(bool on) {
    settings_.autoEnabled = on;
    persist();
    emit settingsChanged();
    updateMonitorMode();
    if (on) requestNotificationPermissionIfNeeded();
    else clearAutomatic();
}

void AppModel::setAutoIncludeCommandLine(bool on) {
    settings_.autoIncludeCommandLine = on;
    persist();
    emit settingsChanged();
    // Command-line work's effective mode follows this setting at once.
    syncEngine();
}

void AppModel::setAutoConfigFromSettings() {
    AutoConfig config;
    config.triggerCores = settings_.autoTriggerCores;
    config.triggerSeconds = settings_.autoTriggerSeconds;
    config.limitCores = settings_.autoLimitCores;
    config.releaseQuietSeconds = 15;
    config.askCooldownSeconds = 600;
    policy_.config = config;
}

void AppModel::setAutoTrigger(std::optional<double> cores, std::optional<double> seconds,
                              std::optional<double> limit) {
    if (cores) settings_.autoTriggerCores = *cores;
    if (seconds) settings_.autoTriggerSeconds = *seconds;
    if (limit) {
        settings_.autoLimitCores = *limit;
        applyNotificationCategory();
    }
    setAutoConfigFromSettings();
    persist();
    emit settingsChanged();
    if (limit) {
        for (auto& [path, rule] : autoLimits_) rule = autoRule(path, *limit);
        emit automaticChanged();
        syncEngine();
    }
}

void AppModel::setAutoAction(const std::string& action) {
    if (action == settings_.autoAction) return;
    settings_.autoAction = action;
    persist();
    emit settingsChanged();
    applyNotificationCategory();
    for (auto& [path, rule] : autoLimits_) rule = autoRule(path, settings_.autoLimitCores);
    emit automaticChanged();
    syncEngine();
}

void AppModel::setStoredRule(const std::string& path, std::optional<StoredRule> stored) {
    if (stored) settings_.rules[path] = *stored;
    else settings_.rules.erase(path);
    persist();
    emit settingsChanged();
    syncEngine();
}

}  // namespace trevlin
