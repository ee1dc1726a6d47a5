#include "PauseLoop.h"

#include "LimiterTuning.h"
#include "BusyReasons.h"

#include <algorithm>
#include <set>

namespace trevlin {

using namespace LimiterTuning;

PauseLoop::PauseLoop(LoopContext& loop, double catchUpInterval)
    : loop_(loop), catchUpInterval_(catchUpInterval), machine_(catchUpInterval) {}

void PauseLoop::reset() {
    machine_ = PauseMachine(catchUpInterval_);
    scans_ = 0;
    lastScan_.reset();
    latestCores_ = 0;
    total_.reset();
    background_.reset();
    estimate_ = 0;
    current_ = 0;
}

void PauseLoop::turn(const Rule& rule) {
    ProcessRecords& records = loop_.records;
    records.setActivationsContinue(true);
    // An activation continued what the hold had stopped. Should the app be
    // in the background again by now, the hold must stop those processes
    // anew, so they no longer count as stopped (they stay journaled).
    if (loop_.shared.takeContinuedByActivation()) records.forgetStops();
    const double t = loop_.now();
    const FrontApp frontApp = loop_.context.front().app();
    const Pid front = frontApp.pid;
    const double scanEvery = scans_ < kWarmUpScans ? kFirstScansSeconds : kScanSeconds;
    if (!lastScan_ || t - *lastScan_ >= scanEvery) scan(t);

    PauseMachine::Seen seen;
    seen.now = t;
    seen.isGroup = loop_.scanner.launcherExe().has_value();
    seen.inFront = frontApp.known && loop_.shared.inFrontSet(front);
    if (!frontApp.known) seen.frontUnknown = loop_.context.front().unknownReason();
    seen.warmedUp = scans_ >= kWarmUpScans;
    seen.sparesBusy = rule.pauseSparesBusy;
    seen.catchUpEnabled = rule.pauseCatchUp;
    const auto turn = machine_.turn(seen, [this] {
        return BusyReasons::ask(loop_.platform, loop_.shared.frontSet());
    });
    if (turn.newHold) {
        // A new hold: what the app used in the background is what it saves.
        estimate_ = background_ ? std::min(*background_, total_.value_or(0.0)) : total_.value_or(0.0);
    }
    if (turn.release) releaseHeld();
    // Every turn, so that processes started since are held too.
    if (turn.hold) hold(front);

    if (t - loop_.lastStatus >= 1.0) publish(rule, t);
}

void PauseLoop::scan(double t) {
    ProcessRecords& records = loop_.records;
    const double since = std::max(t - lastScan_.value_or(t), 0.001);
    std::set<Pid> seen;
    double cpu = 0;
    for (Pid pid : loop_.scan()) {
        auto s = loop_.sample(pid);
        if (!s) continue;
        seen.insert(pid);
        cpu += s->delta;
    }
    bool gone = false;
    for (Pid pid : records.pids()) {
        if (seen.count(pid)) continue;
        records.forget(pid);
        gone = true;
    }
    records.noticeUserStops();
    if (gone) records.flush();
    records.rebuildBrowserOwners();
    std::set<Pid> frontSet(seen.begin(), seen.end());
    for (Pid pid : loop_.scanner.mainInstancePids()) frontSet.insert(pid);
    loop_.shared.setFrontSet(std::move(frontSet));

    lastScan_ = t;
    scans_ += 1;
    if (scans_ <= kWarmUpScans) return;  // the first scans only establish the baseline
    const double cores = cpu / since;
    latestCores_ = cores;
    // What the app uses when it runs freely, overall and in the background.
    const bool stopped = std::any_of(records.all().begin(), records.all().end(),
                                     [](const auto& kv) { return kv.second.paused; });
    if (stopped || machine_.catchingUp()) return;
    total_ = total_ ? (1 - kPauseSmoothing) * *total_ + kPauseSmoothing * cores : cores;
    const FrontApp frontApp = loop_.context.front().app();
    if (frontApp.known && !loop_.shared.inFrontSet(frontApp.pid))
        background_ = background_ ? (1 - kPauseSmoothing) * *background_ + kPauseSmoothing * cores : cores;
}

void PauseLoop::hold(Pid front) {
    ProcessRecords& records = loop_.records;
    std::vector<Pid> picked;
    std::vector<LimiterShared::Held> held;
    for (const auto& [pid, r] : records.all()) {
        if (r.paused) held.emplace_back(pid, r.start);
        else if (!r.stoppedByUser && records.touchable(r, front, Method::pause)) picked.push_back(pid);
    }
    records.manage(picked);
    // What the journal could not list stays running.
    std::erase_if(picked, [&](Pid pid) { return !records.find(pid)->pauseManaged; });
    for (Pid pid : picked) held.emplace_back(pid, records.find(pid)->start);
    loop_.shared.setHeld(std::move(held));
    for (Pid pid : picked) records.stop(pid);
    // The app may have come to the front while we were stopping it (or the
    // desktop may have stopped telling).
    const FrontApp now = loop_.context.front().app();
    if (!now.known || loop_.shared.inFrontSet(now.pid)) {
        releaseHeld();
        machine_.cameToFront();
    }
}

void PauseLoop::releaseHeld() {
    ProcessRecords& records = loop_.records;
    bool any = false;
    for (Pid pid : records.pids()) {
        const ProcessRecord& r = *records.find(pid);
        if (!r.paused && !r.pauseManaged) continue;
        records.letGo(pid, ProcessRecords::kContinue);
        any = true;
    }
    loop_.shared.clearHeld();
    if (any) records.flush();
}

void PauseLoop::publish(const Rule& rule, double t) {
    const double since = t - loop_.lastStatus;
    loop_.lastStatus = t;
    current_ = scans_ > kWarmUpScans ? (1 - kPauseSmoothing) * current_ + kPauseSmoothing * latestCores_ : latestCores_;
    int stopped = 0;
    for (const auto& [pid, r] : loop_.records.all()) stopped += r.paused;
    if (machine_.holding()) estimate_ *= kHeldEstimateDecay;
    const auto busyCores = loop_.busy.sample(std::max(since, 0.1));
    LimiterStatus::PauseFacts f;
    f.state = machine_.state();
    f.currentCores = current_;
    f.processCount = static_cast<int>(loop_.records.size());
    f.stoppedCount = stopped;
    f.reason = machine_.state() == PauseState::spared ? machine_.sparedReason().value_or("") : "";
    f.frontUnknown = machine_.state() == PauseState::spared && machine_.frontUnknown();
    f.cappedEstimate = SavingsCap::cap(estimate_, current_, loop_.logicalCores, busyCores);
    f.stoppedByUserCount = loop_.records.stoppedByUserCount();
    f.journalRefusal = loop_.records.refusal();
    loop_.publish(LimiterStatus::pause(loop_.app.name, loop_.app.path, rule.maxCores, f));
}

}  // namespace trevlin
