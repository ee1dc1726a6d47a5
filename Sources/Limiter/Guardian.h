// The guardian: a tiny process that lets go of what its holder held when the
// holder ends in a way nothing inside it can catch (SIGKILL, a crash, the
// out-of-memory killer, a library that calls exit()).
//
// The holder (the app or `trevlinctl limit`) starts it at launch, before it
// holds anything, with one end of a socket pair as its standard input and
// its journal folder and pid as arguments. The guardian blocks in read():
//   - a byte: the holder let go of everything itself; the guardian ends
//     without touching anything;
//   - end of file: the holder's last descriptor closed, so the holder is
//     ending. The guardian waits until it has ended (a pidfd), then
//     continues and moves back every process the holder's journal file
//     lists that is still the same process, deletes the file and ends.
// It never polls: one blocking read, then one wait on the pidfd.
//
// The guardian runs in a session of its own and ignores the terminal's
// signals (a Ctrl-C, a hang-up), so it outlives a holder that they end; it
// holds none of the holder's other descriptors. The next start's recovery
// of orphaned journals stays the last line of defence behind it.
#pragma once

#include "Platform.h"

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>

namespace trevlin {

class Guardian {
public:
    /// The executable's file name: installed in <prefix>/libexec/trevlin/,
    /// found in the build tree beside the programs that start it.
    static constexpr const char* kExecutableName = "trevlin-guardian";

    /// The guardian executable for the program at `selfPath`: beside it,
    /// else in ../libexec/trevlin/ from its folder. Absent when neither is
    /// executable.
    static std::optional<std::string> locate(const std::string& selfPath);

    /// Starts `executable` to guard this process's journal in `journalDir`.
    /// Null with `error` set when it could not be started.
    static std::unique_ptr<Guardian> start(const std::string& executable, const std::string& journalDir,
                                           std::string* error);
    /// `start` with the executable found from /proc/self/exe.
    static std::unique_ptr<Guardian> startForThisProcess(const std::string& journalDir, std::string* error);

    /// Closes this end without a word: the guardian then restores whatever
    /// the journal still lists once this process has ended.
    ~Guardian();
    Guardian(const Guardian&) = delete;
    Guardian& operator=(const Guardian&) = delete;

    /// At the end of an orderly shut-down. When this process's journal file
    /// is gone (nothing is held), tells the guardian so and waits a moment
    /// for it to end; otherwise leaves it to restore what is listed once
    /// this process has ended. Returns whether the guardian was released.
    bool finish();

    pid_t pid() const { return pid_; }

    /// The guardian's own work (its main calls this). Reads `holderFd` until
    /// a byte (returns 0, nothing touched) or end of file; then waits for
    /// `holderPidfd` (when >= 0) to report that the holder has ended, and
    /// restores the journal file at `journalPath`. Returns how many
    /// processes were restored.
    static int watch(Platform& platform, int holderFd, int holderPidfd, const std::string& journalPath);

private:
    Guardian(pid_t pid, int fd, std::string journalPath) : pid_(pid), fd_(fd), journalPath_(std::move(journalPath)) {}

    pid_t pid_;
    int fd_;
    std::string journalPath_;
};

}  // namespace trevlin
