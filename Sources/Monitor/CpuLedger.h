// What has been counted of one process's CPU time, so that a process seen
// for a moment, or not at all, still counts what it used, and nothing is
// counted twice.
//
// A process is read now and then (once a second, or every 5 s while nothing
// is on screen). Between two readings it uses CPU of its own, and children
// of it end: when it reaps one, its children time (cutime + cstime) grows by
// that child's whole life, including what the child had reaped in turn. So
// the CPU of a child that ended between two readings shows up in its parent.
// Some of it was counted already, while the child was seen: that much is
// credited to the parent when the child is gone, and the parent's next growth
// of children time counts only what exceeds its credit.
//
//   own      ticks of own CPU at the last reading
//   children ticks of reaped children's CPU at the last reading
//   credit   ticks of ended children, counted already (or taken as a
//            baseline), that the parent's children time does not hold yet
//
// Everything accounted for a process and its descendants is own + children
// + credit: what its parent's children time will grow by when it is reaped,
// as far as it was seen.
#pragma once

#include "Platform.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace trevlin {

/// Cumulative CPU of one process, or what of it is new, in platform ticks.
struct CpuReading {
    uint64_t own = 0;       ///< the process's own user + system time
    uint64_t children = 0;  ///< its reaped children's user + system time
    bool operator==(const CpuReading&) const = default;
};

class CpuLedger {
public:
    CpuLedger() = default;

    /// The ledger of a process read for the first time. When it started
    /// after the previous reading of the processes, all it used (its own and
    /// its reaped children's) falls into this interval and is new; otherwise
    /// the reading is only a baseline and nothing is new.
    static CpuLedger firstSight(CpuReading reading, bool startedSinceLastReading, CpuReading* fresh);

    /// Takes a new reading and returns what is new since the last one:
    /// the growth of its own time, and the growth of its children time beyond
    /// what was credited for ended children. Counters that run backwards
    /// give nothing.
    CpuReading advance(CpuReading reading);

    /// A child of this process ended with `ticks` accounted for it.
    void credit(uint64_t ticks) { credit_ += ticks; }

    /// Everything accounted for this process and its descendants.
    uint64_t accounted() const { return last_.own + last_.children + credit_; }
    const CpuReading& last() const { return last_; }
    uint64_t pendingCredit() const { return credit_; }

private:
    CpuReading last_;
    uint64_t credit_ = 0;
};

/// A process that was read before and is gone now (or ran another process
/// under its pid).
struct EndedProcess {
    Pid pid = 0;
    Pid parent = 0;  ///< its parent at the last reading
    CpuLedger ledger;
};

/// Credits what was accounted for every ended process to its parent. A
/// parent that ended too first collects its ended children's credit and
/// passes it on with its own, so a grandchild reaped by a child that then
/// ended reaches the live ancestor whose children time holds them both.
/// `creditLive(parent, ticks)` is called for each parent not among `ended`.
void creditEndedProcesses(std::vector<EndedProcess> ended, const std::function<void(Pid, uint64_t)>& creditLive);

}  // namespace trevlin
