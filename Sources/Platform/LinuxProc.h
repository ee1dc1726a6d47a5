// Readers of /proc and /sys. Each takes its root as a parameter so tests can
// point it at a fixture tree; none keeps state.
#pragma once

#include "Platform.h"
#include "Utf8.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trevlin::linux {

/// The fields of /proc/<pid>/stat the engine uses.
struct ProcStat {
    std::string name;        ///< the task name, as the kernel keeps it (field 2, without its parentheses)
    char state = '?';
    Pid ppid = 0;
    Pid pgrp = 0;
    Pid session = 0;         ///< field 6
    int32_t ttyNr = 0;       ///< controlling terminal, 0 = none (field 7)
    uint64_t utime = 0;      ///< clock ticks (field 14)
    uint64_t stime = 0;      ///< clock ticks (field 15)
    uint64_t cutime = 0;     ///< reaped children's user time, clock ticks (field 16)
    uint64_t cstime = 0;     ///< reaped children's system time, clock ticks (field 17)
    int64_t nice = 0;        ///< field 19
    uint64_t starttime = 0;  ///< clock ticks after boot (field 22)
    int processor = -1;      ///< core the task last ran on (field 39)
    uint32_t policy = 0;     ///< scheduling policy (field 41)
};

/// Reads a whole small file; absent when it cannot be opened.
std::optional<std::string> readSmallFile(const std::string& path, size_t limit = 1 << 20);

/// Parses the text of a stat file (the command name may hold spaces and parentheses).
std::optional<ProcStat> parseStat(std::string_view text);
std::optional<ProcStat> readStat(const std::string& procRoot, Pid pid);
std::optional<ProcStat> readTaskStat(const std::string& procRoot, Pid pid, Pid tid);

/// `btime` of /proc/stat in seconds since the epoch.
std::optional<uint64_t> readBootTime(const std::string& procRoot);
std::optional<uint64_t> parseBootTime(std::string_view statText);
/// The kernel's id of the current boot (sys/kernel/random/boot_id), "" when unreadable.
std::string readBootId(const std::string& procRoot);

/// Numeric entries of `dir`, ascending.
std::vector<Pid> listNumericEntries(const std::string& dir);

/// First field of the `Uid:` line of /proc/<pid>/status.
std::optional<uint32_t> readRealUid(const std::string& procRoot, Pid pid);
std::optional<uint32_t> parseRealUid(std::string_view statusText);
/// Whether the `SigPnd:` or `ShdPnd:` mask of a status text holds a
/// job-control stop signal (SIGTSTP, SIGTTIN, SIGTTOU); absent when neither
/// line reads.
std::optional<bool> parseStopPending(std::string_view statusText);

/// readlink of /proc/<pid>/exe without a trailing " (deleted)"; "" when unreadable.
std::string readExePath(const std::string& procRoot, Pid pid);

/// The executable path, a space, then the argument area with every NUL turned
/// into one space; invalid UTF-8 replaced. "" when unreadable.
std::string readCommandLine(const std::string& procRoot, Pid pid);
std::string commandLineText(std::string_view exe, std::string_view argumentArea);

/// The cpuN lines of a /proc/stat text, in order: user, system + irq +
/// softirq + steal, idle + iowait, nice.
std::vector<CoreTicks> parseCoreTicks(const std::string& statText);

/// Maps a Linux scheduling state to the 0..63 priority scale of
/// `ProcessFacts`: 31 for a normal process, 31 − nice in between, 4 (below
/// `kBackgroundPriorityLimit`) for background work (SCHED_BATCH, SCHED_IDLE
/// or nice ≥ 10).
int32_t priorityFor(uint32_t policy, int64_t nice);

/// Parses a cpulist such as "0-3,8,10-11": each core 0..65535 once, ascending.
std::vector<int> parseCpuList(const std::string& text);

/// The systemd unit of a desktop app in a /proc/<pid>/cgroup text: the
/// cgroup path up to and including the app unit, and the application id.
struct AppUnit {
    std::string cgroupPath;     ///< e.g. "/user.slice/.../app-gnome-firefox-1234.scope"
    std::string hierarchy;      ///< "" for the unified (0::) line, "systemd" for name=systemd
    std::string applicationId;  ///< e.g. "firefox"
};
std::optional<AppUnit> parseAppUnit(const std::string& cgroupText);
/// The application id of one unit name, absent when it is no app unit. App
/// units follow the desktop convention, "app[-<launcher>]-<id>[@<random>].service"
/// and "app[-<launcher>]-<id>-<random>.scope"; a snap app's scope
/// "snap.<snap>.<app>-<UUID>.scope" has the id "<snap>_<app>", the name of
/// its desktop entry.
std::optional<std::string> applicationIdOfUnit(const std::string& unitName);

/// What the responsible-process rule reads of one process: its stat file.
struct Lineage {
    Pid parent = 0;
    Pid group = 0;
    Pid session = 0;
    bool terminal = false;  ///< it has a controlling terminal
    bool zombie = false;
};

/// Whether an executable's file name is that of a command shell (bash,
/// dash, sh, zsh, fish, ksh and their kin).
bool isShellName(std::string_view name);

/// The responsible process of `pid` outside desktop app units, from the
/// process tree: see `LinuxPlatform::responsiblePid` for the rule and its
/// cases. `lineage` reads a process (absent when it is gone); `isShell`
/// tells whether a live process runs a shell. 0 when `pid` cannot be read.
Pid responsibleByProcessGroup(Pid pid, const std::function<std::optional<Lineage>(Pid)>& lineage,
                              const std::function<bool(Pid)>& isShell);

/// Every pid in a cgroup directory and below it.
std::vector<Pid> cgroupPids(const std::string& cgroupDir);

}  // namespace trevlin::linux
