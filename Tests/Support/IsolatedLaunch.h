// Starts the Trevlin program for a test or a benchmark with a home of its own:
// data, config and runtime folders under `home`, no display, no session bus
// (never the desktop of whoever runs it), Qt's offscreen platform, the
// one-instance lock in the runtime folder (never the real one), standard
// input and output on the null device and standard error in `logPath`.
// Header-only, so the benchmarks use it too.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace trevlin::test {

/// Variables to set (a value) or to remove (absent) after the isolation.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

/// The child's pid, or -1 when it could not be forked. The one-instance lock
/// is taken in `home`/runtime, which must exist.
inline pid_t launchIsolated(const std::string& binary, const std::string& home, const std::string& logPath,
                            const EnvironmentChanges& changes = {}, const std::vector<std::string>& args = {}) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        auto eq = kv.find('=');
        if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    env["HOME"] = home;
    env["XDG_DATA_HOME"] = home + "/data";
    env["XDG_CONFIG_HOME"] = home + "/config";
    env["XDG_RUNTIME_DIR"] = home + "/runtime";
    env["QT_QPA_PLATFORM"] = "offscreen";
    env.erase("DBUS_SESSION_BUS_ADDRESS");
    env.erase("DISPLAY");
    env.erase("WAYLAND_DISPLAY");
    env["TREVLIN_TEST_LOCK_DIR"] = home + "/runtime";
    for (const auto& [name, value] : changes) {
        if (value) env[name] = *value;
        else env.erase(name);
    }
    std::vector<std::string> flat;
    for (const auto& [k, v] : env) flat.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : flat) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string path = binary;
    const pid_t pid = ::fork();
    if (pid == 0) {
        int fd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) ::dup2(fd, 2);
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
        }
        std::vector<std::string> words{path};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        ::execve(path.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    return pid;
}

}  // namespace trevlin::test
