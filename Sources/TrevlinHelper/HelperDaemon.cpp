#include "HelperDaemon.h"

#include "Files.h"
#include "HelperLog.h"
#include "ProcessUtil.h"
#include "StatusFile.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace trevlin::helper {

HelperDaemon::HelperDaemon(const HelperEnvironment& env, std::shared_ptr<EngineContext> context)
    : env_(env),
      context_(std::move(context)),
      rules_(env_.rulesPath, context_->platform().activeCores()),
      holder_(context_, env_.allow, env_.journalDir) {}

int HelperDaemon::run(int signalFd) {
    Platform& platform = context_->platform();
    double nextRules = now(platform);
    double nextStatus = nextRules;
    for (;;) {
        const double t = now(platform);
        if (t >= nextRules) {
            if (auto rules = rules_.poll()) {
                holder_.apply(*rules);
                nextStatus = t;  // show the change at once
            }
            // Fixed steps on the monotonic clock; after a long stall, start afresh.
            nextRules = std::max(nextRules + rulesInterval, t);
        }
        if (now(platform) >= nextStatus) {
            writeStatus();
            nextStatus = std::max(nextStatus + statusInterval, now(platform));
        }
        const double wait = std::min(nextRules, nextStatus) - now(platform);
        pollfd p{signalFd, POLLIN, 0};
        const int rc = ::poll(&p, 1, std::max(0, static_cast<int>(std::ceil(wait * 1000))));
        if (rc < 0 && errno != EINTR) {
            log(std::string("cannot wait for signals; stopping"));
            break;
        }
        if (rc > 0) {
            signalfd_siginfo info{};
            if (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                holder_.shutdown();
                Files::remove(env_.statusPath);
                return static_cast<int>(info.ssi_signo);
            }
        }
    }
    holder_.shutdown();
    Files::remove(env_.statusPath);
    return 0;
}

void HelperDaemon::writeStatus() {
    std::string error;
    const bool ok = helper::writeStatus(env_.statusPath, holder_.status(context_->platform().wallClock()), &error);
    // Said once when writing starts failing and once when it works again.
    if (!ok && !statusFailing_) log("cannot write the status file: " + error);
    if (ok && statusFailing_) log("the status file is written again");
    statusFailing_ = !ok;
}

}  // namespace trevlin::helper
