#include "AllowList.h"

#include <dirent.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace trevlin {

namespace {

// Debian's multiarch folder name for this machine, where KDE puts the
// programs it keeps out of /usr/bin (/usr/lib/<triplet>/libexec).
const char* multiarchTriplet() {
#if defined(__x86_64__) && defined(__ILP32__)
    return "x86_64-linux-gnux32";
#elif defined(__x86_64__)
    return "x86_64-linux-gnu";
#elif defined(__aarch64__)
    return "aarch64-linux-gnu";
#elif defined(__i386__)
    return "i386-linux-gnu";
#elif defined(__arm__) && defined(__ARM_PCS_VFP)
    return "arm-linux-gnueabihf";
#elif defined(__arm__)
    return "arm-linux-gnueabi";
#elif defined(__powerpc64__) && defined(__LITTLE_ENDIAN__)
    return "powerpc64le-linux-gnu";
#elif defined(__s390x__)
    return "s390x-linux-gnu";
#elif defined(__riscv) && __riscv_xlen == 64
    return "riscv64-linux-gnu";
#elif defined(__loongarch64)
    return "loongarch64-linux-gnu";
#elif defined(__mips64) && defined(__MIPSEL__)
    return "mips64el-linux-gnuabi64";
#else
    return nullptr;
#endif
}

AllowList makeProduction() {
    AllowList list;
    auto& indexing = list.paths[HelperGroup::spotlight];
    indexing = {
        // The locate database updater, run as root by a timer (plocate) or
        // by cron (mlocate, and plocate-build after it on older releases).
        "/usr/sbin/updatedb.plocate",
        "/usr/sbin/plocate-build",
        "/usr/bin/updatedb.mlocate",
        // GNOME's file indexer: Tracker 3, its newer names, and Tracker 2.
        "/usr/libexec/tracker-miner-fs-3",
        "/usr/libexec/tracker-extract-3",
        "/usr/libexec/localsearch-3",
        "/usr/libexec/localsearch-extractor-3",
        "/usr/lib/tracker/tracker-miner-fs",
        "/usr/lib/tracker/tracker-extract",
        // KDE's file indexer; /usr/bin holds links to these on newer
        // releases (the kernel shows the target) and the programs on older ones.
        "/usr/bin/baloo_file",
        "/usr/bin/baloo_file_extractor",
    };
    if (const char* triplet = multiarchTriplet()) {
        const std::string libexec = std::string("/usr/lib/") + triplet + "/libexec/";
        indexing.insert(libexec + "baloo_file");
        indexing.insert(libexec + "baloo_file_extractor");
    }
    list.paths[HelperGroup::timemachine] = {
        "/usr/bin/timeshift",
        "/usr/bin/timeshift-gtk",
        // Back In Time: /usr/bin/backintime is a shell script that runs
        // this one with python3.
        "/usr/share/backintime/common/backintime.py",
        "/usr/bin/deja-dup",
        "/usr/libexec/deja-dup/deja-dup-monitor",
        "/usr/lib/deja-dup/deja-dup-monitor",
        // Python scripts: matched as what python3 runs.
        "/usr/bin/duplicity",
        "/usr/bin/borg",
        "/usr/bin/borgbackup",
        "/usr/bin/restic",
    };
    return list;
}

const char* const kTestSpotlightNames[] = {"mds_stores", "mdworker", "mdworker_shared", "mdbulkimport"};

// The kernel keeps the first 15 bytes of a program's file name as its task name.
constexpr size_t kTaskNameBytes = 15;

std::string fileName(const std::string& path) {
    auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// "python3", "python3.11"; "perl", "perl5.36.0".
bool versionedName(const std::string& name, const char* base, const char* versionPrefix) {
    if (name == base) return true;
    if (!startsWith(name, versionPrefix)) return false;
    const std::string rest = name.substr(std::strlen(versionPrefix));
    return !rest.empty() && rest.find_first_not_of("0123456789.") == std::string::npos;
}

// How an interpreter's command line names its script.
struct Interpreter {
    // Short options whose value is the rest of the argument or the next one.
    const char* withValue;
    // Short options after which no script file follows (code on the command
    // line, a module by name).
    const char* withoutScript;
    // Long options whose value is the next argument.
    std::set<std::string> longWithValue;
};

const Interpreter kPython{"WX", "cm", {"--check-hash-based-pycs"}};
const Interpreter kPerl{"I", "eE", {}};

const Interpreter* interpreterOf(const std::string& exe) {
    // Only the system's own interpreters: a program of any other name or
    // place is matched by its own path.
    const auto slash = exe.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : exe.substr(0, slash);
    if (dir != "/usr/bin" && dir != "/bin") return nullptr;
    const std::string name = fileName(exe);
    if (versionedName(name, "python3", "python3.")) return &kPython;
    if (versionedName(name, "perl", "perl5.")) return &kPerl;
    return nullptr;
}

// Seconds since boot on a clock that never jumps.
double systemUptime() {
    struct timespec ts{};
    if (::clock_gettime(CLOCK_BOOTTIME, &ts) != 0) ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::optional<pid_t> numericEntry(const char* name) {
    if (*name < '0' || *name > '9') return std::nullopt;
    char* end = nullptr;
    long v = std::strtol(name, &end, 10);
    if (*end != '\0' || v <= 0 || v > INT_MAX) return std::nullopt;
    return static_cast<pid_t>(v);
}

}  // namespace

const AllowList& AllowList::production() {
    static const AllowList list = makeProduction();
    return list;
}

AllowList AllowList::test(const std::string& directory) {
    std::string dir = directory;
    if (dir.empty() || dir.back() != '/') dir.push_back('/');
    AllowList list;
    for (const char* name : kTestSpotlightNames) list.paths[HelperGroup::spotlight].insert(dir + name);
    list.paths[HelperGroup::timemachine].insert(dir + "backupd");
    return list;
}

std::optional<HelperGroup> AllowList::group(const std::string& ofPath) const {
    for (const auto& [group, set] : paths)
        if (set.count(ofPath)) return group;
    return std::nullopt;
}

bool AllowList::allows(const std::string& path, HelperGroup group) const {
    auto it = paths.find(group);
    return it != paths.end() && it->second.count(path) > 0;
}

std::optional<HelperGroup> AllowList::groupOfProcess(const std::string& exe,
                                                     const std::vector<std::string>& arguments) const {
    if (!isInterpreter(exe)) return group(exe);
    auto script = scriptPath(exe, arguments);
    return script ? group(*script) : std::nullopt;
}

std::optional<HelperGroup> AllowList::groupOfTaskName(const std::string& name) const {
    if (name.empty()) return std::nullopt;
    for (const auto& [group, set] : paths) {
        for (const std::string& path : set) {
            const std::string base = fileName(path);
            if (base == name) return group;
            if (name.size() == kTaskNameBytes && base.size() > kTaskNameBytes &&
                base.compare(0, kTaskNameBytes, name) == 0)
                return group;
        }
    }
    return std::nullopt;
}

bool AllowList::isInterpreter(const std::string& exe) { return interpreterOf(exe) != nullptr; }

std::optional<std::string> AllowList::scriptPath(const std::string& exe, const std::vector<std::string>& arguments) {
    const Interpreter* interpreter = interpreterOf(exe);
    if (!interpreter) return std::nullopt;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--") return i + 1 < arguments.size() ? std::optional<std::string>(arguments[i + 1]) : std::nullopt;
        if (a == "-") return std::nullopt;  // the script comes from standard input
        if (a.empty() || a[0] != '-') return a;
        if (startsWith(a, "--")) {
            if (interpreter->longWithValue.count(a)) ++i;
            continue;
        }
        // A cluster of short options ("-Es", "-bW error"): the first one
        // that takes a value takes the rest, or the next argument.
        for (size_t k = 1; k < a.size(); ++k) {
            if (std::strchr(interpreter->withoutScript, a[k])) return std::nullopt;
            if (std::strchr(interpreter->withValue, a[k])) {
                if (k + 1 == a.size()) ++i;
                break;
            }
        }
    }
    return std::nullopt;
}

AllowListScanner::AllowListScanner(AllowList allow, std::string procRoot, std::function<double()> uptime)
    : allow_(std::move(allow)),
      procRoot_(std::move(procRoot)),
      uptime_(uptime ? std::move(uptime) : std::function<double()>(systemUptime)) {}

std::vector<pid_t> AllowListScanner::pids(HelperGroup group) {
    std::lock_guard<std::mutex> guard(lock_);
    const double up = uptime_();
    if (up - cacheTime_ > 0.5) {
        cacheTime_ = up;
        cache_.clear();
        const pid_t self = ::getpid();
        if (DIR* dir = ::opendir(procRoot_.c_str())) {
            while (struct dirent* entry = ::readdir(dir)) {
                auto pid = numericEntry(entry->d_name);
                if (!pid || *pid == 1 || *pid == self) continue;
                auto exe = path(*pid, procRoot_);
                if (!exe || exe->empty()) continue;
                std::optional<HelperGroup> g;
                if (AllowList::isInterpreter(*exe)) {
                    // Only an interpreter's command line is read.
                    if (auto args = arguments(*pid, procRoot_)) g = allow_.groupOfProcess(*exe, *args);
                } else {
                    g = allow_.group(*exe);
                }
                if (g) cache_[*g].push_back(*pid);
            }
            ::closedir(dir);
        }
    }
    auto it = cache_.find(group);
    return it == cache_.end() ? std::vector<pid_t>{} : it->second;
}

std::optional<std::string> AllowListScanner::path(pid_t of, const std::string& procRoot) {
    std::string link = procRoot + "/" + std::to_string(of) + "/exe";
    char buf[4096];
    ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof buf)) return std::nullopt;
    std::string out(buf, static_cast<size_t>(n));
    // The kernel marks an executable that was replaced or removed since it started.
    static const std::string deleted = " (deleted)";
    if (out.size() > deleted.size() && out.compare(out.size() - deleted.size(), deleted.size(), deleted) == 0)
        out.resize(out.size() - deleted.size());
    return out;
}

std::optional<std::vector<std::string>> AllowListScanner::arguments(pid_t of, const std::string& procRoot) {
    const std::string file = procRoot + "/" + std::to_string(of) + "/cmdline";
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    // Enough for any interpreter's options and script path; what lies
    // beyond is the script's own arguments.
    std::string raw;
    char buf[4096];
    while (raw.size() < 65536) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        raw.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    if (raw.empty()) return std::nullopt;  // a kernel thread or a process being reaped
    std::vector<std::string> out;
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find('\0', start);
        if (end == std::string::npos) end = raw.size();
        out.push_back(raw.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

}  // namespace trevlin
