#include "HelperEnvironment.h"

#include <unistd.h>

#include <cstdlib>

namespace trevlin {

HelperEnvironment HelperEnvironment::resolve(const std::map<std::string, std::string>& env, uid_t uid) {
    HelperEnvironment out;
    auto allow = env.find(testAllowVariable);
    auto dir = env.find(testDirVariable);
    if (allow == env.end() && dir == env.end()) return out;

    if (uid == 0) {
        if (allow != env.end()) out.refusedOverrides.push_back(testAllowVariable);
        if (dir != env.end()) out.refusedOverrides.push_back(testDirVariable);
        return out;
    }
    auto absolute = [](const std::string& v) { return !v.empty() && v.front() == '/'; };
    if (allow != env.end() && absolute(allow->second)) {
        out.allow = AllowList::test(allow->second);
        out.testMode = true;
    }
    if (dir != env.end() && absolute(dir->second)) {
        out.rulesPath = dir->second + "/helper-rules.json";
        out.statusPath = dir->second + "/helper-status.json";
        out.journalDir = dir->second + "/journal";
        out.testMode = true;
    }
    return out;
}

HelperEnvironment HelperEnvironment::current() {
    std::map<std::string, std::string> env;
    for (const char* name : {testAllowVariable, testDirVariable})
        if (const char* v = std::getenv(name)) env[name] = v;
    // Root rights count whether they are real or effective.
    return resolve(env, ::getuid() == 0 || ::geteuid() == 0 ? 0 : ::getuid());
}

}  // namespace trevlin
