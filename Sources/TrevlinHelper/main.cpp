// app.trevlin.helper: the privileged helper. Run as root by the systemd unit
// trevlin-helper.service, it holds the file indexers and backup tools of the
// allow list to the rules the app writes, and reports in the status file.
//
//   app.trevlin.helper               run until SIGTERM, SIGINT or SIGHUP
//   app.trevlin.helper --recover     continue and move back whatever a helper
//                                    that ended abnormally left held, then exit
//   app.trevlin.helper --show-paths  print the files it uses and the programs
//                                    it may touch, then exit
//
// The test overrides (TREVLIN_HELPER_TEST_DIR, TREVLIN_HELPER_TEST_ALLOW) are
// honoured only when it does not run as root.

#include "EngineContext.h"
#include "Files.h"
#include "HelperDaemon.h"
#include "HelperEnvironment.h"
#include "HelperLog.h"
#include "InstanceLock.h"
#include "Journal.h"
#include "LinuxPlatform.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

using namespace trevlin;
using namespace trevlin::helper;

namespace {

const char* const kUsage = "usage: app.trevlin.helper [--recover | --show-paths]\n";

int usage(const std::string& message) {
    std::fprintf(stderr, "app.trevlin.helper: %s\n%s", message.c_str(), kUsage);
    return 2;
}

void showPaths(const HelperEnvironment& env) {
    std::printf("rules %s\nstatus %s\njournal %s\ntest mode %s\n", env.rulesPath.c_str(), env.statusPath.c_str(),
                env.journalDir.c_str(), env.testMode ? "on" : "off");
    for (const auto& [group, paths] : env.allow.paths)
        for (const std::string& path : paths) std::printf("allow %s %s\n", id(group), path.c_str());
}

std::shared_ptr<LinuxPlatform> systemPlatform() {
    // A system service has no desktop: no front app, no session to ask.
    LinuxPlatform::Options options;
    options.desktop = false;
    return std::make_shared<LinuxPlatform>(options);
}

}  // namespace

int main(int argc, char** argv) {
    enum class Mode { run, recover, showPaths } mode = Mode::run;
    if (argc > 2) return usage("one option at most");
    if (argc == 2) {
        if (std::strcmp(argv[1], "--recover") == 0) mode = Mode::recover;
        else if (std::strcmp(argv[1], "--show-paths") == 0) mode = Mode::showPaths;
        else if (std::strcmp(argv[1], "--help") == 0) return std::fputs(kUsage, stdout) < 0;
        else return usage(std::string("unknown option \"") + argv[1] + "\"");
    }

    // The status file must be readable by the app, which runs as an ordinary user.
    ::umask(022);
    openLog();
    const HelperEnvironment env = HelperEnvironment::current();
    for (const std::string& name : env.refusedOverrides)
        log("refused " + name + ": test overrides are ignored when running as root");

    if (mode == Mode::showPaths) {
        showPaths(env);
        return 0;
    }

    auto platform = systemPlatform();
    if (mode == Mode::recover) {
        const int restored = Journal::recoverOrphans(*platform, env.journalDir);
        log("restored " + std::to_string(restored) + " process(es)");
        std::printf("restored %d process(es)\n", restored);
        return 0;
    }

    // The stop signals are read from a signalfd in the main loop, never
    // handled in signal context. Blocked before any thread starts, so every
    // thread inherits the mask.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGHUP);
    if (::pthread_sigmask(SIG_BLOCK, &stops, nullptr) != 0) {
        log("cannot block the stop signals");
        return 1;
    }
    const int signalFd = ::signalfd(-1, &stops, SFD_CLOEXEC);
    if (signalFd < 0) {
        log(std::string("cannot watch for signals: ") + std::strerror(errno));
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);

    std::string error;
    if (!Files::createDirectories(env.journalDir, &error)) {
        log("cannot create the journal folder: " + error);
        return 1;
    }
    InstanceLock lock(env.journalDir + "/helper.lock");
    if (!lock.held()) {
        log(lock.error());
        return 1;
    }

    log(std::string("started") + (env.testMode ? " in test mode" : "") + ": rules " + env.rulesPath + ", status " +
        env.statusPath + ", journal " + env.journalDir);
    if (const int restored = Journal::recoverOrphans(*platform, env.journalDir))
        log("resumed " + std::to_string(restored) + " process(es) that an earlier run left held");

    int received = 0;
    {
        HelperDaemon daemon(env, EngineContext::make(platform));
        received = daemon.run(signalFd);
    }
    ::close(signalFd);
    log(std::string(received ? ::strsignal(received) : "stopped") + ": every process restored");
    return 0;
}
