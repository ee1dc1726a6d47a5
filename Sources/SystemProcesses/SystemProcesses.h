// The breakdown of what the monitor shows as one "other" figure: every
// process's cumulative CPU time read every few seconds through the platform,
// its growth between two passes turned into cores, and friendly names.
#pragma once

#include "Platform.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace trevlin {

struct SystemProcess {
    Pid pid = 0;
    /// Owner's user name (the uid in decimal when it has none).
    std::string user;
    /// The kernel's name of the process: its executable's file name cut to
    /// 15 bytes, or a kernel thread's own name.
    std::string command;
    /// Friendly name.
    std::string name;
    /// Average use over the last interval.
    double cores = 0;
    /// Only the privileged helper could hold it back.
    bool needsHelper = false;

    bool operator==(const SystemProcess&) const = default;
};

struct SystemBreakdown {
    /// Wall-clock seconds since 1970 when the sample was finished.
    double timestamp = 0;
    /// Seconds between this run and the previous one; 0 when no rates were formed.
    double interval = 0;
    /// Busiest first; equal cores by pid.
    std::vector<SystemProcess> processes;
};

namespace SystemProcessNames {

struct Friendly {
    std::string name;
    bool needsHelper = false;

    bool operator==(const Friendly&) const = default;
};

Friendly friendly(const std::string& command);

}  // namespace SystemProcessNames

class SystemProcessSampler {
public:
    /// Reads the processes and clocks of `platform`, which must outlive the sampler.
    explicit SystemProcessSampler(Platform& platform);

    /// Forgets the baseline: the next sample forms no rates.
    void reset();
    /// Successful runs since creation (not cleared by `reset`).
    int runs() const { return runs_; }

    /// One pass over every process: nothing when the process list cannot be
    /// read (or reading it takes longer than `timeout` seconds), else a
    /// breakdown (empty with interval 0 on the first pass after creation or
    /// `reset`).
    std::optional<SystemBreakdown> sample(const std::set<Pid>& excluding, double timeout);

private:
    struct Rec {
        uint64_t cpuTicks = 0;
        uint64_t start = 0;
        std::string command;
    };

    /// The owner's user name, or the uid in decimal when it has none.
    std::string userName(uint32_t uid);

    Platform& platform_;
    std::map<Pid, Rec> prev_;
    double prevTime_ = 0;
    int runs_ = 0;
    std::map<uint32_t, std::string> userNames_;
};

}  // namespace trevlin
