#include "Guardian.h"

#include "Files.h"
#include "Journal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

extern char** environ;

namespace trevlin {

std::optional<std::string> Guardian::locate(const std::string& selfPath) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(selfPath).parent_path();
    for (const fs::path& candidate : {folder / kExecutableName, folder / ".." / "libexec" / "trevlin" / kExecutableName}) {
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.lexically_normal().string();
    }
    return std::nullopt;
}

std::unique_ptr<Guardian> Guardian::start(const std::string& executable, const std::string& journalDir,
                                          std::string* error) {
    auto fail = [&](const std::string& why) -> std::unique_ptr<Guardian> {
        if (error) *error = why;
        return nullptr;
    };
    // A socket pair rather than a pipe: the byte that releases the guardian
    // is sent with MSG_NOSIGNAL, so a guardian that is gone cannot end this
    // process with SIGPIPE. Both ends close on exec: nothing else this
    // process starts keeps the guardian waiting.
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return fail(std::string("socketpair: ") + std::strerror(errno));
    ::shutdown(ends[0], SHUT_WR);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // Its end as standard input (dup2 clears close-on-exec), standard output
    // on the null device; standard error is shared, for its one line.
    posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    // A session of its own, so the terminal's signals and job control meant
    // for this process never reach it; no signal blocked, the defaults for
    // those this process has taken over (it sets its own).
    sigset_t none, taken;
    sigemptyset(&none);
    sigemptyset(&taken);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD}) sigaddset(&taken, s);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &taken);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const std::string holder = std::to_string(::getpid());
    std::string path = executable, dir = journalDir, pidText = holder;
    char* argv[] = {path.data(), dir.data(), pidText.data(), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[0]);
    if (rc != 0) {
        ::close(ends[1]);
        return fail(executable + ": " + std::strerror(rc));
    }
    return std::unique_ptr<Guardian>(new Guardian(pid, ends[1], Journal::filePathIn(journalDir, ::getpid())));
}

std::unique_ptr<Guardian> Guardian::startForThisProcess(const std::string& journalDir, std::string* error) {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        if (error) *error = "/proc/self/exe: " + ec.message();
        return nullptr;
    }
    auto executable = locate(self.string());
    if (!executable) {
        if (error) *error = std::string(kExecutableName) + " is not beside " + self.string() + " nor in ../libexec/trevlin";
        return nullptr;
    }
    return start(*executable, journalDir, error);
}

Guardian::~Guardian() {
    if (fd_ >= 0) ::close(fd_);
}

bool Guardian::finish() {
    if (fd_ < 0) return false;
    bool released = false;
    if (!Files::exists(journalPath_)) {
        const char byte = 'q';
        ssize_t n;
        do n = ::send(fd_, &byte, 1, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        released = n == 1;
    }
    ::close(fd_);
    fd_ = -1;
    if (released) {
        // It ends at once; reaped here so that it leaves no zombie while
        // this process finishes. A guardian that is slow is not waited for.
        for (int i = 0; i < 100; ++i) {
            const pid_t r = ::waitpid(pid_, nullptr, WNOHANG);
            if (r == pid_ || (r < 0 && errno != EINTR)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return released;
}

int Guardian::watch(Platform& platform, int holderFd, int holderPidfd, const std::string& journalPath) {
    char byte = 0;
    ssize_t n;
    do n = ::read(holderFd, &byte, 1);
    while (n < 0 && errno == EINTR);
    if (n == 1) return 0;
    // End of file: the holder's end closed, which happens as it ends (its
    // last thread gone). The pidfd turns readable once it has ended
    // entirely; until then it could still be writing its journal.
    if (holderPidfd >= 0) {
        pollfd p{holderPidfd, POLLIN, 0};
        while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
    }
    return Journal::restoreFile(platform, journalPath);
}

}  // namespace trevlin
