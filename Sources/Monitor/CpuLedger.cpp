#include "CpuLedger.h"

#include <algorithm>
#include <unordered_map>

namespace trevlin {

CpuLedger CpuLedger::firstSight(CpuReading reading, bool startedSinceLastReading, CpuReading* fresh) {
    CpuLedger l;
    l.last_ = reading;
    if (fresh) *fresh = startedSinceLastReading ? reading : CpuReading{};
    return l;
}

CpuReading CpuLedger::advance(CpuReading reading) {
    CpuReading fresh;
    fresh.own = reading.own >= last_.own ? reading.own - last_.own : 0;
    const uint64_t grown = reading.children >= last_.children ? reading.children - last_.children : 0;
    const uint64_t matched = std::min(grown, credit_);
    credit_ -= matched;
    fresh.children = grown - matched;
    last_ = reading;
    return fresh;
}

void creditEndedProcesses(std::vector<EndedProcess> ended, const std::function<void(Pid, uint64_t)>& creditLive) {
    std::unordered_map<Pid, size_t> byPid;
    std::unordered_multimap<Pid, size_t> byParent;
    for (size_t i = 0; i < ended.size(); ++i) {
        byPid.emplace(ended[i].pid, i);
        byParent.emplace(ended[i].parent, i);
    }
    // Children before their parents. A process is passed on once; the
    // visiting mark stops a loop that pids reused between readings could
    // make of the parent links.
    enum : char { fresh, visiting, settled };
    std::vector<char> state(ended.size(), fresh);
    std::function<void(size_t)> settle = [&](size_t i) {
        state[i] = visiting;
        auto [first, last] = byParent.equal_range(ended[i].pid);
        std::vector<size_t> kids;
        for (auto it = first; it != last; ++it) kids.push_back(it->second);
        for (size_t k : kids)
            if (state[k] == fresh) settle(k);
        const EndedProcess& e = ended[i];
        if (auto p = byPid.find(e.parent); p != byPid.end() && p->second != i) {
            if (state[p->second] != settled) ended[p->second].ledger.credit(e.ledger.accounted());
        } else if (e.parent > 0) {
            creditLive(e.parent, e.ledger.accounted());
        }
        state[i] = settled;
    };
    for (size_t i = 0; i < ended.size(); ++i)
        if (state[i] == fresh) settle(i);
}

}  // namespace trevlin
