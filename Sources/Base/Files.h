// File helpers shared by everything that keeps a file: whole-file reads,
// atomic replacement, folder creation, moving aside, and clearing what a
// killed writer left behind.
//
// One convention throughout: a function that can fail returns false or
// absent and, when asked, fills an `Error` with the error number and a line
// that names the path.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace trevlin::Files {

/// Why a file operation failed.
struct Error {
    /// The errno of the call that failed. Refusals have numbers of their own:
    /// EFBIG for a file above the size limit, EISDIR for a folder and EINVAL
    /// for anything else that is no regular file, ELOOP for a symbolic link
    /// that was not to be followed.
    int code = 0;
    /// The path and the reason, for a log line ("/a/settings.json: Permission denied").
    std::string message;
};

struct ReadOptions {
    /// A file with more bytes than this is refused (EFBIG) without being read.
    size_t maxBytes = SIZE_MAX;
    /// Refuse a symbolic link as the last component (ELOOP): a reader running
    /// as root must not be led to a file someone else chose.
    bool noFollow = false;
};

/// The whole regular file, or absent with `error` set. Anything else (a
/// FIFO, a device, a folder) is refused, and so is what `options` rules out.
std::optional<std::string> read(const std::string& path, const ReadOptions& options, Error* error = nullptr);
/// The regular file's bytes, reading stops once `limit` bytes are in (at
/// most one read more): for kernel files, whose size is known only by
/// reading them. Absent with `error` set as above.
std::optional<std::string> read(const std::string& path, Error* error = nullptr, size_t limit = SIZE_MAX);

/// The temporary name `writeAtomically` uses for `path` in this process:
/// `path` + ".tmp-" + pid.
std::string temporaryPath(const std::string& path);
/// The writer's pid of a temporary file name ("settings.json.tmp-4321" →
/// 4321); absent for any other name.
std::optional<pid_t> temporaryWriter(const std::string& name);

/// A new file under `temporaryPath(path)` that `commit` puts in place of
/// `path` in one step. The temporary name is created exclusively and never
/// through a symbolic link: whatever is found there (a leftover of an earlier
/// run with the same pid, or a link someone planted) is removed first, so
/// nothing outside the file is ever written. The file is locked from its
/// creation until it is renamed, which tells `removeStaleTemporaryFiles`
/// that its writer is alive. Gone without `commit`, it removes its file.
/// Writers of one path within this process take turns.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& path);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    /// False when the file could not be created (see `error`).
    bool isOpen() const { return fd_ >= 0; }
    const std::string& temporaryPath() const { return temporary_; }
    /// Appends `bytes`; false with the file removed on failure.
    bool write(const std::string& bytes);
    /// Syncs the file, renames it over the path and syncs the folder; false
    /// with the file removed on failure (after the rename, only the folder's
    /// sync can fail: the new file is in place but may not survive a crash).
    bool commit();
    const Error& error() const { return error_; }

private:
    void fail(const std::string& what, int code);

    std::string path_;
    std::string temporary_;
    std::unique_lock<std::mutex> turn_;
    int fd_ = -1;
    Error error_;
};

/// Writes `bytes` to a `TemporaryFile` beside `path`, syncs it and renames it
/// over `path`. False with `error` set when any step fails; the temporary
/// file is removed then.
bool writeAtomically(const std::string& path, const std::string& bytes, Error* error = nullptr);

/// Removes the temporary files in `dir` whose writer is gone: a run killed
/// in the middle of a write leaves "<name>.tmp-<pid>" behind. A file stays
/// while its writer may still be writing it: when the pid is this process,
/// or when it is held by a live process; a file whose pid now belongs to
/// another process goes. Logs one line per file removed and returns their
/// names.
std::vector<std::string> removeStaleTemporaryFiles(const std::string& dir);

/// How many names `moveAside` tries for one second.
inline constexpr int maxAsideNames = 100;
/// Moves the file at `path` aside in its folder, to its name with
/// ".invalid-" + `fileTimestamp(now)` before the extension
/// ("settings.json" → "settings.invalid-2026-03-07T10-15-30Z.json"). A file
/// moved aside is never replaced: when that name is taken, "-2", "-3", … up
/// to `maxAsideNames` is added after the time. The new name (without the
/// folder), or absent with `error` set (EEXIST when every name is taken).
std::optional<std::string> moveAside(const std::string& path, double now, Error* error = nullptr);

/// Creates `dir` and every missing parent.
bool createDirectories(const std::string& dir, Error* error = nullptr);
bool exists(const std::string& path);
bool move(const std::string& from, const std::string& to, Error* error = nullptr);
/// Deletes a file; a missing file is not an error.
bool remove(const std::string& path, Error* error = nullptr);
/// The folder part of a path ("/a/b/c.json" → "/a/b").
std::string directoryOf(const std::string& path);
/// The current UTC time as "2026-03-07T10:15:30Z".
std::string isoTimestampUTC(double secondsSince1970);
/// `isoTimestampUTC` with every ":" replaced by "-", for file names.
std::string fileTimestamp(double secondsSince1970);

}  // namespace trevlin::Files
