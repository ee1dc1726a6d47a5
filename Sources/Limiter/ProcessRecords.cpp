#include "ProcessRecords.h"

#include "ProcessUtil.h"

#include <signal.h>

namespace trevlin {

ProcessRecords::ProcessRecords(Platform& platform, Journal& journal, std::string app)
    : platform_(platform), journal_(journal), app_(std::move(app)) {}

ProcessRecord* ProcessRecords::find(Pid pid) {
    auto it = records_.find(pid);
    return it == records_.end() ? nullptr : &it->second;
}

std::vector<Pid> ProcessRecords::pids() const {
    std::vector<Pid> out;
    out.reserve(records_.size());
    for (const auto& [pid, r] : records_) out.push_back(pid);
    return out;
}

ProcessRecord& ProcessRecords::adopt(Pid pid, ProcessRecord record) {
    // A record under this pid belongs to a process that is gone: it is never
    // signalled, and its entry must not make a later recovery touch the
    // process that has the pid now.
    if (records_.count(pid)) journal_.remove(app_, pid);
    if (record.role.isChromiumHelper) browserOwners_.insert(record.owner);
    return records_[pid] = std::move(record);
}

void ProcessRecords::rebuildBrowserOwners() {
    browserOwners_.clear();
    for (const auto& [pid, r] : records_)
        if (r.role.isChromiumHelper) browserOwners_.insert(r.owner);
}

bool ProcessRecords::touchable(const ProcessRecord& r, Pid front, Method method) const {
    if (r.role.critical) return false;
    if (!r.role.isMain) return true;
    // A browser's main process is never stopped, only its helpers.
    if (browserOwners_.count(r.owner)) return false;
    if (method == Method::strict) return true;
    return r.owner != front;
}

void ProcessRecords::write(Pid pid, const ProcessRecord& r) {
    journal_.update(app_, pid, r.start, r.pauseManaged, r.demoted);  // removes the entry once both are false
}

void ProcessRecords::observe(Pid pid, bool stopped) {
    ProcessRecord* r = find(pid);
    if (!r) return;
    if (!stopped) {
        // Running again: continued by the user, or never stopped (a stop of
        // ours not taken yet leaves `paused` set).
        r->stoppedByUser = false;
        return;
    }
    if (r->paused || r->stoppedByUser) return;
    if (r->pauseManaged && activationsContinue_) {
        r->paused = true;
        return;
    }
    leaveToUser(pid, *r);
}

void ProcessRecords::leaveToUser(Pid pid, ProcessRecord& r) {
    r.stoppedByUser = true;
    r.paused = false;
    r.pauseManaged = false;
    r.heldLight = false;
    // Nothing for a later run to continue: the stop is the user's.
    write(pid, r);
}

bool ProcessRecords::userStopPending(Pid pid) {
    FactsWanted wanted;
    wanted.stopPending = true;
    const auto f = platform_.processFacts(pid, wanted);
    return f && f->stopPending.value_or(false);
}

int ProcessRecords::stoppedByUserCount() const {
    int n = 0;
    for (const auto& [pid, r] : records_) n += r.stoppedByUser;
    return n;
}

void ProcessRecords::noticeUserStops() {
    for (auto& [pid, r] : records_)
        if (r.paused && userStopPending(pid)) leaveToUser(pid, r);
}

void ProcessRecords::manage(const std::vector<Pid>& pids) {
    std::vector<Pid> added;
    for (Pid pid : pids) {
        ProcessRecord* r = find(pid);
        if (!r || r->pauseManaged || r->stoppedByUser) continue;
        r->pauseManaged = true;
        write(pid, *r);
        added.push_back(pid);
    }
    journal_.flush();
    // Write-ahead: what the file does not list is not put under control.
    refusedStop_ = false;
    for (Pid pid : added) {
        ProcessRecord& r = *find(pid);
        if (journal_.isDurable(app_, pid, r.start, true, false)) continue;
        r.pauseManaged = false;
        write(pid, r);
        refusedStop_ = true;
    }
}

std::optional<int> ProcessRecords::refusal() {
    if (!refusedStop_ && !refusedMove_) return std::nullopt;
    return journal_.failure();
}

bool ProcessRecords::stop(Pid pid) {
    ProcessRecord* r = find(pid);
    // Unmanaged means not journaled: never stopped.
    if (!r || !r->pauseManaged || !journal_.isDurable(app_, pid, r->start, true, false)) return false;
    // The process may have exited since it was sampled and its pid gone to
    // another, which must not be stopped. (A sample reads less than the full
    // identity and, like it, fails for a zombie: this runs every period.)
    const auto now = readSample(platform_, pid);
    if (!now || now->start != r->start) return false;
    // Stopped during its run slice: by the user, whose stop stands.
    if (now->stopped && !r->paused) {
        if (activationsContinue_) {
            r->paused = true;
            return true;
        }
        leaveToUser(pid, *r);
        return false;
    }
    if (platform_.sendSignal(pid, SIGSTOP) != 0) return false;
    r->paused = true;
    return true;
}

void ProcessRecords::resume(Pid pid) {
    ProcessRecord* r = find(pid);
    if (!r || r->stoppedByUser) return;
    // The user stopped it while it was held: continuing it would discard that.
    if (r->paused && userStopPending(pid)) {
        leaveToUser(pid, *r);
        return;
    }
    // Sent whatever `paused` says: this is the start of the run slice, and
    // the process was sampled moments ago.
    platform_.sendSignal(pid, SIGCONT);
    r->paused = false;
}

void ProcessRecords::forgetStops() {
    for (auto& [pid, r] : records_) r.paused = false;
}

void ProcessRecords::pin(ProcessRecord& r) {
    r.demoted = true;
    r.pinned = true;
    r.demandWhenDemoted = r.load.usage;
    r.quietTicks = 0;
}

void ProcessRecords::demote(const std::vector<Pid>& pids) {
    for (Pid pid : pids) {
        ProcessRecord* r = find(pid);
        if (!r) continue;
        r->demoted = true;
        write(pid, *r);
    }
    journal_.flush();
    refusedMove_ = false;
    for (Pid pid : pids) {
        ProcessRecord* r = find(pid);
        if (!r) continue;
        if (journal_.isDurable(app_, pid, r->start, false, true)) {
            platform_.demote(pid);
            continue;
        }
        // Write-ahead: not listed on disk, not moved; tried again later.
        r->demoted = false;
        r->pinned = false;
        write(pid, *r);
        refusedMove_ = true;
    }
}

void ProcessRecords::redemote() {
    for (const auto& [pid, r] : records_)
        if (r.demoted) platform_.demote(pid);
}

void ProcessRecords::letGo(Pid pid, LetGo what) {
    ProcessRecord* r = find(pid);
    if (!r) return;
    // Under stop/continue control the process may be stopped even when
    // `paused` is clear (an activation continued it and the hold stopped it
    // again before the loop noticed): it is continued whenever either is set.
    const bool resume = what.resume && (r->paused || r->pauseManaged);
    const bool promote = what.promote && r->demoted;
    if (!resume && !promote) return;
    if (isSameProcess(platform_, pid, r->start)) {
        // A stop the user sent while it was held stands; only the journal
        // entry goes.
        if (resume && userStopPending(pid)) r->stoppedByUser = true;
        else if (resume) platform_.sendSignal(pid, SIGCONT);
        if (promote) platform_.promote(pid);
    }
    if (resume) {
        r->paused = false;
        r->pauseManaged = false;
        r->heldLight = false;
    }
    if (promote) {
        r->demoted = false;
        r->pinned = false;
    }
    write(pid, *r);
}

void ProcessRecords::forget(Pid pid) {
    if (!find(pid)) return;
    letGo(pid, kEverything);
    journal_.remove(app_, pid);
    records_.erase(pid);
}

void ProcessRecords::restoreAll() {
    for (Pid pid : pids()) forget(pid);
    browserOwners_.clear();
    journal_.removeAll(app_);
    journal_.flush();
}

}  // namespace trevlin
