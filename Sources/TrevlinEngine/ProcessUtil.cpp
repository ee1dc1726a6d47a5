#include "ProcessUtil.h"

#include <cmath>
#include <cstdint>

namespace trevlin {

double now() {
    auto& p = platform();
    return static_cast<double>(p.monotonicTicks()) * p.secondsPerTick();
}

double secondsPerTick() { return platform().secondsPerTick(); }

Pid myPid() { return platform().myPid(); }

std::vector<Pid> allPids() { return platform().allPids(); }

Pid owner(Pid pid) {
    Pid r = platform().responsiblePid(pid);
    return r < 1 ? pid : r;
}

std::string exePath(Pid pid) { return platform().exePath(pid); }

std::string commandLine(Pid pid) { return platform().commandLine(pid); }

std::optional<uint64_t> processStartTime(Pid pid) {
    auto id = platform().identity(pid);
    if (!id || id->zombie) return std::nullopt;
    return id->start;
}

bool isSameProcess(Pid pid, uint64_t start) { return processStartTime(pid) == start; }

std::optional<Sample> readSample(Pid pid) { return platform().sample(pid); }

uint64_t ticksFromSeconds(double seconds) {
    if (!(seconds > 0)) return 0;
    double ticks = seconds / platform().secondsPerTick();
    if (ticks >= 1.8e19) return UINT64_MAX;
    return static_cast<uint64_t>(std::llround(ticks));
}

void sleepSeconds(double seconds, const std::function<bool()>& until) {
    if (!(seconds > 0)) return;
    auto& p = platform();
    // Saturating: a duration too long for the clock waits for ever rather than not at all.
    const uint64_t start = p.monotonicTicks(), length = ticksFromSeconds(seconds);
    const uint64_t deadline = length > UINT64_MAX - start ? UINT64_MAX : start + length;
    p.waitUntil(deadline, until ? until : [] { return false; });
}

std::string lastPathComponent(const std::string& path) {
    std::string s = path;
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    auto pos = s.rfind('/');
    if (pos == std::string::npos) return s;
    if (s.size() == 1) return s;
    return s.substr(pos + 1);
}

std::string deletingPathExtension(const std::string& name) {
    auto pos = name.rfind('.');
    if (pos == std::string::npos || pos == 0) return name;
    return name.substr(0, pos);
}

}  // namespace trevlin
