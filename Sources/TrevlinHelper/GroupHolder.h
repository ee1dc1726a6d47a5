// Holds each helper group's processes to the rule the app set for it, with
// the engine's limiter: `strict` is its duty cycle (stop and continue many
// times a second, never a stop for good), `ecores` its move to the
// efficiency cores. A group's processes are the allow list's, found by the
// scanner; every limiter journals a process before it stops or moves it.
#pragma once

#include "AllowList.h"
#include "EngineContext.h"
#include "HelperClient.h"
#include "HelperRules.h"
#include "LimiterManager.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace trevlin::helper {

class GroupHolder {
public:
    /// Journals in `journalDirectory`, after resuming what the journals of
    /// dead earlier runs there left held.
    GroupHolder(std::shared_ptr<EngineContext> context, const AllowList& allow, const std::string& journalDirectory);
    ~GroupHolder();
    GroupHolder(const GroupHolder&) = delete;
    GroupHolder& operator=(const GroupHolder&) = delete;

    /// Puts `rules` in force: a group with a new or changed rule is held to
    /// it (a running hold adapts without letting go), a group without a rule
    /// is let go. Logs every change.
    void apply(const HelperRules::RuleMap& rules);

    /// The status file's content at wall-clock time `now`: an entry per group
    /// in force.
    HelperStatusFile status(double now);

    /// Continues and moves back every process held; no group stays in force.
    void shutdown();

    /// The limiter key of a group ("helper:spotlight"), also its journal key.
    static std::string key(HelperGroup group);

private:
    struct InForce {
        HelperRule rule;
        double since = 0;  ///< wall-clock time the rule was put in force
    };

    const std::shared_ptr<EngineContext> context_;
    const std::shared_ptr<AllowListScanner> scanner_;
    // Before the manager, so that they outlive the limiters that report here.
    std::mutex publishedLock_;
    /// Wall-clock time of each limiter's last published status, by key.
    std::map<std::string, double> published_;
    LimiterManager manager_;
    std::map<HelperGroup, InForce> inForce_;
};

}  // namespace trevlin::helper
