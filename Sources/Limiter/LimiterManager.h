// The engine's single entry point for limiting: the rules by app key, one
// `AppLimiter` per rule while limiting is on, the journal they share and the
// savings ledger they feed. A limiter whose app has no process sleeps
// without a thread; the `LimiterWaker` wakes it when the app appears.
//
// Locks: the manager's lock may be taken before a limiter's, never the other
// way round, and is never held while waiting for a limiter to stop: limiters
// are taken out under the lock and stopped after it is released.
#pragma once

#include "AppLimiter.h"
#include "Journal.h"
#include "LimiterStatus.h"
#include "LimiterWaker.h"
#include "Rule.h"
#include "SavingsLedger.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace trevlin {

class LimiterManager {
public:
    /// Keeps its journal in `journalDirectory` (the per-user data folder in
    /// the app); first resumes whatever the journals of dead earlier runs
    /// there left stopped or demoted.
    LimiterManager(std::shared_ptr<EngineContext> context, const std::string& journalDirectory);
    /// Shuts down: every process is restored and the ledger written.
    ~LimiterManager();
    LimiterManager(const LimiterManager&) = delete;
    LimiterManager& operator=(const LimiterManager&) = delete;

    /// Duty-cycle period in milliseconds for every limiter (20 to 500).
    double periodMs();
    void setPeriodMs(double ms);

    /// The main switch. Off stops every limiter but keeps every rule.
    bool isEnabled();
    void setEnabled(bool on);

    /// Sets the rule for an app key. A running limiter adapts at its next
    /// cycle without restarting. Without a name the key's last path
    /// component without its extension is shown.
    void setRule(const Rule& rule, const std::string& appPath, std::optional<std::string> name = std::nullopt);
    /// Sets the rule for a group whose pids come from `targets` (read when
    /// its limiter is created).
    void setRule(const Rule& rule, const std::string& group, const std::string& name,
                 std::function<std::vector<Pid>()> targets);
    void removeRule(const std::string& appPath);
    void removeAllRules();

    std::map<std::string, Rule> rules();
    /// The latest status of the key's limiter; absent when none runs.
    std::optional<LimiterStatus> status(const std::string& appPath);
    std::map<std::string, LimiterStatus> statuses();

    /// Called for every published status, from the limiter's thread.
    void setOnStatus(std::function<void(const LimiterStatus&)> callback);

    /// Stops every limiter (restoring their processes) and writes the ledger.
    void shutdown();

    SavingsLedger& ledger() { return *ledger_; }
    Journal& journal() { return *journal_; }

private:
    struct Shared;

    /// Creates and starts the key's limiter; caller holds `lock_`.
    void startLimiterLocked(const std::string& key);
    void stopAll(std::vector<std::pair<std::string, std::shared_ptr<AppLimiter>>> stopping);

    std::mutex lock_;
    struct Entry {
        Rule rule;
        std::string name;
    };
    std::map<std::string, Entry> rules_;
    std::map<std::string, std::shared_ptr<AppLimiter>> limiters_;
    bool enabled_ = true;
    std::map<std::string, std::function<std::vector<Pid>()>> targetProviders_;

    const std::shared_ptr<EngineContext> context_;
    std::shared_ptr<SavingsLedger> ledger_;
    std::shared_ptr<Journal> journal_;
    std::shared_ptr<LimiterWaker> waker_;
    /// What limiters reach back to, weakly: the period and the status callback.
    std::shared_ptr<Shared> shared_;
};

}  // namespace trevlin
