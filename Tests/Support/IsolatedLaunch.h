// Starts the Trevlin program for a test or a benchmark with a home of its own:
// data, config and runtime folders under `home`, no display, no session bus
// (never the desktop of whoever runs it), Qt's offscreen platform, standard
// input and output on the null device and standard error in `logPath`.
// Header-only, so the benchmarks use it too.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace trevlin::test {

/// The child's pid, or -1 when it could not be forked.
inline pid_t launchIsolated(const std::string& binary, const std::string& home, const std::string& logPath) {
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
        char* argv[] = {path.data(), nullptr};
        ::execve(path.c_str(), argv, envp.data());
        ::_exit(127);
    }
    return pid;
}

}  // namespace trevlin::test
