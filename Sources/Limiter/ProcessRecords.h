// A limiter's records of its app's processes, and the only place that
// signals them.
//
// Two rules hold for every process, whatever the method:
//  - write-ahead: a process is recorded in the journal, and the journal
//    flushed, before it is stopped or moved to the efficiency cores; so that
//    another run can undo what this one did should it end abnormally;
//  - identity: a remembered process is signalled only while its pid still
//    names the process that started at the remembered time;
//  - the user's stops stand: a process someone else stopped (a job-control
//    stop, a debugger) is never continued by this limiter.
// `manage` and `demote` do the journaling before anything else may happen,
// and put nothing under control that the file on disk does not list;
// `stop` refuses a process that is not managed. `letGo` is the one way to
// release a process: continue and/or move back what this limiter did, then
// rewrite or remove the journal entry.
//
// Only the limiter's thread uses this class.
#pragma once

#include "AppCatalog.h"
#include "DutyController.h"
#include "Journal.h"
#include "Platform.h"
#include "Rule.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace trevlin {

/// The limiter's record of one process.
struct ProcessRecord {
    uint64_t start = 0;         ///< start time in µs: identity against pid reuse
    double lastCPU = 0;         ///< cumulative CPU seconds at the last sample
    Role role;
    Pid owner = 0;              ///< itself when main, else its responsible process
    int32_t priority = 31;
    DutyController::ProcessLoad load;
    bool paused = false;        ///< stopped by this limiter right now
    bool pauseManaged = false;  ///< under stop/continue control (journaled as paused)
    bool heldLight = false;     ///< a candidate although under the busy threshold (its group is spread thin)
    bool demoted = false;       ///< moved to the efficiency cores by this limiter
    /// Found stopped by someone else (Ctrl-Z, a debugger) while this limiter
    /// let it run: left alone, never continued, until it runs again.
    bool stoppedByUser = false;
    bool pinned = false;        ///< demoted because of `alwaysEfficiency`
    double demandWhenDemoted = 0;
    int quietTicks = 0;

    /// Anything this limiter did to the process that must be undone.
    bool touched() const { return paused || pauseManaged || demoted; }
};

class ProcessRecords {
public:
    ProcessRecords(Platform& platform, Journal& journal, std::string app);

    // Records -----------------------------------------------------------------
    ProcessRecord* find(Pid pid);
    std::map<Pid, ProcessRecord>& all() { return records_; }
    bool empty() const { return records_.empty(); }
    size_t size() const { return records_.size(); }
    std::vector<Pid> pids() const;
    /// Stores the record of a process seen for the first time, or of a pid
    /// that now names another process (the old record's journal entry goes:
    /// nothing of it applies to the new process).
    ProcessRecord& adopt(Pid pid, ProcessRecord record);

    /// Owners of browser helpers: a browser's main process is never stopped.
    void rebuildBrowserOwners();
    /// Whether the limiter may stop or move this process at all, with `front`
    /// the front app's pid: never a critical one; a main process only when it
    /// is no browser's, and under `smart` only when its app is not in front.
    bool touchable(const ProcessRecord& r, Pid front, Method method) const;

    // Stop and continue ---------------------------------------------------------
    /// Pause mode: an activation continues held processes from another
    /// thread, so a managed process may have been continued and stopped
    /// again behind the record's back; found stopped, it counts as stopped
    /// by this limiter. The duty cycle's records are exact.
    void setActivationsContinue(bool on) { activationsContinue_ = on; }
    /// What a sample found: whether the process is stopped. A stop that is
    /// not this limiter's is the user's (see `stoppedByUser`); once the
    /// process runs again it is the limiter's to hold again.
    void observe(Pid pid, bool stopped);
    /// Puts processes under stop/continue control: journals each as paused
    /// and flushes. Only the processes the file on disk now lists become
    /// managed; when the journal cannot be written the others stay as they
    /// were, and `refusal()` says why.
    void manage(const std::vector<Pid>& pids);
    /// While the journal cannot be written and the last `manage` or the
    /// last `demote` left a process out for it: the errno of the failed
    /// write. Absent otherwise.
    std::optional<int> refusal();
    /// Processes the user stopped.
    int stoppedByUserCount() const;
    /// Pause mode: finds the held processes the user stopped as well (a
    /// Ctrl-Z while held waits in the kernel), so that nothing continues them.
    void noticeUserStops();
    /// Stops a managed process that is still the remembered one. False when
    /// it was not stopped.
    bool stop(Pid pid);
    /// Continues a managed process for its run slice; it stays managed.
    void resume(Pid pid);
    /// Pause mode: an activation continued the held processes behind the
    /// loop's back; none counts as stopped any more (they stay managed).
    void forgetStops();

    // Efficiency cores --------------------------------------------------------
    /// Marks a process as pinned to the efficiency cores by `alwaysEfficiency`
    /// (moved by the next `demote`).
    void pin(ProcessRecord& r);
    /// Journals each process as demoted, flushes, then moves them.
    void demote(const std::vector<Pid>& pids);
    /// Moves every demoted process again: threads started since follow.
    void redemote();

    // Letting go ----------------------------------------------------------------
    struct LetGo {
        bool resume;   ///< continue it and end stop/continue control
        bool promote;  ///< move it back onto every core
    };
    static constexpr LetGo kContinue{true, false};
    static constexpr LetGo kPromote{false, true};
    static constexpr LetGo kEverything{true, true};
    /// Undoes what `what` names, for a process that is still the remembered
    /// one, and rewrites its journal entry (removed once no flag remains).
    /// Does not flush.
    void letGo(Pid pid, LetGo what);
    /// Lets go of everything and drops the record (the process left the app).
    void forget(Pid pid);
    /// Lets go of every process and drops every record; the app's journal
    /// entries go and the journal is flushed.
    void restoreAll();

    void flush() { journal_.flush(); }

private:
    void write(Pid pid, const ProcessRecord& r);
    /// Marks the process as stopped by the user: no longer under control,
    /// its journal entry rewritten (gone unless it is demoted).
    void leaveToUser(Pid pid, ProcessRecord& r);
    /// Whether a job-control stop (Ctrl-Z) waits for the process: one the user sent while
    /// this limiter held it stopped (the next SIGCONT would discard it).
    bool userStopPending(Pid pid);

    Platform& platform_;
    Journal& journal_;
    const std::string app_;
    std::map<Pid, ProcessRecord> records_;
    std::set<Pid> browserOwners_;
    bool refusedStop_ = false;
    bool refusedMove_ = false;
    bool activationsContinue_ = false;
};

}  // namespace trevlin
