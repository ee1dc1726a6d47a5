// trevlin-guardian <journal-folder> <holder-pid>: started by the app and by
// `trevlinctl limit` with its end of a socket pair as standard input; lets go
// of what the holder's journal lists when the holder ends without doing so
// itself. See Guardian.h.
#include "Guardian.h"
#include "Journal.h"
#include "LinuxPlatform.h"
#include "Log.h"

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace trevlin;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: trevlin-guardian <journal-folder> <holder-pid> (started by Trevlin and trevlinctl)\n", stderr);
        return 2;
    }
    char* end = nullptr;
    errno = 0;
    const long holder = std::strtol(argv[2], &end, 10);
    if (errno != 0 || *end != '\0' || holder <= 0 || holder > INT32_MAX) {
        std::fprintf(stderr, "trevlin-guardian: \"%s\" is no pid\n", argv[2]);
        return 2;
    }
    // The holder's way out must not be the guardian's: Ctrl-C, a hang-up or
    // a SIGTERM sent to the whole session leave it waiting for its holder.
    for (int s : {SIGINT, SIGHUP, SIGTERM, SIGQUIT, SIGTSTP, SIGTTIN, SIGTTOU, SIGPIPE}) ::signal(s, SIG_IGN);
    // Nothing of the holder's beyond standard input, output and error (a
    // lock file would otherwise stay locked after the holder ended).
    ::syscall(SYS_close_range, 3u, ~0u, 0u);

    // The holder is this process's parent: a pidfd opened while it still is
    // names the holder and no later process with its pid.
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(holder), 0u));
    if (pidfd >= 0 && ::getppid() != holder) {
        ::close(pidfd);
        pidfd = -1;
    }
    LinuxPlatform::Options options;
    options.desktop = false;
    LinuxPlatform platform(options);
    const int restored = Guardian::watch(platform, 0, pidfd, Journal::filePathIn(argv[1], static_cast<Pid>(holder)));
    if (restored > 0)
        logStderr("trevlin-guardian: pid " + std::to_string(holder) + " ended without letting go; continued " +
                  std::to_string(restored) + " process(es) it held");
    return 0;
}
