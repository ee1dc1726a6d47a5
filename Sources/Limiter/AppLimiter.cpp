#include "AppLimiter.h"

#include "BusyReasons.h"
#include "ProcessUtil.h"
#include "SavingsEstimate.h"

#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <map>
#include <optional>
#include <thread>
#include <unordered_set>

namespace trevlin {

namespace {

/// Seconds between two pause-mode catch-up windows: 300, or a number above 0
/// from TREVLIN_CATCHUP_TEST_SECONDS.
double catchUpIntervalFromEnvironment() {
    const char* text = std::getenv("TREVLIN_CATCHUP_TEST_SECONDS");
    if (!text || !*text || std::isspace(static_cast<unsigned char>(*text))) return 300.0;
    char* end = nullptr;
    double v = std::strtod(text, &end);
    // The whole text must be the number: "10s" is not ten seconds.
    if (end == text || *end != '\0' || !std::isfinite(v) || v <= 0) return 300.0;
    return v;
}

constexpr double kCatchUpSeconds = 5.0;
constexpr double kMinFraction = 0.03;

}  // namespace

// The limiter thread's state and its two loops: the duty cycle (smart,
// strict, ecores) and the pause loop. Everything here belongs to the thread;
// only the fields of `AppLimiter` under its lock are shared.
class LimiterLoop {
public:
    explicit LimiterLoop(AppLimiter& limiter);
    void run();

private:
    using Proc = AppLimiter::Proc;

    // Shared helpers -----------------------------------------------------------
    bool touchable(const Proc& r, Pid front, Method method) const;
    void journalWrite(Pid pid, const Proc& r) { journal_.update(app_, pid, r.start, r.pauseManaged, r.demoted); }
    int signal(Pid pid, int sig) { return plat_.sendSignal(pid, sig); }
    Proc freshRecord(Pid pid, const Sample& s);
    void rebuildBrowserOwners();
    void release(Pid pid, bool resume, bool promote);
    void pin(Pid pid, Proc& r, std::vector<Pid>& demoteList);
    void demote(const std::vector<Pid>& pids);
    /// Drops the record of a process that left the app; one that is still
    /// the same process and still held by us is let go first.
    void forget(Pid pid);
    bool sleepUntil(double deadline);

    // Duty cycle ---------------------------------------------------------------
    /// One tick; false when the loop must end at once.
    bool dutyTick(const Rule& rule, double periodMs);

    // Pause loop ---------------------------------------------------------------
    void pauseTurn(const Rule& rule);
    void pauseScan(double t);
    bool inFront(Pid front);
    void hold(Pid front);
    void releaseHeld();
    void resetPauseState();

    void restore();

    AppLimiter& L;
    EngineContext& context_;
    Platform& plat_;
    Journal& journal_;
    const std::string app_;
    AppScanner scanner_;
    std::map<Pid, Proc> procs_;
    std::set<Pid> browserOwners_;
    SystemBusySampler busy_;
    int logicalCores_;
    double startTime_;
    double catchUpInterval_;
    Method prevMethod_;
    bool prevAlwaysEfficiency_;

    // Duty cycle state.
    std::optional<double> lastTick_;
    std::optional<double> lastScan_;
    std::vector<Pid> targets_;
    double smoothed_ = 0;
    double gain_ = 1.0;
    double prevFraction_ = 1.0;
    double runSlice_ = 0;
    long ticks_ = 0;
    double smoothedEstimate_ = 0;
    std::deque<double> history_;
    double lastStatus_;

    // Pause loop state.
    struct Pause {
        int scans = 0;
        std::optional<double> lastScan;
        double latestCores = 0;
        std::optional<double> total;
        std::optional<double> background;
        double estimate = 0;
        bool holding = false;
        bool catchUpRunning = false;
        double catchUpEnd = 0;
        double nextCatchUp = 0;
        std::optional<std::string> busyReason;
        std::optional<double> lastBusyAsk;
        double current = 0;
        PauseState state = PauseState::inFront;
    } pause_;
};

LimiterLoop::LimiterLoop(AppLimiter& limiter)
    : L(limiter),
      context_(*limiter.context_),
      plat_(context_.platform()),
      journal_(*limiter.journal_),
      app_(limiter.app_.path),
      scanner_(context_, limiter.app_.path),
      busy_(plat_) {
    scanner_.customTargets = L.customTargets_;
    logicalCores_ = plat_.activeCores();
    startTime_ = now(plat_);
    lastStatus_ = startTime_;
    catchUpInterval_ = catchUpIntervalFromEnvironment();
    Rule r = L.rule();
    prevMethod_ = r.method;
    prevAlwaysEfficiency_ = r.alwaysEfficiency;
}

bool LimiterLoop::touchable(const Proc& r, Pid front, Method method) const {
    if (r.role.critical) return false;
    if (!r.role.isMain) return true;
    // A browser's main process is never stopped, only its helpers.
    if (browserOwners_.count(r.owner)) return false;
    if (method == Method::strict) return true;
    return r.owner != front;
}

AppLimiter::Proc LimiterLoop::freshRecord(Pid pid, const Sample& s) {
    Proc r;
    r.start = s.start;
    r.lastCPU = s.cpu;
    const Pid responsible = owner(plat_, pid);
    r.role = scanner_.role(pid, responsible, exePath(plat_, pid), commandLine(plat_, pid));
    r.owner = r.role.isMain ? pid : responsible;
    r.priority = 31;
    if (r.role.isChromiumHelper) browserOwners_.insert(r.owner);
    return r;
}

void LimiterLoop::rebuildBrowserOwners() {
    browserOwners_.clear();
    for (const auto& [pid, r] : procs_)
        if (r.role.isChromiumHelper) browserOwners_.insert(r.owner);
}

void LimiterLoop::release(Pid pid, bool resume, bool promote) {
    auto it = procs_.find(pid);
    if (it == procs_.end()) return;
    Proc& r = it->second;
    const bool act = ((resume && r.paused) || (promote && r.demoted)) && isSameProcess(plat_, pid, r.start);
    if (resume) {
        if (r.paused && act) signal(pid, SIGCONT);
        r.paused = false;
        r.pauseManaged = false;
    }
    if (promote && r.demoted) {
        if (act) plat_.promote(pid);
        r.demoted = false;
        r.pinned = false;
    }
    journalWrite(pid, r);  // removes the entry when neither flag remains
}

void LimiterLoop::pin(Pid pid, Proc& r, std::vector<Pid>& demoteList) {
    r.demoted = true;
    r.pinned = true;
    r.demandWhenDemoted = r.usage;
    r.quietTicks = 0;
    demoteList.push_back(pid);
}

void LimiterLoop::demote(const std::vector<Pid>& pids) {
    for (Pid pid : pids) {
        auto it = procs_.find(pid);
        if (it != procs_.end()) journal_.update(app_, pid, it->second.start, it->second.pauseManaged, true);
    }
    journal_.flush();
    for (Pid pid : pids)
        if (procs_.count(pid)) plat_.demote(pid);
}

void LimiterLoop::forget(Pid pid) {
    auto it = procs_.find(pid);
    if (it == procs_.end()) return;
    const Proc& r = it->second;
    if ((r.paused || r.pauseManaged || r.demoted) && isSameProcess(plat_, pid, r.start)) {
        if (r.paused || r.pauseManaged) signal(pid, SIGCONT);
        if (r.demoted) plat_.promote(pid);
    }
    journal_.remove(app_, pid);
    procs_.erase(it);
}

bool LimiterLoop::sleepUntil(double deadline) {
    return plat_.waitUntil(ticksFromSeconds(plat_, deadline), [this] { return L.quitRequested(); });
}

void LimiterLoop::run() {
    for (;;) {
        if (L.quitRequested()) break;
        const double periodMs = L.periodMs_ ? L.periodMs_() : 100.0;
        const Rule rule = L.rule();
        if (rule.method != prevMethod_) {
            // A new method starts from a clean slate: everything runs again
            // at normal priority before the new method takes over.
            std::vector<Pid> pids;
            for (const auto& [pid, r] : procs_) pids.push_back(pid);
            for (Pid pid : pids) release(pid, true, true);
            journal_.flush();
            {
                std::lock_guard<std::mutex> g(L.lock_);
                L.heldPids_.clear();
            }
            resetPauseState();
        } else if (prevAlwaysEfficiency_ && !rule.alwaysEfficiency) {
            std::vector<Pid> pinned;
            for (const auto& [pid, r] : procs_)
                if (r.pinned) pinned.push_back(pid);
            for (Pid pid : pinned) release(pid, false, true);
            journal_.flush();
        }
        prevMethod_ = rule.method;
        prevAlwaysEfficiency_ = rule.alwaysEfficiency;

        if (rule.method == Method::pause) {
            pauseTurn(rule);
            if (L.quitRequested()) break;
            L.wake_.wait(0.25);
        } else if (!dutyTick(rule, periodMs)) {
            break;
        }
    }
    restore();
}

// Duty cycle -------------------------------------------------------------------

bool LimiterLoop::dutyTick(const Rule& rule, double periodMs) {
    const double t = now(plat_);
    const double dt = std::max(t - lastTick_.value_or(startTime_), 0.001);
    lastTick_ = t;
    if (!lastScan_ || t - *lastScan_ >= 1.0) {
        targets_ = scanner_.targetPids();
        std::set<Pid> unique;
        std::erase_if(targets_, [&](Pid p) { return !unique.insert(p).second; });
        lastScan_ = t;
        rebuildBrowserOwners();
    }
    const Pid front = context_.front().pid();
    const Method method = rule.method;

    // Sampling.
    struct Seen {
        Pid pid;
        double instant;
        bool fresh;
    };
    std::vector<Seen> seen;
    for (Pid pid : targets_) {
        auto s = readSample(plat_, pid);
        if (!s) continue;  // gone this tick
        auto it = procs_.find(pid);
        if (it == procs_.end() || it->second.start != s->start) {
            // New process, or the pid now names another one: nothing of the
            // old record carries over.
            if (it != procs_.end()) journal_.remove(app_, pid);
            procs_[pid] = freshRecord(pid, *s);
            seen.push_back({pid, 0.0, true});
            continue;
        }
        Proc& r = it->second;
        const double delta = std::max(s->cpu - r.lastCPU, 0.0);
        r.lastCPU = s->cpu;
        r.priority = s->priority;
        r.usage = 0.8 * r.usage + 0.2 * delta / dt;
        const double rate = std::min(delta / (r.paused ? std::max(runSlice_, 0.001) : dt), 32.0);
        r.demand = 0.5 * r.demand + 0.5 * rate;
        r.demandHi = std::max({0.985 * r.demandHi, r.demand, std::min(rate, r.demandHi <= 1 ? 1.1 : 1.1 * r.demandHi)});
        const double instant = delta / dt;
        if (prevFraction_ >= 0.999 && !r.paused && !r.demoted) {
            r.freeN += 1;
            if (r.freeN >= 2) {
                const double w = std::max(1.0 / (r.freeN - 1), 0.1);
                r.free = r.free > 0 ? (1 - w) * r.free + w * instant : instant;
            }
        }
        seen.push_back({pid, instant, false});
    }

    // Candidates and everything else.
    std::vector<Pid> candidates, demoteList;
    double candidateDemand = 0, untouchable = 0, estimate = 0, total = 0;
    for (const auto& sn : seen) {
        total += sn.instant;
        if (sn.fresh) continue;  // nothing else happens to a record in its first tick
        Proc& r = procs_[sn.pid];
        const bool touch = touchable(r, front, method);
        bool candidate = false;
        if (method != Method::ecores && touch && r.demand > 0.05) {
            candidate = method == Method::strict || r.owner != front || (r.priority < 11 && !r.demoted);
        }
        if (candidate) {
            candidates.push_back(sn.pid);
            candidateDemand += r.demand;
            if (r.demoted && !touch) release(sn.pid, false, true);
            if (touch && !r.demoted && rule.alwaysEfficiency) pin(sn.pid, r, demoteList);
            estimate += r.free > 0 ? std::min(r.free, std::max(r.demand, r.demandHi)) : r.demand;
        } else {
            untouchable += sn.instant;
            if (r.paused) {
                signal(sn.pid, SIGCONT);
                r.paused = false;
            }
            if (r.pauseManaged) {
                r.pauseManaged = false;
                journalWrite(sn.pid, r);
            }
            double own = sn.instant;
            if (r.demoted && touch) {
                own = std::max(r.usage, r.demandWhenDemoted);
            } else if (r.demoted && !touch) {
                release(sn.pid, false, true);
            } else if (!r.demoted && touch && rule.alwaysEfficiency) {
                pin(sn.pid, r, demoteList);
            }
            estimate += own;
        }
    }

    // Processes that left.
    std::unordered_set<Pid> seenPids;
    for (const auto& sn : seen) seenPids.insert(sn.pid);
    std::vector<Pid> gone;
    for (const auto& [pid, r] : procs_)
        if (!seenPids.count(pid)) gone.push_back(pid);
    for (Pid pid : gone) forget(pid);
    if (!demoteList.empty()) demote(demoteList);

    // Allowed run fraction.
    smoothed_ = 0.8 * smoothed_ + 0.2 * total;
    const double cap = rule.maxCores;
    if (prevFraction_ < 1.0 || smoothed_ > cap) {
        if (smoothed_ > cap) gain_ *= 0.98;
        else if (smoothed_ < 0.97 * cap) gain_ *= 1.01;
        gain_ = std::clamp(gain_, 0.25, 1.3);
    } else {
        gain_ = 1.0;
    }
    const double budget = std::max(cap - untouchable, 0.0);
    double fraction = candidateDemand <= 0 ? 1.0 : std::clamp(gain_ * budget / candidateDemand, kMinFraction, 1.0);
    if (t - startTime_ < 1.0) fraction = 1.0;

    // Unthrottled estimate, every tick.
    if (auto busyCores = busy_.sample(dt))
        estimate = SavingsCap::cap(estimate, smoothed_, logicalCores_, busyCores);
    ticks_ += 1;
    if (ticks_ >= 5) {
        const double w = std::max(1.0 / static_cast<double>(ticks_ - 4), 1.0 - std::exp(-dt / 5.0));
        smoothedEstimate_ = (1 - w) * smoothedEstimate_ + w * estimate;
    }

    // Once a second: efficiency cores, notes, savings, status.
    if (t - lastStatus_ >= 1.0) {
        lastStatus_ = t;
        if (method == Method::ecores || rule.alwaysEfficiency) {
            for (const auto& [pid, r] : procs_)
                if (r.demoted) plat_.demote(pid);  // threads started since are moved too
        }
        std::string note;
        if (method == Method::ecores) {
            if (smoothed_ > cap) {
                std::optional<Pid> heaviest;
                double most = 0;
                for (const auto& sn : seen) {
                    if (sn.fresh) continue;
                    const Proc& r = procs_[sn.pid];
                    if (!touchable(r, front, method) || r.demoted || r.usage <= 0.2 || r.priority <= 10) continue;
                    if (!heaviest || r.usage > most) {
                        heaviest = sn.pid;
                        most = r.usage;
                    }
                }
                if (heaviest) {
                    Proc& r = procs_[*heaviest];
                    r.demoted = true;
                    r.demandWhenDemoted = r.usage;
                    r.quietTicks = 0;
                    demote({*heaviest});
                } else {
                    note = LimiterNotes::ecoresNothingLeft;
                }
            } else {
                std::optional<Pid> quiet, roomy;
                for (auto& [pid, r] : procs_) {
                    if (!r.demoted || r.pinned) continue;
                    r.quietTicks = r.usage < 0.1 ? r.quietTicks + 1 : 0;
                    if (!quiet && r.quietTicks > 4) quiet = pid;
                    if (!roomy && r.demandWhenDemoted + (smoothed_ - r.usage) < 0.9 * cap) roomy = pid;
                }
                if (auto back = quiet ? quiet : roomy) {
                    release(*back, false, true);
                    journal_.flush();
                }
            }
        } else if (smoothed_ > 1.1 * cap && (fraction <= 0.031 || candidates.empty())) {
            note = method == Method::smart ? LimiterNotes::smartRestInFront : LimiterNotes::strictRestUntouchable;
        }

        int demoted = 0;
        for (const auto& [pid, r] : procs_) demoted += r.demoted;
        const bool active = (method != Method::ecores && fraction < 1.0) || demoted > 0;
        if (active) {
            history_.push_back(smoothedEstimate_);
            if (history_.size() > 10) history_.pop_front();
        } else {
            history_.clear();
        }
        const double lowest = history_.empty() ? 0.0 : *std::min_element(history_.begin(), history_.end());

        LimiterStatus::DutyCycleFacts f;
        f.currentCores = smoothed_;
        f.processCount = static_cast<int>(seen.size());
        f.candidateCount = static_cast<int>(candidates.size());
        f.demotedCount = demoted;
        f.fraction = fraction;
        f.note = note;
        f.savedCores = active ? std::max(0.0, lowest - smoothed_) : 0.0;
        f.unthrottledCores = active ? std::max(lowest, smoothed_) : smoothed_;
        L.publish(LimiterStatus::dutyCycle(L.app_.name, app_, cap, method, f));
    }

    // The stop/continue cycle: journal first, then signals.
    for (Pid pid : candidates) {
        Proc& r = procs_[pid];
        if (!r.pauseManaged) {
            r.pauseManaged = true;
            journalWrite(pid, r);
        }
    }
    journal_.flush();
    const double period = periodMs / 1000.0;
    prevFraction_ = fraction;
    if (fraction >= 1.0) {
        for (Pid pid : candidates) {
            Proc& r = procs_[pid];
            if (r.paused) {
                signal(pid, SIGCONT);
                r.paused = false;
            }
        }
        sleepUntil(t + period);
        return true;
    }
    for (Pid pid : candidates) {
        signal(pid, SIGCONT);
        procs_[pid].paused = false;
    }
    const double runStart = now(plat_);
    sleepUntil(runStart + period * fraction);
    // A candidate may have exited during its slice and its pid gone to
    // another process, which must not be stopped.
    for (Pid pid : candidates) {
        Proc& r = procs_[pid];
        if (isSameProcess(plat_, pid, r.start) && signal(pid, SIGSTOP) == 0) r.paused = true;
    }
    runSlice_ = now(plat_) - runStart;
    if (L.quitRequested()) return false;
    sleepUntil(t + period);
    return true;
}

// Pause loop -------------------------------------------------------------------

void LimiterLoop::resetPauseState() { pause_ = Pause{}; }

void LimiterLoop::pauseScan(double t) {
    const double since = std::max(t - pause_.lastScan.value_or(t), 0.001);
    auto pids = scanner_.targetPids();
    std::unordered_set<Pid> seen;
    double cpu = 0;
    for (Pid pid : pids) {
        if (seen.count(pid)) continue;
        auto s = readSample(plat_, pid);
        if (!s) continue;
        seen.insert(pid);
        auto it = procs_.find(pid);
        if (it == procs_.end() || it->second.start != s->start) {
            if (it != procs_.end()) journal_.remove(app_, pid);
            procs_[pid] = freshRecord(pid, *s);
            continue;
        }
        cpu += std::max(s->cpu - it->second.lastCPU, 0.0);
        it->second.lastCPU = s->cpu;
        it->second.priority = s->priority;
    }
    std::vector<Pid> gone;
    for (const auto& [pid, r] : procs_)
        if (!seen.count(pid)) gone.push_back(pid);
    for (Pid pid : gone) forget(pid);
    if (!gone.empty()) journal_.flush();
    rebuildBrowserOwners();
    {
        std::set<Pid> front;
        for (const auto& [pid, r] : procs_) front.insert(pid);
        for (Pid pid : scanner_.mainInstancePids()) front.insert(pid);
        std::lock_guard<std::mutex> g(L.lock_);
        L.frontSet_ = std::move(front);
    }
    pause_.lastScan = t;
    pause_.scans += 1;
    if (pause_.scans <= 2) return;  // the first two scans only establish the baseline
    const double cores = cpu / since;
    pause_.latestCores = cores;
    // What the app uses when it runs freely, overall and in the background.
    const bool stopped = std::any_of(procs_.begin(), procs_.end(), [](const auto& kv) { return kv.second.paused; });
    if (!stopped && !pause_.catchUpRunning) {
        pause_.total = pause_.total ? 0.8 * *pause_.total + 0.2 * cores : cores;
        if (!inFront(context_.front().pid()))
            pause_.background = pause_.background ? 0.8 * *pause_.background + 0.2 * cores : cores;
    }
}

bool LimiterLoop::inFront(Pid front) {
    if (front == 0) return false;
    std::lock_guard<std::mutex> g(L.lock_);
    return L.frontSet_.count(front) != 0;
}

void LimiterLoop::pauseTurn(const Rule& rule) {
    // An activation continued what the hold had stopped. Should the app be
    // in the background again by now, the hold must stop those processes
    // anew, so they no longer count as stopped (they stay journaled).
    if (L.frontContinued_.exchange(false)) {
        for (auto& [pid, r] : procs_) r.paused = false;
    }
    const double t = now(plat_);
    const Pid front = context_.front().pid();
    const double scanEvery = pause_.scans < 2 ? 0.4 : 1.0;
    if (!pause_.lastScan || t - *pause_.lastScan >= scanEvery) pauseScan(t);

    const bool appInFront = inFront(front);
    if (scanner_.launcherExe()) {
        releaseHeld();
        pause_.holding = false;
        pause_.catchUpRunning = false;
        pause_.state = PauseState::none;
    } else if (appInFront || pause_.scans < 2) {
        releaseHeld();
        pause_.holding = false;
        pause_.catchUpRunning = false;
        pause_.busyReason.reset();
        pause_.lastBusyAsk.reset();
        pause_.state = PauseState::inFront;
    } else {
        if (!rule.pauseSparesBusy) {
            pause_.busyReason.reset();
            pause_.lastBusyAsk.reset();
        } else if (!pause_.lastBusyAsk || t - *pause_.lastBusyAsk >= 2.0) {
            std::set<Pid> pids;
            {
                std::lock_guard<std::mutex> g(L.lock_);
                pids = L.frontSet_;
            }
            pause_.busyReason = BusyReasons::ask(plat_, pids);
            pause_.lastBusyAsk = t;
        }
        if (rule.pauseSparesBusy && pause_.busyReason) {
            releaseHeld();
            pause_.holding = false;
            pause_.catchUpRunning = false;
            pause_.state = PauseState::spared;
        } else {
            if (!pause_.holding) {
                // A new hold: note what the app used in the background.
                pause_.estimate = pause_.background ? std::min(*pause_.background, pause_.total.value_or(0.0))
                                                    : pause_.total.value_or(0.0);
                pause_.nextCatchUp = t + catchUpInterval_;
                pause_.holding = true;
            }
            if (!rule.pauseCatchUp && pause_.catchUpRunning) {
                pause_.catchUpRunning = false;
                pause_.nextCatchUp = t + catchUpInterval_;
            }
            if (rule.pauseCatchUp && pause_.catchUpRunning && t >= pause_.catchUpEnd) {
                pause_.catchUpRunning = false;
                pause_.nextCatchUp = t + catchUpInterval_;
            } else if (rule.pauseCatchUp && !pause_.catchUpRunning && t >= pause_.nextCatchUp) {
                releaseHeld();
                pause_.catchUpRunning = true;
                pause_.catchUpEnd = t + kCatchUpSeconds;
            }
            if (pause_.catchUpRunning) {
                pause_.state = PauseState::catchUp;
            } else {
                pause_.state = PauseState::paused;
                hold(front);
            }
        }
    }

    // Status, once a second.
    if (t - lastStatus_ >= 1.0) {
        const double since = t - lastStatus_;
        lastStatus_ = t;
        pause_.current = pause_.scans >= 3 ? 0.8 * pause_.current + 0.2 * pause_.latestCores : pause_.latestCores;
        int stopped = 0;
        for (const auto& [pid, r] : procs_) stopped += r.paused;
        if (pause_.holding) pause_.estimate *= 0.998845;  // half-life of about ten minutes
        const auto busyCores = busy_.sample(std::max(since, 0.1));
        LimiterStatus::PauseFacts f;
        f.state = pause_.state;
        f.currentCores = pause_.current;
        f.processCount = static_cast<int>(procs_.size());
        f.stoppedCount = stopped;
        f.reason = pause_.state == PauseState::spared ? pause_.busyReason.value_or("") : "";
        f.cappedEstimate = SavingsCap::cap(pause_.estimate, pause_.current, logicalCores_, busyCores);
        L.publish(LimiterStatus::pause(L.app_.name, app_, rule.maxCores, f));
    }
}

void LimiterLoop::hold(Pid front) {
    std::vector<Pid> picked;
    for (const auto& [pid, r] : procs_)
        if (!r.paused && touchable(r, front, Method::pause)) picked.push_back(pid);
    for (Pid pid : picked) {
        Proc& r = procs_[pid];
        r.pauseManaged = true;
        journalWrite(pid, r);
    }
    journal_.flush();
    {
        std::vector<std::pair<Pid, uint64_t>> held;
        for (const auto& [pid, r] : procs_)
            if (r.paused) held.emplace_back(pid, r.start);
        for (Pid pid : picked) held.emplace_back(pid, procs_[pid].start);
        std::lock_guard<std::mutex> g(L.lock_);
        L.heldPids_ = std::move(held);
    }
    for (Pid pid : picked) {
        Proc& r = procs_[pid];
        if (isSameProcess(plat_, pid, r.start) && signal(pid, SIGSTOP) == 0) r.paused = true;
    }
    // The app may have come to the front while we were stopping it.
    if (inFront(context_.front().pid())) {
        releaseHeld();
        pause_.holding = false;
        pause_.state = PauseState::inFront;
    }
}

void LimiterLoop::releaseHeld() {
    bool any = false;
    for (auto& [pid, r] : procs_) {
        if (!r.paused && !r.pauseManaged) continue;
        if (isSameProcess(plat_, pid, r.start)) signal(pid, SIGCONT);
        r.paused = false;
        r.pauseManaged = false;
        journalWrite(pid, r);
        any = true;
    }
    {
        std::lock_guard<std::mutex> g(L.lock_);
        L.heldPids_.clear();
    }
    if (any) journal_.flush();
}

// Leaving ----------------------------------------------------------------------

void LimiterLoop::restore() {
    for (const auto& [pid, r] : procs_) {
        if (!r.paused && !r.pauseManaged && !r.demoted) continue;
        if (!isSameProcess(plat_, pid, r.start)) continue;
        if (r.paused || r.pauseManaged) signal(pid, SIGCONT);
        if (r.demoted) plat_.promote(pid);
    }
    procs_.clear();
    journal_.removeAll(app_);
    journal_.flush();
    std::lock_guard<std::mutex> g(L.lock_);
    L.heldPids_.clear();
    L.status_.currentCores = 0;
    L.status_.isThrottling = false;
    L.status_.pausedProcessCount = 0;
    L.status_.demotedProcessCount = 0;
}

// AppLimiter -------------------------------------------------------------------

std::shared_ptr<AppLimiter> AppLimiter::make(std::shared_ptr<EngineContext> context, AppMatch app, Rule rule, std::shared_ptr<Journal> journal,
                                             std::function<double()> periodMs, StatusCallback onStatus,
                                             TargetProvider customTargets) {
    return std::shared_ptr<AppLimiter>(new AppLimiter(std::move(context), std::move(app), rule, std::move(journal), std::move(periodMs),
                                                      std::move(onStatus), std::move(customTargets)));
}

AppLimiter::AppLimiter(std::shared_ptr<EngineContext> context, AppMatch app, Rule rule, std::shared_ptr<Journal> journal, std::function<double()> periodMs,
                       StatusCallback onStatus, TargetProvider customTargets)
    : context_(std::move(context)),
      app_(std::move(app)), periodMs_(std::move(periodMs)), onStatus_(std::move(onStatus)),
      journal_(std::move(journal)), customTargets_(std::move(customTargets)), rule_(rule),
      status_(LimiterStatus::initial(app_.name, app_.path, rule.maxCores, rule.method)) {}

AppLimiter::~AppLimiter() {
    int observer;
    {
        std::lock_guard<std::mutex> g(lock_);
        observer = frontObserver_;
        frontObserver_ = 0;
    }
    if (observer) context_->front().removeObserver(observer);
}

void AppLimiter::start() {
    if (started_.exchange(true)) return;
    std::weak_ptr<AppLimiter> weak = weak_from_this();
    int observer = context_->front().addObserver([weak](Pid pid) {
        if (auto self = weak.lock()) self->frontChanged(pid);
    });
    {
        std::lock_guard<std::mutex> g(lock_);
        frontObserver_ = observer;
    }
    // The thread keeps the limiter alive until it has restored everything.
    std::thread([self = shared_from_this()] {
        self->run();
        self->finished_ = true;
        self->done_.signal();
    }).detach();
}

void AppLimiter::run() {
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
    LimiterLoop loop(*this);
    loop.run();
}

void AppLimiter::stop() {
    {
        std::lock_guard<std::mutex> g(lock_);
        quitFlag_ = true;
    }
    wake_.signal();
    if (started_ && !finished_) done_.wait(5.0);
    int observer;
    {
        std::lock_guard<std::mutex> g(lock_);
        observer = frontObserver_;
        frontObserver_ = 0;
    }
    if (observer) context_->front().removeObserver(observer);
}

void AppLimiter::setRule(const Rule& rule) {
    {
        std::lock_guard<std::mutex> g(lock_);
        rule_ = rule;
    }
    wake_.signal();
}

Rule AppLimiter::rule() {
    std::lock_guard<std::mutex> g(lock_);
    return rule_;
}

LimiterStatus AppLimiter::status() {
    std::lock_guard<std::mutex> g(lock_);
    return status_;
}

void AppLimiter::setStatus(const LimiterStatus& status) {
    std::lock_guard<std::mutex> g(lock_);
    status_ = status;
}

bool AppLimiter::quitRequested() {
    std::lock_guard<std::mutex> g(lock_);
    return quitFlag_;
}

void AppLimiter::frontChanged(Pid pid) {
    std::vector<std::pair<Pid, uint64_t>> held;
    bool mine;
    {
        std::lock_guard<std::mutex> g(lock_);
        mine = frontSet_.count(pid) != 0;
        if (mine) held = heldPids_;
    }
    if (!mine) return;
    // Continue at once; the loop tidies its records on its next turn.
    for (const auto& [p, start] : held)
        if (isSameProcess(context_->platform(), p, start)) context_->platform().sendSignal(p, SIGCONT);
    if (!held.empty()) frontContinued_ = true;
    wake_.signal();
}

void AppLimiter::publish(const LimiterStatus& status) {
    {
        std::lock_guard<std::mutex> g(lock_);
        status_ = status;
    }
    if (onStatus_) onStatus_(status);
}

}  // namespace trevlin
