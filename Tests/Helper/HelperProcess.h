// Running the helper program (and other programs) from the Helper tests.
//
// CI runs the tests as root, and as root the helper refuses its test
// overrides. So when the tests run as root, the helper and the busy programs
// it holds run as the unprivileged account `nobody` (through setpriv), in
// folders that account can use; as an ordinary user they run as that user.
#pragma once

#include "Children.h"
#include "TempDir.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace trevlin::test {

inline constexpr uid_t kNobody = 65534;

inline bool runningAsRoot() { return ::geteuid() == 0; }

/// `argv` run as the account the helper tests use.
inline std::vector<std::string> asTestUser(std::vector<std::string> argv) {
    if (!runningAsRoot()) return argv;
    std::vector<std::string> out{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

/// Makes `path` usable by the test account (it owns it when we are root).
inline void giveToTestUser(const std::string& path) {
    ::chmod(path.c_str(), 0755);
    if (runningAsRoot()) {
        [[maybe_unused]] int rc = ::chown(path.c_str(), kNobody, kNobody);
    }
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/// One run of a program with exactly the variables `env`, in a session of
/// its own, standard output to `out` and standard error to `err` (appended;
/// "" for the null device). Killed with its whole group and reaped when the
/// object goes away, unless it was waited for.
class Program {
public:
    Program(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& out = "",
            const std::string& err = "") {
        std::vector<char*> args, vars;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const auto& v : env) vars.push_back(const_cast<char*>(v.c_str()));
        vars.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setsid();
            auto redirect = [](const std::string& path, int fd) {
                int f = ::open(path.empty() ? "/dev/null" : path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                               0644);
                if (f >= 0) ::dup2(f, fd);
            };
            redirect(out, 1);
            redirect(err, 2);
            ::execve(args[0], args.data(), vars.data());
            ::_exit(127);
        }
    }
    ~Program() {
        if (pid_ > 0) {
            ::kill(-pid_, SIGKILL);
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t pid() const { return pid_; }
    /// Sends `signal` while the program has not been waited for.
    void signal(int signal) {
        if (pid_ > 0) ::kill(pid_, signal);
    }
    /// Waits for the program to end; its wait status (-1 when already waited for).
    int wait() {
        if (pid_ <= 0) return -1;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }
    /// Whether it ended by itself (reaped then) within `seconds`.
    bool endsWithin(double seconds, int* status = nullptr) {
        for (double waited = 0; pid_ > 0; waited += 0.01) {
            int st = 0;
            if (::waitpid(pid_, &st, WNOHANG) == pid_) {
                pid_ = -1;
                if (status) *status = st;
                return true;
            }
            if (waited >= seconds) return false;
            sleepFor(0.01);
        }
        return false;
    }

private:
    pid_t pid_ = -1;
};

struct ProgramResult {
    int status = -1;
    std::string out;
    std::string err;
};

/// Runs a program to its end.
inline ProgramResult runProgramToEnd(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    TempDir dir;
    giveToTestUser(dir.path());
    const std::string out = dir.path() + "/out", err = dir.path() + "/err";
    ProgramResult r;
    {
        Program program(argv, env, out, err);
        r.status = program.wait();
    }
    r.out = readText(out);
    r.err = readText(err);
    return r;
}

}  // namespace trevlin::test
