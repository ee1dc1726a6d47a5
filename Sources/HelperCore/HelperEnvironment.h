// Where the helper side works: the allow list and the paths of the shared
// files, with overrides for tests that are refused when running as root.
#pragma once

#include "AllowList.h"

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace trevlin {

struct HelperEnvironment {
    static constexpr const char* productionSupportDir = "/var/lib/trevlin";
    static constexpr const char* productionRulesPath = "/var/lib/trevlin/Rules/helper-rules.json";
    static constexpr const char* productionStatusPath = "/var/lib/trevlin/helper-status.json";
    static constexpr const char* productionJournalDir = "/var/lib/trevlin/Journal";
    static constexpr const char* installedBinary = "/usr/libexec/trevlin/app.trevlin.helper";

    static constexpr const char* testAllowVariable = "TREVLIN_HELPER_TEST_ALLOW";
    static constexpr const char* testDirVariable = "TREVLIN_HELPER_TEST_DIR";

    AllowList allow = AllowList::production();
    std::string rulesPath = productionRulesPath;
    std::string statusPath = productionStatusPath;
    std::string journalDir = productionJournalDir;
    bool testMode = false;
    /// Override variables that were present but refused.
    std::vector<std::string> refusedOverrides;

    /// The environment for a process with user id `uid` and variables `env`.
    /// Overrides must be absolute paths and are honoured only when not root.
    static HelperEnvironment resolve(const std::map<std::string, std::string>& env, uid_t uid);
    /// `resolve` with this process's variables and user id (root when either
    /// the real or the effective id is 0).
    static HelperEnvironment current();
};

}  // namespace trevlin
