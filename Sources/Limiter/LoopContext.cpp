#include "LoopContext.h"

#include "ProcessUtil.h"

#include <algorithm>
#include <set>

namespace trevlin {

LoopContext::LoopContext(EngineContext& engine, LimiterShared& limiter, AppMatch match, Journal& journal,
                         TargetProvider customTargets, StatusCallback onStatus)
    : context(engine),
      platform(engine.platform()),
      shared(limiter),
      app(std::move(match)),
      scanner(context, this->app.path),
      records(platform, journal, this->app.path),
      busy(platform),
      logicalCores(platform.activeCores()),
      startTime(trevlin::now(platform)),
      lastStatus(startTime),
      onStatus_(std::move(onStatus)),
      lastSeenProcess_(startTime) {
    scanner.customTargets = std::move(customTargets);
}

double LoopContext::now() { return trevlin::now(platform); }

std::vector<Pid> LoopContext::scan() {
    std::vector<Pid> pids = scanner.targetPids();
    std::set<Pid> unique;
    std::erase_if(pids, [&](Pid p) { return !unique.insert(p).second; });
    if (!pids.empty()) lastSeenProcess_ = now();
    return pids;
}

ProcessRecord LoopContext::freshRecord(Pid pid, const Sample& s) {
    ProcessRecord r;
    r.start = s.start;
    r.lastCPU = s.cpu;
    const Pid responsible = owner(platform, pid);
    r.role = scanner.role(pid, responsible, exePath(platform, pid), commandLine(platform, pid));
    r.owner = r.role.isMain ? pid : responsible;
    r.priority = 31;
    // Stopped before this limiter ever touched it: someone else's stop.
    r.stoppedByUser = s.stopped;
    return r;
}

std::optional<LoopContext::Sampled> LoopContext::sample(Pid pid) {
    auto s = readSample(platform, pid);
    if (!s) return std::nullopt;
    ProcessRecord* r = records.find(pid);
    if (!r || r->start != s->start) {
        // New process, or the pid now names another one: nothing of the old
        // record carries over.
        return Sampled{&records.adopt(pid, freshRecord(pid, *s)), true, 0.0};
    }
    const double delta = std::max(s->cpu - r->lastCPU, 0.0);
    r->lastCPU = s->cpu;
    r->priority = s->priority;
    records.observe(pid, s->stopped);
    return Sampled{r, false, delta};
}

void LoopContext::publish(const LimiterStatus& status) {
    shared.setStatus(status);
    if (onStatus_) onStatus_(status);
}

bool LoopContext::sleepUntil(double deadline) {
    return platform.waitUntil(ticksFromSeconds(platform, deadline), [this] { return shared.quitRequested(); });
}

}  // namespace trevlin
