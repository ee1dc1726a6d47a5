#include "SignalWatcher.h"

#include <QSocketNotifier>

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

namespace trevlin {

namespace {

sigset_t setOf(const std::vector<int>& which) {
    sigset_t set;
    sigemptyset(&set);
    for (int s : which) sigaddset(&set, s);
    return set;
}

}  // namespace

bool SignalWatcher::blockAndIgnore(const std::vector<int>& which) {
    sigset_t set = setOf(which);
    // Block first: a blocked signal is queued even while its disposition is
    // ignore, so nothing is lost between the two steps.
    if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return false;
    for (int s : which) ::signal(s, SIG_IGN);
    return true;
}

SignalWatcher::SignalWatcher(const std::vector<int>& which, std::function<void(int)> handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {
    sigset_t set = setOf(which);
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) return;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { readSignals(); });
}

SignalWatcher::~SignalWatcher() {
    delete notifier_;
    if (fd_ >= 0) ::close(fd_);
}

void SignalWatcher::readSignals() {
    for (;;) {
        signalfd_siginfo info;
        ssize_t n = ::read(fd_, &info, sizeof info);
        if (n < 0 && errno == EINTR) continue;
        if (n != static_cast<ssize_t>(sizeof info)) return;
        if (handler_) handler_(static_cast<int>(info.ssi_signo));
    }
}

}  // namespace trevlin
