// The half of the app model that decides what the engine enforces.
//
// The limiter manager knows only engine rules keyed by app; the user thinks
// in stored rules with a mode (off, automatic, custom), a main switch, and
// Automatic mode's thresholds and remembered answers. The bridge turns all of
// that into one rule map for the manager, runs Automatic mode's policy on
// every sample, keeps its questions, applies the user's answers and
// remembers "always" and "never" in the settings.
//
// Threads: everything here runs on the main thread, except the calls into
// the limiter manager, which are made on the "trevlin.engine" queue, in the
// order they were posted. The bridge waits for that queue only at shut-down.
#pragma once

#include "AutoAnswer.h"
#include "AutoPolicy.h"
#include "EngineContext.h"
#include "LimiterStatus.h"
#include "MonitorTypes.h"
#include "Rule.h"
#include "SerialQueue.h"
#include "Settings.h"

#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace trevlin {

class LimiterManager;
class SettingsModel;

namespace testing {
class AppModelProbe;
}

/// One call the bridge made into the limiter manager.
struct EngineCall {
    enum class Kind { disable, remove, set, enable, shutdown };
    Kind kind;
    /// The app of `remove` and `set`; empty otherwise.
    std::string key;

    bool operator==(const EngineCall&) const = default;
};

/// "disable", "remove KEY", "set KEY", "enable", "shutdown".
std::string text(const EngineCall& call);

/// Told of each call into the limiter manager as it is made, on the engine
/// queue, in order.
using EngineCallObserver = std::function<void(const EngineCall&)>;

class EngineBridge : public QObject {
    Q_OBJECT
public:
    /// The name the limiter gives an app's rule: the one the latest sample
    /// shows, or the one the interface would show.
    using NameLookup = std::function<std::string(const std::string& key)>;

    EngineBridge(std::shared_ptr<EngineContext> context, SettingsModel& settings, NameLookup nameFor,
                 EngineCallObserver observer = {}, QObject* parent = nullptr);
    /// Shuts the limiter manager down if that has not happened yet.
    ~EngineBridge() override;
    EngineBridge(const EngineBridge&) = delete;
    EngineBridge& operator=(const EngineBridge&) = delete;

    /// Creates the limiter manager, disabled, with its journal in
    /// `journalDirectory` and its savings ledger kept in `savingsPath`.
    /// Without this (render mode) nothing is ever enforced.
    void startLimiter(const std::string& journalDirectory, const std::string& savingsPath);
    /// The limiter manager once started; its own operations are safe from
    /// any thread.
    LimiterManager* limiter() const { return limiter_.get(); }

    /// The limits Automatic mode imposes right now. In memory only.
    const std::map<std::string, Rule>& autoLimits() const { return autoLimits_; }
    /// The questions waiting for an answer, oldest first, at most one per app.
    const std::vector<AutoQuestion>& pendingQuestions() const { return pendingQuestions_; }
    /// Render mode's pictures: the questions shown, replacing any.
    void showQuestions(std::vector<AutoQuestion> questions) {
        pendingQuestions_ = std::move(questions);
        emit automaticChanged();
    }

    /// The mode that applies to an app: its stored rule's, else off for a
    /// command-line group that Automatic mode leaves out, else automatic
    /// while Automatic mode is on.
    RuleMode effectiveMode(const std::string& path) const;
    /// The stored rule to show in the rule editor.
    StoredRule rule(const std::string& path) const;
    /// The engine rule of an automatic limit, at `cores` (the setting when absent).
    Rule autoRule(const std::string& path, std::optional<double> cores = std::nullopt) const;
    AutoStance autoStance(const std::string& path) const;
    /// The limiter's live status of an app, whatever the main switch.
    std::optional<LimiterStatus> status(const std::string& path) const;

    /// Pushes the current rule map and main switch to the limiter manager.
    void syncEngine();
    /// Runs Automatic mode on one sample.
    void runPolicy(const MonitorSnapshot& sample);
    void answer(const std::string& path, const std::string& name, AutoAnswer answer);
    void removeDecision(const std::string& path);
    void setMaster(bool on);
    void setAutoEnabled(bool on);
    void setAutoTrigger(std::optional<double> cores, std::optional<double> seconds, std::optional<double> limit);
    /// False, and nothing happens, when `action` is the current one.
    bool setAutoAction(const std::string& action);
    /// Stores (or, with none, removes) the user's rule for an app and applies it.
    void setStoredRule(const std::string& path, std::optional<StoredRule> rule);

    /// Lets go of every held process and waits until that is done; from then
    /// on nothing is enforced again. Safe to call more than once.
    void shutdown();
    bool isShutDown() const { return shutDown_; }

    /// The number form of Automatic mode's log lines: the shortest decimal
    /// that reads back as the same value, always with a fractional part.
    static std::string logNumber(double value);

signals:
    /// `autoLimits` or `pendingQuestions` changed.
    void automaticChanged();
    /// A new question was added to `pendingQuestions`.
    void asked(const AutoQuestion& question);
    /// The question about `path` left `pendingQuestions` (answered, or
    /// Automatic mode went off).
    void withdrawn(const std::string& path);

private:
    friend class testing::AppModelProbe;

    /// Clears Automatic mode's limits and questions and resets the policy.
    void clearAutomatic();
    void setAutoConfigFromSettings();
    void rewriteAutoLimits(double cores);

    const std::shared_ptr<EngineContext> context_;
    SettingsModel& settings_;
    const NameLookup nameFor_;
    const EngineCallObserver observer_;

    AutoPolicy policy_;
    std::map<std::string, Rule> autoLimits_;
    std::vector<AutoQuestion> pendingQuestions_;
    bool shutDown_ = false;

    // Destroyed in reverse order: the queue finishes its work before the
    // manager it calls goes.
    std::unique_ptr<LimiterManager> limiter_;
    std::unique_ptr<SerialQueue> queue_;
};

}  // namespace trevlin
