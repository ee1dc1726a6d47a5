#include "AppLimiter.h"

#include "LimiterLoop.h"
#include "LimiterTuning.h"
#include "ProcessUtil.h"

#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <thread>

namespace trevlin {

std::shared_ptr<AppLimiter> AppLimiter::make(std::shared_ptr<EngineContext> context, AppMatch app, Rule rule,
                                             std::shared_ptr<Journal> journal, std::function<double()> periodMs,
                                             StatusCallback onStatus, TargetProvider customTargets) {
    return std::shared_ptr<AppLimiter>(new AppLimiter(std::move(context), std::move(app), rule, std::move(journal),
                                                      std::move(periodMs), std::move(onStatus),
                                                      std::move(customTargets)));
}

AppLimiter::AppLimiter(std::shared_ptr<EngineContext> context, AppMatch app, Rule rule,
                       std::shared_ptr<Journal> journal, std::function<double()> periodMs, StatusCallback onStatus,
                       TargetProvider customTargets)
    : context_(std::move(context)),
      app_(std::move(app)),
      periodMs_(std::move(periodMs)),
      onStatus_(std::move(onStatus)),
      journal_(std::move(journal)),
      customTargets_(std::move(customTargets)),
      probe_(*context_, app_.path),
      shared_(rule, LimiterStatus::initial(app_.name, app_.path, rule.maxCores, rule.method)) {
    probe_.customTargets = customTargets_;
}

AppLimiter::~AppLimiter() { leaveFrontTracker(); }

void AppLimiter::leaveFrontTracker() {
    int observer;
    {
        std::lock_guard<std::mutex> g(lifeLock_);
        observer = frontObserver_;
        frontObserver_ = 0;
    }
    if (observer) context_->front().removeObserver(observer);
}

void AppLimiter::start() {
    std::lock_guard<std::mutex> g(lifeLock_);
    if (phase_ == Phase::created) launchLocked();
}

void AppLimiter::startAsleep() {
    std::lock_guard<std::mutex> g(lifeLock_);
    if (phase_ != Phase::created) return;
    phase_ = Phase::asleep;
    shared_.setStatus(idleStatus(shared_.rule()));
}

void AppLimiter::setSleepHandler(std::function<void(std::shared_ptr<AppLimiter>)> handler) {
    std::lock_guard<std::mutex> g(lifeLock_);
    sleepHandler_ = std::move(handler);
}

bool AppLimiter::wake() {
    std::lock_guard<std::mutex> g(lifeLock_);
    if (phase_ != Phase::asleep || shared_.quitRequested()) return false;
    launchLocked();
    return true;
}

bool AppLimiter::asleep() {
    std::lock_guard<std::mutex> g(lifeLock_);
    return phase_ == Phase::asleep;
}

void AppLimiter::launchLocked() {
    phase_ = Phase::running;
    // Activations matter only while the thread runs (pause mode continues
    // what it holds the moment the app comes to the front).
    if (!frontObserver_) {
        std::weak_ptr<AppLimiter> weak = weak_from_this();
        frontObserver_ = context_->front().addObserver([weak](FrontApp front) {
            if (auto self = weak.lock()) self->frontChanged(front);
        });
    }
    // The thread keeps the limiter alive until it has restored everything.
    std::thread([self = shared_from_this()] { self->threadMain(); }).detach();
}

void AppLimiter::threadMain() {
    const bool slept = run();
    if (slept) leaveFrontTracker();
    std::function<void(std::shared_ptr<AppLimiter>)> handler;
    {
        std::lock_guard<std::mutex> g(lifeLock_);
        const bool sleeps = slept && !shared_.quitRequested();
        phase_ = sleeps ? Phase::asleep : Phase::ended;
        if (sleeps) handler = sleepHandler_;
    }
    // Whoever waits in `waitStopped` looks again.
    context_->platform().notifyWaiters();
    if (handler) handler(shared_from_this());
}

bool AppLimiter::run() {
    // Thread names are limited to 15 characters: keep what fits.
    std::string name = "Trevlin limiter: " + app_.name;
    ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
    // Wake-ups within a microsecond of their deadline: a 3 % run slice of a
    // 20 ms period is 0.6 ms.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    // The thread sleeps almost all the time but must wake on time even when
    // the machine is busy: on a loaded two-core machine a normal thread
    // wakes a median 3 ms late, one at nice -10 within 0.1 ms. Raise it
    // where the system allows (root, CAP_SYS_NICE or RLIMIT_NICE), else
    // at least undo an inherited positive nice value. Only this thread.
    const id_t thread = static_cast<id_t>(::gettid());
    if (::setpriority(PRIO_PROCESS, thread, -10) != 0) ::setpriority(PRIO_PROCESS, thread, 0);
    bool maySleep;
    {
        std::lock_guard<std::mutex> g(lifeLock_);
        maySleep = static_cast<bool>(sleepHandler_);
    }
    LimiterLoop loop(*context_, shared_, app_, *journal_, customTargets_, onStatus_, periodMs_, wake_);
    return loop.run(maySleep);
}

void AppLimiter::requestStop() {
    shared_.requestQuit();
    wake_.signal();
}

bool AppLimiter::waitStopped(double deadline) {
    Platform& platform = context_->platform();
    auto ended = [this] {
        std::lock_guard<std::mutex> g(lifeLock_);
        return phase_ != Phase::running;
    };
    const bool done = ended() || platform.waitUntil(ticksFromSeconds(platform, deadline), ended);
    leaveFrontTracker();
    return done;
}

void AppLimiter::stop() {
    requestStop();
    waitStopped(now(context_->platform()) + LimiterTuning::kStopWaitSeconds);
}

LimiterStatus AppLimiter::idleStatus(const Rule& rule) const {
    if (rule.method == Method::pause) {
        LimiterStatus::PauseFacts f;
        f.state = probe_.launcherExe() ? PauseState::none : PauseState::inFront;
        return LimiterStatus::pause(app_.name, app_.path, rule.maxCores, f);
    }
    return LimiterStatus::dutyCycle(app_.name, app_.path, rule.maxCores, rule.method, {});
}

void AppLimiter::setRule(const Rule& rule) {
    shared_.setRule(rule);
    {
        std::lock_guard<std::mutex> g(lifeLock_);
        if (phase_ == Phase::asleep) shared_.setStatus(idleStatus(rule));
    }
    wake_.signal();
}

void AppLimiter::frontChanged(FrontApp front) {
    auto held = shared_.heldIfActivated(front);
    if (!held) return;
    // Continue at once; the loop tidies its records on its next turn.
    Platform& platform = context_->platform();
    FactsWanted pending;
    pending.stopPending = true;
    for (const auto& [p, start] : *held) {
        if (!isSameProcess(platform, p, start)) continue;
        // A stop the user sent while it was held waits in the kernel; a
        // SIGCONT would discard it. It stands; the loop takes note.
        if (auto f = platform.processFacts(p, pending); f && f->stopPending.value_or(false)) continue;
        platform.sendSignal(p, SIGCONT);
    }
    if (!held->empty()) shared_.noteContinuedByActivation();
    wake_.signal();
}

}  // namespace trevlin
