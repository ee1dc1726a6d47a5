// The real platform: /proc and /sys (roots configurable for fixture tests),
// POSIX signals, CPU affinity, the desktop's own channel for the front app,
// logind and PulseAudio for busy reasons.
//
// What needs what:
//   processes, cores, signals, affinity ........ /proc and /sys only
//   running apps ................................ systemd app units (app-*.scope, app-*.service, snap
//                                                 scopes) in the cgroup tree + .desktop files
//   front app .................................... X11 session: the X server (_NET_ACTIVE_WINDOW)
//                                                 sway / i3: the IPC socket (SWAYSOCK, I3SOCK)
//                                                 Hyprland: its event socket
//                                                 KDE Plasma on Wayland: a KWin script over the session bus
//                                                 GNOME on Wayland: Trevlin's Shell extension, once enabled
//                                                 other Wayland desktops: unknown (nothing counts as
//                                                 background); no desktop at all: none
//   keeping awake ................................ logind on the system bus; else nothing held
//   playing audio ................................ a PulseAudio or PipeWire-Pulse server; else nothing played
#pragma once

#include "Platform.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace trevlin {

/// The file name of Trevlin's own desktop entry, as installed.
inline constexpr const char* kOwnDesktopEntry = "app.trevlin.Trevlin.desktop";

class LinuxPlatform : public Platform {
public:
    struct Options {
        std::string procRoot = "/proc";
        std::string sysRoot = "/sys";
        /// `applications` folders searched for .desktop files; empty = from the environment.
        std::vector<std::string> appDirs;
        /// Locales for localised names; empty = from the environment.
        std::optional<std::vector<std::string>> locales;
        /// Whether to talk to the desktop (X11, buses). Off for fixture trees.
        bool desktop = true;
    };

    LinuxPlatform();
    explicit LinuxPlatform(Options options);
    ~LinuxPlatform() override;

    uint64_t monotonicTicks() override;
    double secondsPerTick() override { return 1e-9; }
    double wallClock() override;
    bool waitUntil(uint64_t deadlineTicks, const std::function<bool()>& ready) override;
    void notifyWaiters() override;

    Pid myPid() override;
    uint32_t myUid() override;
    std::vector<Pid> allPids() override;
    /// The process responsible for `pid`:
    ///  1. inside a desktop app unit, the unit's lowest live pid;
    ///  2. otherwise the leader of its process group, when it lives, with two
    ///     refinements for work started from a terminal:
    ///     - when that leader is a shell (bash, dash, sh, zsh, fish, ksh, …,
    ///       by the executable's file name) started by a process of the same
    ///       session that launches work of its own (neither a shell leading
    ///       its own group, such as the terminal's interactive shell, nor the
    ///       leader of a terminal's session), responsibility moves up to that
    ///       process's own group leader, and again from there while that is
    ///       such a shell: build tools run every command under `sh -c`;
    ///     - a process that leads its own group and was started by a shell of
    ///       its session is that shell's job: the shell is responsible;
    ///  3. otherwise the process itself.
    ///
    ///   started in a terminal                    | responsible for the commands, and so the row
    ///   -----------------------------------------|---------------------------------------------
    ///   ninja (each command in a group of its own, | ninja: cc1plus, as, …
    ///     under sh -c)                           |
    ///   make -j4 (commands in make's group)      | make: cc1, …
    ///   cargo build                              | cargo: rustc, …
    ///   npm test running node                    | npm: node
    ///   bash build.sh running gcc                | bash: gcc (a script is its own launcher)
    ///   yes typed at an interactive shell        | bash: yes (the shell's job), not "Other / system"
    ///
    /// The tool itself (ninja, make) leads a job of the interactive shell, so
    /// the shell is responsible for it; the monitor still counts a launcher in
    /// its own group.
    Pid responsiblePid(Pid pid) override;
    std::string exePath(Pid pid) override;
    std::string commandLine(Pid pid) override;
    /// /proc/<pid>/stat; the status file for the uid; each thread's stat
    /// for the performance share on a hybrid machine.
    std::optional<ProcessFacts> processFacts(Pid pid, FactsWanted wanted) override;
    /// The kernel's boot_id and the `btime` this run reads once.
    StartClock startClock() override;
    int sendSignal(Pid pid, int signal) override;
    bool demote(Pid pid) override;
    bool promote(Pid pid) override;

    std::optional<std::vector<CoreTicks>> coreTicks() override;
    MachineFacts machineFacts() override;
    int activeCores() override;

    std::optional<RunningAppInfo> lookupApp(Pid pid) override;
    FrontApp startFrontTracking(std::function<void(FrontApp)> onChange) override;
    std::string frontUnknownReason() override;
    /// The sound server's playback streams and logind's inhibitors.
    std::optional<BusyReason> busyReason(const std::set<Pid>& pids) override;

    std::string dataDirectory() override;
    std::string ownBundlePath() override;

    const Options& options() const { return options_; }

private:
    uint64_t startMicros(uint64_t starttimeTicks);
    uint64_t bootTime();
    std::string cgroupRoot(const std::string& hierarchy) const;
    /// Lowest live pid of the app unit that holds `pid`, with the unit.
    std::optional<std::pair<Pid, std::string>> appUnitLeader(Pid pid);
    const std::vector<int>& onlineCpus();
    const std::vector<bool>& coreIsEfficiency();

    Options options_;
    long clockTicksPerSecond_;
    std::once_flag bootOnce_;
    uint64_t bootTime_ = 0;
    std::string bootId_;
    std::once_flag cpusOnce_;
    std::vector<int> onlineCpus_;
    std::vector<bool> efficiency_;  ///< by cpu number; empty when one kind
    std::vector<int> efficiencyCpus_;

    std::mutex waitLock_;
    std::condition_variable waitCv_;
    uint64_t waitEpoch_ = 0;

    struct Front;
    std::unique_ptr<Front> front_;
    std::mutex frontLock_;
};

}  // namespace trevlin
