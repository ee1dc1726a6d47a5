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

void ProcessRecords::manage(const std::vector<Pid>& pids) {
    for (Pid pid : pids) {
        ProcessRecord* r = find(pid);
        if (!r || r->pauseManaged) continue;
        r->pauseManaged = true;
        write(pid, *r);
    }
    journal_.flush();
}

bool ProcessRecords::stop(Pid pid) {
    ProcessRecord* r = find(pid);
    // Unmanaged means not journaled: never stopped.
    if (!r || !r->pauseManaged) return false;
    // The process may have exited since it was sampled and its pid gone to
    // another, which must not be stopped. (A sample reads less than the full
    // identity and, like it, fails for a zombie: this runs every period.)
    const auto now = readSample(platform_, pid);
    if (!now || now->start != r->start || platform_.sendSignal(pid, SIGSTOP) != 0) return false;
    r->paused = true;
    return true;
}

void ProcessRecords::resume(Pid pid) {
    ProcessRecord* r = find(pid);
    if (!r) return;
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
    for (Pid pid : pids)
        if (find(pid)) platform_.demote(pid);
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
        if (resume) platform_.sendSignal(pid, SIGCONT);
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
