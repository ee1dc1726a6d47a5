#include "EngineBridge.h"

#include "AppKey.h"
#include "LimiterManager.h"
#include "Log.h"
#include "ProcessUtil.h"
#include "SettingsModel.h"

#include <charconv>
#include <utility>

namespace trevlin {

namespace {

// Automatic mode's timing that the user does not choose.
constexpr double kReleaseQuietSeconds = 15;
constexpr double kAskCooldownSeconds = 600;

/// What a rule editor shows for an app that has no stored rule yet.
constexpr double kDefaultRuleCores = 4.0;

bool isCommandLineKey(const std::string& key) { return AppKey::isGroupKey(key); }

/// The engine rule of a stored custom rule.
Rule engineRule(const std::string& key, const StoredRule& stored) {
    Method method = methodFromRaw(stored.method).value_or(Method::smart);
    // A command-line group has no window to come to the front: it is never paused.
    if (method == Method::pause && isCommandLineKey(key)) method = Method::smart;
    return Rule(stored.maxCores, method, stored.alwaysEfficiency, stored.pauseCatchUp, stored.pauseSparesBusy);
}

}  // namespace

std::string text(const EngineCall& call) {
    switch (call.kind) {
        case EngineCall::Kind::disable: return "disable";
        case EngineCall::Kind::remove: return "remove " + call.key;
        case EngineCall::Kind::set: return "set " + call.key;
        case EngineCall::Kind::enable: return "enable";
        case EngineCall::Kind::shutdown: return "shutdown";
    }
    return "";
}

EngineBridge::EngineBridge(std::shared_ptr<EngineContext> context, SettingsModel& settings, NameLookup nameFor,
                           EngineCallObserver observer, QObject* parent)
    : QObject(parent),
      context_(std::move(context)),
      settings_(settings),
      nameFor_(std::move(nameFor)),
      observer_(std::move(observer)),
      queue_(std::make_unique<SerialQueue>("trevlin.engine")) {
    setAutoConfigFromSettings();
}

EngineBridge::~EngineBridge() {
    shutdown();
    queue_.reset();
    limiter_.reset();
}

void EngineBridge::startLimiter(const std::string& journalDirectory, const std::string& savingsPath) {
    limiter_ = std::make_unique<LimiterManager>(context_, journalDirectory);
    limiter_->setEnabled(false);
    limiter_->ledger().enablePersistence(savingsPath);
}

std::string EngineBridge::logNumber(double value) {
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

// What applies to an app ---------------------------------------------------------

RuleMode EngineBridge::effectiveMode(const std::string& path) const {
    const AppSettings& s = settings_.value();
    auto stored = s.rules.find(path);
    if (stored != s.rules.end()) return stored->second.mode;
    if (isCommandLineKey(path) && !s.autoIncludeCommandLine) return RuleMode::off;
    return s.autoEnabled ? RuleMode::automatic : RuleMode::off;
}

StoredRule EngineBridge::rule(const std::string& path) const {
    const AppSettings& s = settings_.value();
    auto stored = s.rules.find(path);
    if (stored != s.rules.end()) return stored->second;
    StoredRule r;
    r.mode = effectiveMode(path);
    r.maxCores = kDefaultRuleCores;
    r.method = rawValue(Method::smart);
    r.alwaysEfficiency = false;
    r.pauseCatchUp = true;
    r.pauseSparesBusy = true;
    return r;
}

Rule EngineBridge::autoRule(const std::string& path, std::optional<double> cores) const {
    const AppSettings& s = settings_.value();
    bool pause = s.autoAction == "pause" && !isCommandLineKey(path);
    return Rule(cores.value_or(s.autoLimitCores), pause ? Method::pause : Method::smart, false, true, true);
}

AutoStance EngineBridge::autoStance(const std::string& path) const {
    if (effectiveMode(path) != RuleMode::automatic) return AutoStance::skip;
    const auto& decisions = settings_.value().autoDecisions;
    auto decision = decisions.find(path);
    if (decision == decisions.end()) return AutoStance::ask;
    // A remembered text that is neither answer counts as none.
    std::optional<RememberedAnswer> answer = decision->second.answer();
    if (!answer) return AutoStance::ask;
    return *answer == RememberedAnswer::always ? AutoStance::always : AutoStance::never;
}

std::optional<LimiterStatus> EngineBridge::status(const std::string& path) const {
    if (!limiter_) return std::nullopt;
    return limiter_->status(path);
}

// The engine's rule set -------------------------------------------------------------

void EngineBridge::syncEngine() {
    // Once the engine has been shut down nothing may hold an app again.
    if (!limiter_ || shutDown_) return;
    std::map<std::string, Rule> rules = autoLimits_;
    for (const auto& [key, stored] : settings_.value().rules) {
        if (stored.mode != RuleMode::custom) continue;
        rules.insert_or_assign(key, engineRule(key, stored));
    }
    std::map<std::string, std::string> names;
    for (const auto& [key, rule] : rules) names[key] = nameFor_(key);
    const bool master = settings_.value().masterEnabled;
    LimiterManager* manager = limiter_.get();
    queue_->async([manager, observer = observer_, rules = std::move(rules), names = std::move(names), master] {
        auto report = [&](EngineCall::Kind kind, const std::string& key = {}) {
            if (observer) observer(EngineCall{kind, key});
        };
        // Off: every held app is let go before anything else changes.
        if (!master && manager->isEnabled()) {
            manager->setEnabled(false);
            report(EngineCall::Kind::disable);
        }
        for (const auto& [key, rule] : manager->rules()) {
            if (rules.count(key)) continue;
            manager->removeRule(key);
            report(EngineCall::Kind::remove, key);
        }
        std::map<std::string, Rule> current = manager->rules();
        for (const auto& [key, rule] : rules) {
            auto it = current.find(key);
            if (it != current.end() && it->second == rule) continue;
            manager->setRule(rule, key, names.at(key));
            report(EngineCall::Kind::set, key);
        }
        // On: enabled last, with every rule in place.
        if (master && !manager->isEnabled()) {
            manager->setEnabled(true);
            report(EngineCall::Kind::enable);
        }
    });
}

void EngineBridge::shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    if (!limiter_) return;
    LimiterManager* manager = limiter_.get();
    queue_->sync([manager, observer = observer_] {
        manager->shutdown();
        if (observer) observer(EngineCall{EngineCall::Kind::shutdown, {}});
    });
}

// Automatic mode ------------------------------------------------------------------------

void EngineBridge::runPolicy(const MonitorSnapshot& sample) {
    const AppSettings& s = settings_.value();
    if (!limiter_ || !s.masterEnabled || !s.autoEnabled) return;
    std::vector<AppUsage> candidates;
    candidates.reserve(sample.apps.size());
    for (const auto& app : sample.apps)
        if (s.autoIncludeCommandLine || app.kind == AppKind::app) candidates.push_back(app);

    auto decisions = policy_.evaluate(candidates, limiter_->statuses(),
                                      [this](const std::string& path) { return autoStance(path); },
                                      now(context_->platform()), sample.frontKnown);
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
                emit asked(q);
                break;
            }
        }
    }
    emit automaticChanged();
    syncEngine();
}

void EngineBridge::answer(const std::string& path, const std::string& name, AutoAnswer answer) {
    std::erase_if(pendingQuestions_, [&](const AutoQuestion& q) { return q.path == path; });
    emit withdrawn(path);

    switch (answer) {
        case AutoAnswer::never:
            settings_.rememberDecision(path, name, RememberedAnswer::never);
            policy_.forget(path);
            break;
        case AutoAnswer::ignore:
            policy_.markIgnored(path, now(context_->platform()));
            break;
        case AutoAnswer::always:
            settings_.rememberDecision(path, name, RememberedAnswer::always);
            [[fallthrough]];
        case AutoAnswer::limitOnce:
            policy_.markLimited(path);
            autoLimits_.insert_or_assign(path, autoRule(path));
            syncEngine();
            break;
    }
    emit automaticChanged();
}

void EngineBridge::removeDecision(const std::string& path) { settings_.forgetDecision(path); }

void EngineBridge::clearAutomatic() {
    policy_.reset();
    bool hadLimits = !autoLimits_.empty();
    autoLimits_.clear();
    // Questions that can no longer be answered leave the desktop too.
    std::vector<AutoQuestion> dropped = std::move(pendingQuestions_);
    pendingQuestions_.clear();
    for (const auto& q : dropped) emit withdrawn(q.path);
    emit automaticChanged();
    if (hadLimits) syncEngine();
}

// Switches -----------------------------------------------------------------------------------

void EngineBridge::setMaster(bool on) {
    settings_.setMasterEnabled(on);
    syncEngine();
    if (!on) clearAutomatic();
}

void EngineBridge::setAutoEnabled(bool on) {
    settings_.setAutoEnabled(on);
    if (!on) clearAutomatic();
}

void EngineBridge::setAutoConfigFromSettings() {
    const AppSettings& s = settings_.value();
    AutoConfig config;
    config.triggerCores = s.autoTriggerCores;
    config.triggerSeconds = s.autoTriggerSeconds;
    config.limitCores = s.autoLimitCores;
    config.releaseQuietSeconds = kReleaseQuietSeconds;
    config.askCooldownSeconds = kAskCooldownSeconds;
    policy_.config = config;
}

void EngineBridge::rewriteAutoLimits(double cores) {
    for (auto& [path, rule] : autoLimits_) rule = autoRule(path, cores);
    emit automaticChanged();
    syncEngine();
}

void EngineBridge::setAutoTrigger(std::optional<double> cores, std::optional<double> seconds,
                                  std::optional<double> limit) {
    settings_.setAutoTrigger(cores, seconds, limit);
    setAutoConfigFromSettings();
    // A new cap applies at once to every app Automatic mode holds.
    if (limit) rewriteAutoLimits(*limit);
}

bool EngineBridge::setAutoAction(const std::string& action) {
    if (action == settings_.value().autoAction) return false;
    settings_.setAutoAction(action);
    rewriteAutoLimits(settings_.value().autoLimitCores);
    return true;
}

void EngineBridge::setStoredRule(const std::string& path, std::optional<StoredRule> stored) {
    settings_.setRule(path, std::move(stored));
    syncEngine();
}

}  // namespace trevlin
