#include "DutyCycle.h"

#include "LimiterTuning.h"

#include <algorithm>
#include <set>

namespace trevlin {

using namespace LimiterTuning;

bool DutyCycle::tick(const Rule& rule, double periodMs) {
    ProcessRecords& records = loop_.records;
    records.setActivationsContinue(false);
    const double t = loop_.now();
    const double dt = std::max(t - lastTick_.value_or(loop_.startTime), 0.001);
    lastTick_ = t;
    if (!lastScan_ || t - *lastScan_ >= kScanSeconds) {
        targets_ = loop_.scan();
        lastScan_ = t;
        records.rebuildBrowserOwners();
    }
    // While the front app is unknown its pid is 0: smart spares nothing and
    // holds the cap like strict.
    const FrontApp frontApp = loop_.context.front().app();
    const Pid front = frontApp.pid;
    const Method method = rule.method;
    const double cap = rule.maxCores;

    // Sampling.
    const bool ranFreely = history_.fraction >= kFreeFraction;
    std::vector<Seen> seen;
    for (Pid pid : targets_) {
        auto s = loop_.sample(pid);
        if (!s) continue;  // gone this tick
        if (s->fresh) {
            seen.push_back({pid, 0.0, true});
            continue;
        }
        ProcessRecord& r = *s->record;
        const double ranFor = r.paused ? std::max(runSlice_, 0.001) : dt;
        const double instant =
            DutyController::observe(r.load, s->delta, dt, ranFor, ranFreely && !r.paused && !r.demoted);
        seen.push_back({pid, instant, false});
    }

    // Candidates: the busy processes that may be stopped. Under `smart` the
    // front app is spared, except its low-priority work.
    std::set<Pid> chosen;
    std::vector<Pid> light;
    double busyDemand = 0, lightDemand = 0, neverStopped = 0;
    for (const auto& sn : seen) {
        if (sn.fresh) continue;
        const ProcessRecord& r = *records.find(sn.pid);
        // A process the user stopped is left alone until it runs again.
        const bool eligible = method != Method::ecores && !r.stoppedByUser && records.touchable(r, front, method) &&
                              (method == Method::strict || r.owner != front ||
                               (r.priority < kBackgroundPriority && !r.demoted));
        if (!eligible) {
            neverStopped += sn.instant;
        } else if (r.load.demand > kBusyDemand && !r.heldLight) {
            chosen.insert(sn.pid);
            busyDemand += r.load.demand;
        } else {
            // A light process held for its group stays light, however its
            // short run slices happen to fall on the kernel's 10 ms steps.
            if (r.load.usage > 0 || r.heldLight) light.push_back(sn.pid);
            lightDemand += r.load.demand;
        }
    }
    // A group spread over many processes, none of them busy, is held too.
    // All of them: on saturated cores the light ones left running would
    // take what the held ones give up.
    group_.neverStopped = (1 - kGroupSmoothing) * group_.neverStopped + kGroupSmoothing * neverStopped;
    group_.lightDemand = (1 - kGroupSmoothing) * group_.lightDemand + kGroupSmoothing * lightDemand;
    group_.busyDemand = (1 - kGroupSmoothing) * group_.busyDemand + kGroupSmoothing * busyDemand;
    if (DutyController::holdLight(group_.neverStopped, group_.lightDemand, group_.busyDemand, cap)) {
        for (Pid pid : light) {
            chosen.insert(pid);
            records.find(pid)->heldLight = true;
        }
    }

    // The candidates, and everything else let go of.
    std::vector<Pid> candidates, demoteList;
    double candidateDemand = 0, untouchable = 0, estimate = 0, total = 0;
    for (const auto& sn : seen) {
        total += sn.instant;
        if (sn.fresh) continue;
        ProcessRecord& r = *records.find(sn.pid);
        const bool touch = records.touchable(r, front, method);
        const bool candidate = chosen.count(sn.pid) != 0;
        if (candidate) {
            candidates.push_back(sn.pid);
            candidateDemand += r.load.demand;
            if (!r.demoted && rule.alwaysEfficiency) {
                records.pin(r);
                demoteList.push_back(sn.pid);
            }
            estimate += DutyController::unthrottledEstimate(r.load);
            continue;
        }
        untouchable += sn.instant;
        records.letGo(sn.pid, ProcessRecords::kContinue);
        double own = sn.instant;
        if (r.demoted && touch) {
            own = std::max(r.load.usage, r.demandWhenDemoted);
        } else if (r.demoted) {
            records.letGo(sn.pid, ProcessRecords::kPromote);
        } else if (touch && rule.alwaysEfficiency) {
            records.pin(r);
            demoteList.push_back(sn.pid);
        }
        estimate += own;
    }

    // Processes that left.
    std::set<Pid> seenPids;
    for (const auto& sn : seen) seenPids.insert(sn.pid);
    for (Pid pid : records.pids())
        if (!seenPids.count(pid)) records.forget(pid);
    if (!demoteList.empty()) records.demote(demoteList);

    // Allowed run fraction.
    history_ = DutyController::step(history_, {total, untouchable, candidateDemand}, cap,
                                    t - loop_.startTime < kGraceSeconds);
    const double fraction = history_.fraction;

    // Unthrottled estimate, every tick, bounded by what the machine could
    // give. The machine's load is read once a second: it is smoothed over
    // seconds anyway, and reading every core's counters ten times a second
    // cost more than the rest of a tick.
    if (!lastBusySample_ || t - *lastBusySample_ >= kBusySampleSeconds) {
        busyCores_ = loop_.busy.sample(t - lastBusySample_.value_or(t));
        lastBusySample_ = t;
    }
    if (busyCores_) estimate = SavingsCap::cap(estimate, history_.smoothedUse, loop_.logicalCores, busyCores_);
    estimate_.tick(estimate, dt);

    // Once a second: efficiency cores, notes, savings, status.
    if (t - loop_.lastStatus >= 1.0) {
        loop_.lastStatus = t;
        // Threads started since the last move follow the process.
        if (method == Method::ecores || rule.alwaysEfficiency) records.redemote();
        std::string note;
        if (method == Method::ecores) {
            note = moveOneProcess(seen, front, cap);
        } else if (history_.smoothedUse > kNoteOverCap * cap && (fraction <= kNoteFloorFraction || candidates.empty())) {
            note = method == Method::smart ? LimiterNotes::smartRestInFront : LimiterNotes::strictRestUntouchable;
        }
        // Whatever else holds, the user learns why smart acts as strict.
        if (method == Method::smart && !frontApp.known) note = LimiterNotes::smartFrontUnknown;
        publish(rule, seen, candidates.size(), note);
    }

    // The stop/continue cycle: journal first, then signals.
    records.manage(candidates);
    const double period = periodMs / 1000.0;
    if (fraction >= 1.0) {
        for (Pid pid : candidates)
            if (records.find(pid)->paused) records.resume(pid);
        loop_.sleepUntil(t + period);
        return true;
    }
    for (Pid pid : candidates) records.resume(pid);
    const double runStart = loop_.now();
    loop_.sleepUntil(runStart + period * fraction);
    for (Pid pid : candidates) records.stop(pid);
    runSlice_ = loop_.now() - runStart;
    if (loop_.shared.quitRequested()) return false;
    loop_.sleepUntil(t + period);
    return true;
}

std::string DutyCycle::moveOneProcess(const std::vector<Seen>& seen, Pid front, double cap) {
    ProcessRecords& records = loop_.records;
    const double use = history_.smoothedUse;
    if (use > cap) {
        // Over the cap: the heaviest process that is worth it goes to the
        // efficiency cores (the first found wins a tie).
        std::optional<Pid> heaviest;
        double most = 0;
        for (const auto& sn : seen) {
            if (sn.fresh) continue;
            const ProcessRecord& r = *records.find(sn.pid);
            if (!records.touchable(r, front, Method::ecores) || r.demoted || r.load.usage <= kMoveUsage ||
                r.priority <= kMovePriorityFloor)
                continue;
            if (!heaviest || r.load.usage > most) {
                heaviest = sn.pid;
                most = r.load.usage;
            }
        }
        if (!heaviest) return LimiterNotes::ecoresNothingLeft;
        ProcessRecord& r = *records.find(*heaviest);
        r.demandWhenDemoted = r.load.usage;
        r.quietTicks = 0;
        records.demote({*heaviest});
        return "";
    }
    // Room again: one process goes back, a quiet one first.
    std::optional<Pid> quiet, roomy;
    for (auto& [pid, r] : records.all()) {
        if (!r.demoted || r.pinned) continue;
        r.quietTicks = r.load.usage < kQuietUsage ? r.quietTicks + 1 : 0;
        if (!quiet && r.quietTicks > kQuietSeconds) quiet = pid;
        if (!roomy && r.demandWhenDemoted + (use - r.load.usage) < kRoomShare * cap) roomy = pid;
    }
    if (auto back = quiet ? quiet : roomy) {
        records.letGo(*back, ProcessRecords::kPromote);
        records.flush();
    }
    return "";
}

void DutyCycle::publish(const Rule& rule, const std::vector<Seen>& seen, size_t candidates, const std::string& note) {
    int demoted = 0;
    for (const auto& [pid, r] : loop_.records.all()) demoted += r.demoted;
    const double fraction = history_.fraction;
    const bool active = (rule.method != Method::ecores && fraction < 1.0) || demoted > 0;
    estimate_.second(active);
    const double lowest = estimate_.lowest();
    const double use = history_.smoothedUse;

    LimiterStatus::DutyCycleFacts f;
    f.currentCores = use;
    f.processCount = static_cast<int>(seen.size());
    f.candidateCount = static_cast<int>(candidates);
    f.demotedCount = demoted;
    f.fraction = fraction;
    f.note = note;
    f.savedCores = active ? std::max(0.0, lowest - use) : 0.0;
    f.unthrottledCores = active ? std::max(lowest, use) : use;
    f.stoppedByUserCount = loop_.records.stoppedByUserCount();
    f.journalRefusal = loop_.records.refusal();
    loop_.publish(LimiterStatus::dutyCycle(loop_.app.name, loop_.app.path, rule.maxCores, rule.method, f));
}

}  // namespace trevlin
