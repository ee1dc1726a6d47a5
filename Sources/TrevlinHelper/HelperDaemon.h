// The helper's main loop: looks at the rules file every second and puts what
// it finds in force, rewrites the status file every 2 seconds (and at once
// after a change of rules), and on a stop signal restores every process and
// removes the status file.
#pragma once

#include "EngineContext.h"
#include "GroupHolder.h"
#include "HelperEnvironment.h"
#include "RulesWatcher.h"

#include <memory>

namespace trevlin::helper {

class HelperDaemon {
public:
    /// Rules are looked at this often, so a change is in force within 2 s.
    static constexpr double rulesInterval = 1.0;
    /// The status file is rewritten this often; the app counts a file older
    /// than 8 s as a helper that is not responding.
    static constexpr double statusInterval = 2.0;

    /// Resumes what dead earlier runs left held in the journal folder.
    HelperDaemon(const HelperEnvironment& env, std::shared_ptr<EngineContext> context);

    /// Runs until a signal can be read from `signalFd` (a signalfd); then
    /// restores every process and removes the status file. Returns the signal.
    int run(int signalFd);

private:
    void writeStatus();

    const HelperEnvironment env_;
    const std::shared_ptr<EngineContext> context_;
    RulesWatcher rules_;
    GroupHolder holder_;
    bool statusFailing_ = false;
};

}  // namespace trevlin::helper
