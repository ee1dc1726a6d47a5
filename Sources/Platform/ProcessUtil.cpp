#include "ProcessUtil.h"

#include <cmath>
#include <cstdint>

namespace trevlin {

double now(Platform& p) {
    return static_cast<double>(p.monotonicTicks()) * p.secondsPerTick();
}

double secondsPerTick(Platform& p) { return p.secondsPerTick(); }

Pid myPid(Platform& p) { return p.myPid(); }

std::vector<Pid> allPids(Platform& p) { return p.allPids(); }

Pid owner(Platform& p, Pid pid) {
    Pid r = p.responsiblePid(pid);
    return r < 1 ? pid : r;
}

std::string exePath(Platform& p, Pid pid) { return p.exePath(pid); }

std::string commandLine(Platform& p, Pid pid) { return p.commandLine(pid); }

std::optional<uint64_t> processStartTime(Platform& p, Pid pid) {
    auto f = p.processFacts(pid, {});
    if (!f || f->zombie) return std::nullopt;
    return f->start;
}

bool isSameProcess(Platform& p, Pid pid, uint64_t start) { return processStartTime(p, pid) == start; }

std::optional<Sample> readSample(Platform& p, Pid pid) {
    auto f = p.processFacts(pid, {});
    if (!f || f->zombie) return std::nullopt;
    return Sample{static_cast<double>(f->cpuTicks) * p.secondsPerTick(), f->start, f->priority, f->stopped};
}

uint64_t ticksFromSeconds(Platform& p, double seconds) {
    if (!(seconds > 0)) return 0;
    double ticks = seconds / p.secondsPerTick();
    if (ticks >= 1.8e19) return UINT64_MAX;
    return static_cast<uint64_t>(std::llround(ticks));
}

void sleepSeconds(Platform& p, double seconds, const std::function<bool()>& until) {
    if (!(seconds > 0)) return;
        // Saturating: a duration too long for the clock waits for ever rather than not at all.
    const uint64_t start = p.monotonicTicks(), length = ticksFromSeconds(p, seconds);
    const uint64_t deadline = length > UINT64_MAX - start ? UINT64_MAX : start + length;
    p.waitUntil(deadline, until ? until : [] { return false; });
}

}  // namespace trevlin
