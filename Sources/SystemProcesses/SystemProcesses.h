// The breakdown of what the monitor shows as one "other" figure: the system's
// `ps` tool run every few seconds, the growth of each process's cumulative
// CPU time between two runs turned into cores, and friendly names.
#pragma once

#include "Platform.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace trevlin {

struct SystemProcess {
    Pid pid = 0;
    /// Owner's user name as `ps` prints it.
    std::string user;
    /// The command as `ps` prints it.
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

/// Runs `executable` with `args`, stdin and stderr on the null device and
/// stdout drained from a pipe. Gives the output (invalid UTF-8 replaced) when
/// the program exits with status 0 after printing something within `timeout`
/// seconds; otherwise nothing. A program that overruns is sent SIGTERM (its
/// whole process group), then SIGKILL one second later, and is always reaped.
std::optional<std::string> runProgram(const std::string& executable, const std::vector<std::string>& args,
                                      double timeout);

class SystemProcessSampler {
public:
    /// Runs the tool with a time limit in seconds; the output or nothing.
    using Runner = std::function<std::optional<std::string>(double timeout)>;
    using Clock = std::function<double()>;

    struct ParsedLine {
        Pid pid = 0;
        std::string user;
        double cpuSeconds = 0;
        std::string command;

        bool operator==(const ParsedLine&) const = default;
    };

    static constexpr const char* psPath = "/bin/ps";

    /// The real `ps` on the clocks of `platform`, which must outlive the sampler.
    explicit SystemProcessSampler(Platform& platform);
    /// Any runner and clocks; empty clocks are the system's own monotonic and
    /// wall clocks.
    explicit SystemProcessSampler(Runner runner, Clock monotonic = {}, Clock wallClock = {});

    /// A runner for `executable` given the `ps` arguments.
    static Runner psRunner(const std::string& executable = psPath);

    /// Forgets the baseline: the next sample forms no rates.
    void reset();
    /// Successful runs since creation (not cleared by `reset`).
    int runs() const { return runs_; }

    /// One run: nothing when the tool fails, else a breakdown (empty with
    /// interval 0 on the first run after creation or `reset`).
    std::optional<SystemBreakdown> sample(const std::set<Pid>& excluding, double timeout);

    /// One line of "pid uid user cputime command" output; nothing when it does not parse.
    static std::optional<ParsedLine> parse(std::string_view line);
    /// "[DD-][HH:]MM:SS[.frac]" in seconds; nothing when a piece is not a number.
    static std::optional<double> parseCPUTime(std::string_view text);

private:
    struct Rec {
        double cpu = 0;
        std::string command;
    };

    Runner runner_;
    Clock monotonic_;
    Clock wallClock_;
    std::map<Pid, Rec> prev_;
    double prevTime_ = 0;
    int runs_ = 0;
};

}  // namespace trevlin
