// The Trevlin program run headless for a long benchmark: its own home, data,
// config and runtime folders under a fresh temporary folder, no display and
// no session bus, standard error in a file (see IsolatedLaunch.h). Reads the program's resident
// memory, threads and open descriptors from /proc.
#pragma once

#include "BenchmarkSupport.h"
#include "IsolatedLaunch.h"
#include "LinuxProc.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace trevlin::bench {

namespace fs = std::filesystem;

inline std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/// What /proc says of one process's footprint.
struct Footprint {
    double residentMB = 0;
    int threads = 0;
    int descriptors = 0;
};

inline Footprint footprintOf(pid_t pid) {
    Footprint f;
    std::istringstream status(readText("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) f.residentMB = std::atof(line.c_str() + 6) / 1024.0;
        if (line.rfind("Threads:", 0) == 0) f.threads = std::atoi(line.c_str() + 8);
    }
    if (DIR* d = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') ++f.descriptors;
        ::closedir(d);
    }
    return f;
}

/// The state letter of /proc/<pid>/stat ('T' when stopped); 0 when gone.
inline char stateOf(pid_t pid) {
    auto st = linux::readStat("/proc", pid);
    return st ? st->state : 0;
}

/// Every pid whose process group is `pgid`.
inline std::vector<pid_t> processGroupMembers(pid_t pgid) {
    std::vector<pid_t> out;
    for (Pid pid : linux::listNumericEntries("/proc"))
        if (auto st = linux::readStat("/proc", pid); st && st->pgrp == pgid) out.push_back(pid);
    return out;
}

/// The program's path: TREVLIN_BINARY, else the build tree's.
inline std::string trevlinBinary() {
    if (const char* p = std::getenv("TREVLIN_BINARY")) return p;
    return TREVLIN_APP_PATH;
}

class HeadlessTrevlin {
public:
    /// Writes `settingsJson` (when given) as the settings file, then starts the program.
    explicit HeadlessTrevlin(const std::string& settingsJson = "") {
        char tmpl[] = "/tmp/trevlin-bench-XXXXXX";
        if (!::mkdtemp(tmpl)) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        home_ = tmpl;
        fs::create_directories(dataDir());
        fs::create_directories(home_ + "/config");
        fs::create_directories(home_ + "/runtime");
        fs::permissions(home_ + "/runtime", fs::perms::owner_all);
        if (!settingsJson.empty()) std::ofstream(dataDir() + "/settings.json") << settingsJson;

        pid_ = test::launchIsolated(trevlinBinary(), home_, home_ + "/trevlin.log");
    }
    ~HeadlessTrevlin() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        std::error_code ec;
        fs::remove_all(home_, ec);
    }
    HeadlessTrevlin(const HeadlessTrevlin&) = delete;
    HeadlessTrevlin& operator=(const HeadlessTrevlin&) = delete;

    pid_t pid() const { return pid_; }
    std::string dataDir() const { return home_ + "/data/Trevlin"; }
    std::string log() const { return readText(home_ + "/trevlin.log"); }
    Footprint footprint() const { return footprintOf(pid_); }

    /// SIGTERM, then waits up to `seconds` for a clean exit; true when it exited with status 0.
    bool stop(double seconds = 15) {
        ::kill(pid_, SIGTERM);
        const double end = monotonic() + seconds;
        while (monotonic() < end) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status) && WEXITSTATUS(status) == 0;
            }
            sleepSeconds(0.02);
        }
        return false;
    }

    /// The journal files left in the data folder.
    std::vector<std::string> journalFiles() const {
        std::vector<std::string> out;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dataDir(), ec))
            if (e.path().filename().string().rfind("journal-", 0) == 0) out.push_back(e.path().string());
        return out;
    }

private:
    std::string home_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

}  // namespace trevlin::bench
