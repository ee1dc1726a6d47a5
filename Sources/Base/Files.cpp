#include "Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace trevlin::Files {

static void setError(std::string* error, const std::string& what, int err) {
    if (error) *error = what + ": " + std::strerror(err);
}

std::optional<std::string> read(const std::string& path, std::string* error, size_t limit) {
    // Opened without blocking and read only when it is a regular file: a
    // FIFO or device planted under a known name must not hang the reader.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        setError(error, path, errno);
        return std::nullopt;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error) *error = path + ": not a regular file";
        ::close(fd);
        return std::nullopt;
    }
    std::string out;
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
        if (out.size() >= limit) break;
    }
    ::close(fd);
    return out;
}

std::string directoryOf(const std::string& path) {
    auto pos = path.rfind('/');
    if (pos == std::string::npos) return ".";
    if (pos == 0) return "/";
    return path.substr(0, pos);
}

bool createDirectories(const std::string& dir, std::string* error) {
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

bool writeAtomically(const std::string& path, const std::string& bytes, std::string* error) {
    std::string tmp = path + ".tmp-" + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        setError(error, tmp, errno);
        return false;
    }
    size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + off, bytes.size() - off);
        if (n < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            setError(error, tmp, e);
            return false;
        }
        off += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 && errno != EINVAL) {
        int e = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        setError(error, tmp, e);
        return false;
    }
    ::close(fd);
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        int e = errno;
        ::unlink(tmp.c_str());
        setError(error, path, e);
        return false;
    }
    return true;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool move(const std::string& from, const std::string& to, std::string* error) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        setError(error, from, errno);
        return false;
    }
    return true;
}

bool remove(const std::string& path, std::string* error) {
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
