// The write-ahead journal of held processes.
//
// Before a limiter stops or demotes a process it records it here and
// flushes; the record goes once the process is released. Each running
// instance writes "journal-<pid>.json" in the data folder; at start-up the
// files of instances that are gone are replayed: every process they list
// that is still the same process is continued and moved back to all cores.
#pragma once

#include "Platform.h"

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace trevlin {

class Journal {
public:
    struct Entry {
        std::string app;
        Pid pid = 0;
        uint64_t start = 0;
        bool paused = false;
        bool demoted = false;
        bool operator==(const Entry&) const = default;
    };

    /// What one journal file says.
    struct File {
        Pid limiterPid = 0;
        uint64_t limiterStart = 0;
        std::vector<Entry> entries;
        std::string bootId;  ///< empty in files that do not say
        uint64_t bootTime = 0;
    };

    /// Decodes the text of a journal file; absent when it is not one.
    static std::optional<File> decode(const std::string& text);

    /// A journal file lists the processes one instance holds, about 200 bytes
    /// each: this is some 40,000 of them, more than a machine runs. A larger
    /// file is none this program wrote and is never read (reading a 200 MB
    /// one took seconds and most of a gigabyte).
    static constexpr size_t maxFileBytes = 8 * 1024 * 1024;

    /// The journal of this instance in `directory`.
    Journal(Platform& platform, std::string directory);

    /// Stores the entry when a flag is set (no change when an equal entry
    /// exists); removes it when both are false.
    void update(const std::string& app, Pid pid, uint64_t start, bool paused, bool demoted);
    void remove(const std::string& app, Pid pid);
    void removeAll(const std::string& app);
    /// How a flush went.
    struct Written {
        int code = 0;         ///< 0, or the errno of the step that failed
        std::string message;  ///< what failed, for a log line; empty on success
        bool ok() const { return code == 0; }
    };
    /// Writes the file when something changed (deletes it when empty): whole,
    /// synced and renamed into place, the folder synced after. A failed
    /// write keeps the journal dirty and is tried again by the next flush at
    /// least `retrySeconds` later; until then a flush gives the same failure.
    /// One line on standard error when writing starts failing or fails for
    /// another reason, and one when it works again.
    Written flush();
    static constexpr double retrySeconds = 1.0;
    /// The errno of the last write when it failed; absent while the file on
    /// disk says what the journal holds.
    std::optional<int> failure();
    /// Whether the file on disk lists the process (same start time) with at
    /// least these flags: only then may it be stopped (`paused`) or moved
    /// (`demoted`).
    bool isDurable(const std::string& app, Pid pid, uint64_t start, bool paused, bool demoted);

    std::optional<Entry> entry(const std::string& app, Pid pid);
    std::vector<Entry> entries();
    bool isDirty();
    std::string filePath() const;
    /// The journal file the instance with pid `writer` keeps in `dir`.
    static std::string filePathIn(const std::string& dir, Pid writer);
    const std::string& dir() const { return dir_; }

    /// Continues and promotes what the files of dead writers in `dir` list;
    /// returns how many processes were restored. A file above
    /// `maxFileBytes` is not read: moved aside when its writer is gone, left
    /// alone while it runs, with a line on standard error either way.
    static int recoverOrphans(Platform& platform, const std::string& dir);

    /// Continues and promotes what the file at `path` lists, with the same
    /// checks as `recoverOrphans`, and deletes the file; returns how many
    /// processes were restored. For a caller that knows the file's writer
    /// has ended. A file that cannot be read is left where it is.
    static int restoreFile(Platform& platform, const std::string& path);

private:
    Platform& platform_;
    std::string dir_;
    std::mutex lock_;
    Written write();

    std::map<std::pair<std::string, Pid>, Entry> entries_;
    /// What the file on disk lists: `entries_` as of the last write that worked.
    std::map<std::pair<std::string, Pid>, Entry> written_;
    bool dirty_ = false;
    Written lastFailure_;           ///< code 0 while the last write worked
    double lastAttempt_ = 0;        ///< monotonic seconds of the last failed write
    std::string loggedFailure_;     ///< the failure last logged, so a lasting one is logged once
};

}  // namespace trevlin
