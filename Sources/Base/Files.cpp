#include "Files.h"

#include "Log.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>

namespace trevlin::Files {

namespace {

void setError(Error* error, const std::string& path, int code) {
    if (error) *error = Error{code, path + ": " + std::strerror(code)};
}

void setError(Error* error, const std::string& path, int code, const std::string& reason) {
    if (error) *error = Error{code, path + ": " + reason};
}

// A writer that locks its temporary file does so right after creating it.
// A file that no one holds, whose pid is in use, and that changed within
// this many seconds may be one a live writer has just created and not yet
// locked: it is left for the next start. A file left by a killed run is
// older than that by the time anything starts again.
constexpr double kUnlockedGraceSeconds = 10.0;

std::optional<std::string> readOpened(const std::string& path, int flags, size_t maxBytes, bool truncate,
                                      Error* error) {
    // Opened without blocking and read only when it is a regular file: a
    // FIFO or device planted under a known name must not hang the reader.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | flags);
    if (fd < 0) {
        setError(error, path, errno);
        return std::nullopt;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0) {
        setError(error, path, errno);
        ::close(fd);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        setError(error, path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL, "not a regular file");
        ::close(fd);
        return std::nullopt;
    }
    auto tooLarge = [maxBytes] { return "larger than " + std::to_string(maxBytes) + " bytes"; };
    // Refused before a byte is read, so a huge file costs neither time nor memory.
    if (!truncate && static_cast<uint64_t>(st.st_size) > maxBytes) {
        setError(error, path, EFBIG, tooLarge());
        ::close(fd);
        return std::nullopt;
    }
    std::string out;
    if (!truncate) out.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            setError(error, path, errno);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
        if (out.size() >= maxBytes) {
            if (truncate) break;
            // Grown since the size was checked: stop rather than follow it.
            if (out.size() > maxBytes) {
                setError(error, path, EFBIG, tooLarge());
                ::close(fd);
                return std::nullopt;
            }
        }
    }
    ::close(fd);
    return out;
}

// Writers of one temporary name in this process share it, so they take
// turns; paths are spread over a few locks.
std::mutex& turnFor(const std::string& temporary) {
    static std::array<std::mutex, 32> turns;
    return turns[std::hash<std::string>{}(temporary) % turns.size()];
}

double wallSeconds() {
    struct timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Whether the writer of the regular temporary file `path`, named for `pid`,
// is done with it for good.
bool writerIsGone(const std::string& path, pid_t pid, const struct stat& seen) {
    if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
    // The pid is in use: by the writer, or by whatever process got the pid
    // after it. A writer holds its lock until the file is renamed away.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return false;
    bool gone = false;
    struct stat st{};
    if (::flock(fd, LOCK_SH | LOCK_NB) == 0 && ::fstat(fd, &st) == 0 && st.st_ino == seen.st_ino &&
        st.st_dev == seen.st_dev) {
        const double changed =
            static_cast<double>(st.st_mtim.tv_sec) + static_cast<double>(st.st_mtim.tv_nsec) / 1e9;
        gone = wallSeconds() - changed >= kUnlockedGraceSeconds;
    }
    ::close(fd);
    return gone;
}

}  // namespace

std::optional<std::string> read(const std::string& path, const ReadOptions& options, Error* error) {
    return readOpened(path, options.noFollow ? O_NOFOLLOW : 0, options.maxBytes, false, error);
}

std::optional<std::string> read(const std::string& path, Error* error, size_t limit) {
    return readOpened(path, 0, limit, true, error);
}

std::string temporaryPath(const std::string& path) { return path + ".tmp-" + std::to_string(::getpid()); }

std::optional<pid_t> temporaryWriter(const std::string& name) {
    static const std::string marker = ".tmp-";
    const auto at = name.rfind(marker);
    if (at == std::string::npos || at == 0) return std::nullopt;
    const std::string digits = name.substr(at + marker.size());
    if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos ||
        digits[0] == '0')
        return std::nullopt;
    const long long v = std::strtoll(digits.c_str(), nullptr, 10);
    if (v <= 0 || v > INT_MAX) return std::nullopt;
    return static_cast<pid_t>(v);
}

TemporaryFile::TemporaryFile(const std::string& path)
    : path_(path), temporary_(Files::temporaryPath(path)), turn_(turnFor(temporary_)) {
    // Whatever already has this name is not ours to write into: a leftover of
    // an earlier run that had our pid, or a link planted to make us write
    // somewhere else. Removing a link never touches what it points to.
    if (::unlink(temporary_.c_str()) != 0 && errno != ENOENT) {
        setError(&error_, temporary_, errno);
        return;
    }
    // O_EXCL: a name planted again in between fails the write instead of
    // being followed.
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        setError(&error_, temporary_, errno);
        return;
    }
    // Without locks (some network file systems) the file is still written;
    // the clean-up then goes by the pid and the file's age alone. A clean-up
    // looking at the new file holds it only for a moment.
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) continue;
}

TemporaryFile::~TemporaryFile() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(temporary_.c_str());
    }
}

void TemporaryFile::fail(const std::string& what, int code) {
    setError(&error_, what, code);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(temporary_.c_str());
    }
}

bool TemporaryFile::write(const std::string& bytes) {
    if (fd_ < 0) return false;
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + off, bytes.size() - off);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(temporary_, errno);
            return false;
        }
        off += static_cast<size_t>(n);
    }
    return true;
}

bool TemporaryFile::commit() {
    if (fd_ < 0) return false;
    if (::fsync(fd_) != 0 && errno != EINVAL) {
        fail(temporary_, errno);
        return false;
    }
    // Renamed while still open and locked, so the temporary name never
    // exists unlocked while its writer lives.
    if (::rename(temporary_.c_str(), path_.c_str()) != 0) {
        fail(path_, errno);
        return false;
    }
    ::close(fd_);
    fd_ = -1;
    // The new name is on disk only once its folder is: a crash before that
    // could bring the old file back.
    const std::string dir = directoryOf(path_);
    const int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) {
        setError(&error_, dir, errno);
        return false;
    }
    const bool synced = ::fsync(dfd) == 0 || errno == EINVAL || errno == EROFS;
    const int code = errno;
    ::close(dfd);
    if (!synced) {
        setError(&error_, dir, code);
        return false;
    }
    return true;
}

bool writeAtomically(const std::string& path, const std::string& bytes, Error* error) {
    TemporaryFile file(path);
    if (file.write(bytes) && file.commit()) return true;
    if (error) *error = file.error();
    return false;
}

std::vector<std::string> removeStaleTemporaryFiles(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
        ::closedir(d);
    }
    const pid_t self = ::getpid();
    std::vector<std::string> removed;
    for (const auto& name : names) {
        const auto writer = temporaryWriter(name);
        // Our own pid: this run may be writing it right now, and its next
        // write of that name replaces it anyway.
        if (!writer || *writer == self) continue;
        const std::string path = dir + "/" + name;
        struct stat st{};
        if (::lstat(path.c_str(), &st) != 0) continue;
        // A writer creates its file exclusively, never as a link: a link
        // under such a name was planted and goes (its target stays as it is).
        const bool stale = S_ISLNK(st.st_mode) || (S_ISREG(st.st_mode) && writerIsGone(path, *writer, st));
        if (stale && ::unlink(path.c_str()) == 0) {
            logStderr("Trevlin: removed " + name + ", left behind by a run that ended while writing it");
            removed.push_back(name);
        }
    }
    return removed;
}

std::optional<std::string> moveAside(const std::string& path, double now, Error* error) {
    const std::string dir = directoryOf(path);
    const auto slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string extension;
    if (auto dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
        extension = name.substr(dot);
        name.resize(dot);
    }
    const std::string stem = name + ".invalid-" + fileTimestamp(now);
    for (int n = 1; n <= maxAsideNames; ++n) {
        const std::string aside = stem + (n == 1 ? "" : "-" + std::to_string(n)) + extension;
        const std::string to = dir + "/" + aside;
        // Never replaces: a file moved aside earlier in the same second keeps
        // its name and its bytes.
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return aside;
        int e = errno;
        if (e == EINVAL || e == ENOSYS) {
            // A file system without that flag: a hard link fails on a taken
            // name just the same.
            if (::link(path.c_str(), to.c_str()) == 0) {
                if (::unlink(path.c_str()) == 0) return aside;
                e = errno;
                ::unlink(to.c_str());
            } else {
                e = errno;
            }
        }
        if (e != EEXIST) {
            setError(error, path, e);
            return std::nullopt;
        }
    }
    setError(error, path, EEXIST, "every name to move it aside to is taken");
    return std::nullopt;
}

std::string directoryOf(const std::string& path) {
    auto pos = path.rfind('/');
    if (pos == std::string::npos) return ".";
    if (pos == 0) return "/";
    return path.substr(0, pos);
}

bool createDirectories(const std::string& dir, Error* error) {
    if (dir.empty()) return true;
    std::string partial;
    size_t i = 0;
    while (i <= dir.size()) {
        size_t j = dir.find('/', i);
        if (j == std::string::npos) j = dir.size();
        partial = dir.substr(0, j);
        if (!partial.empty()) {
            if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
                setError(error, partial, errno);
                return false;
            }
        }
        i = j + 1;
    }
    struct stat st{};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        setError(error, dir, ENOTDIR);
        return false;
    }
    return true;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool move(const std::string& from, const std::string& to, Error* error) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        setError(error, from, errno);
        return false;
    }
    return true;
}

bool remove(const std::string& path, Error* error) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        setError(error, path, errno);
        return false;
    }
    return true;
}

std::string isoTimestampUTC(double seconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm tm{};
    ::gmtime_r(&t, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string fileTimestamp(double seconds) {
    std::string s = isoTimestampUTC(seconds);
    for (auto& c : s)
        if (c == ':') c = '-';
    return s;
}

}  // namespace trevlin::Files
