#include "LinuxPlatform.h"

#include "DesktopEntries.h"
#include "DesktopPower.h"
#include "FrontWatcher.h"
#include "GnomeShellExtension.h"
#include "LinuxProc.h"
#include "Log.h"
#include "Paths.h"

#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

namespace trevlin {

using namespace trevlin::linux;

struct LinuxPlatform::Front {
    std::unique_ptr<FrontWatcher> watcher;
};

namespace {

/// Puts Trevlin's GNOME Shell extension in the user's extensions folder, in
/// the format of the running shell, so that the user only has to enable it.
/// On its own thread: asking the shell for its version may wait on the bus.
void installGnomeExtensionInBackground(const SessionEnvironment& env) {
    std::string dataHome;
    if (const char* d = std::getenv("XDG_DATA_HOME"); d && *d == '/') dataHome = d;
    else if (const char* home = std::getenv("HOME"); home && *home == '/') dataHome = std::string(home) + "/.local/share";
    if (dataHome.empty()) return;
    std::thread([dataHome, bus = env.sessionBusAddress] {
        std::string error;
        if (!installGnomeExtension(dataHome, gnomeShellMajorVersion(bus).value_or(0), &error))
            logSystem("Trevlin: could not install the GNOME Shell extension: " + error);
    }).detach();
}

}  // namespace

LinuxPlatform::LinuxPlatform() : LinuxPlatform(Options{}) {}

LinuxPlatform::LinuxPlatform(Options options) : options_(std::move(options)) {
    clockTicksPerSecond_ = ::sysconf(_SC_CLK_TCK);
    if (clockTicksPerSecond_ <= 0) clockTicksPerSecond_ = 100;
}

LinuxPlatform::~LinuxPlatform() = default;

uint64_t LinuxPlatform::monotonicTicks() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

double LinuxPlatform::wallClock() {
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

bool LinuxPlatform::waitUntil(uint64_t deadline, const std::function<bool()>& ready) {
    // std::chrono::steady_clock is CLOCK_MONOTONIC on Linux, so the deadline
    // is absolute on the same clock as monotonicTicks().
    using namespace std::chrono;
    // The clock counts signed nanoseconds: a later deadline is as good as never.
    const steady_clock::time_point tp{nanoseconds(static_cast<int64_t>(std::min<uint64_t>(deadline, INT64_MAX)))};
    for (;;) {
        uint64_t epoch;
        {
            std::lock_guard<std::mutex> g(waitLock_);
            epoch = waitEpoch_;
        }
        if (ready && ready()) return true;
        std::unique_lock<std::mutex> lk(waitLock_);
        while (waitEpoch_ == epoch) {
            if (monotonicTicks() >= deadline) return false;
            waitCv_.wait_until(lk, tp);
        }
    }
}

void LinuxPlatform::notifyWaiters() {
    {
        std::lock_guard<std::mutex> g(waitLock_);
        ++waitEpoch_;
    }
    waitCv_.notify_all();
}

Pid LinuxPlatform::myPid() { return static_cast<Pid>(::getpid()); }
uint32_t LinuxPlatform::myUid() { return static_cast<uint32_t>(::getuid()); }

std::vector<Pid> LinuxPlatform::allPids() { return listNumericEntries(options_.procRoot); }

std::string LinuxPlatform::cgroupRoot(const std::string& hierarchy) const {
    std::string root = options_.sysRoot + "/fs/cgroup";
    if (hierarchy.empty()) {
        // On a hybrid hierarchy the unified tree is mounted at .../unified.
        if (::access((root + "/cgroup.procs").c_str(), F_OK) != 0 &&
            ::access((root + "/unified/cgroup.procs").c_str(), F_OK) == 0)
            return root + "/unified";
        return root;
    }
    return root + "/" + hierarchy;
}

std::optional<std::pair<Pid, std::string>> LinuxPlatform::appUnitLeader(Pid pid) {
    auto text = readSmallFile(options_.procRoot + "/" + std::to_string(pid) + "/cgroup", 65536);
    if (!text) return std::nullopt;
    auto unit = parseAppUnit(*text);
    if (!unit) return std::nullopt;
    auto pids = cgroupPids(cgroupRoot(unit->hierarchy) + unit->cgroupPath);
    Pid lowest = 0;
    for (Pid p : pids) {
        if (p <= 0) continue;
        if (lowest == 0 || p < lowest) {
            // Only a live process can lead the unit.
            if (::access((options_.procRoot + "/" + std::to_string(p)).c_str(), F_OK) == 0) lowest = p;
        }
    }
    if (lowest == 0) return std::nullopt;
    return std::make_pair(lowest, unit->applicationId);
}

Pid LinuxPlatform::responsiblePid(Pid pid) {
    if (pid <= 0) return 0;
    if (auto leader = appUnitLeader(pid)) return leader->first;
    const std::string& root = options_.procRoot;
    return responsibleByProcessGroup(
        pid,
        [&](Pid p) -> std::optional<Lineage> {
            if (p <= 0) return std::nullopt;
            auto st = readStat(root, p);
            if (!st) return std::nullopt;
            return Lineage{st->ppid, st->pgrp, st->session, st->ttyNr != 0, st->state == 'Z' || st->state == 'X'};
        },
        [&](Pid p) { return isShellName(lastPathComponent(readExePath(root, p))); });
}

std::string LinuxPlatform::exePath(Pid pid) { return readExePath(options_.procRoot, pid); }

std::string LinuxPlatform::commandLine(Pid pid) { return readCommandLine(options_.procRoot, pid); }

uint64_t LinuxPlatform::bootTime() {
    std::call_once(bootOnce_, [this] {
        bootTime_ = readBootTime(options_.procRoot).value_or(0);
        bootId_ = readBootId(options_.procRoot);
    });
    return bootTime_;
}

uint64_t LinuxPlatform::startMicros(uint64_t starttime) {
    const uint64_t hz = static_cast<uint64_t>(clockTicksPerSecond_);
    return bootTime() * 1000000ull + (starttime / hz) * 1000000ull + (starttime % hz) * 1000000ull / hz;
}

StartClock LinuxPlatform::startClock() {
    StartClock c;
    c.bootMicros = bootTime() * 1000000ull;
    c.bootId = bootId_;
    return c;
}

std::optional<ProcessFacts> LinuxPlatform::processFacts(Pid pid, FactsWanted wanted) {
    if (pid <= 0) return std::nullopt;
    auto st = readStat(options_.procRoot, pid);
    if (!st) return std::nullopt;
    const uint64_t nsPerTick = 1000000000ull / static_cast<uint64_t>(clockTicksPerSecond_);
    ProcessFacts f;
    f.start = startMicros(st->starttime);
    f.zombie = st->state == 'Z' || st->state == 'X';
    f.stopped = st->state == 'T' || st->state == 't';
    f.cpuTicks = (st->utime + st->stime) * nsPerTick;
    f.priority = priorityFor(st->policy, st->nice);
    f.childTicks = (st->cutime + st->cstime) * nsPerTick;
    f.parent = st->ppid;
    if (wanted.perfShare) {
        const auto& eff = coreIsEfficiency();
        if (eff.empty()) {
            f.perfTicks = f.cpuTicks;
        } else {
            // Hybrid machine: attribute each thread's time to the kind of the
            // core it last ran on.
            uint64_t perf = 0;
            for (Pid tid : listNumericEntries(options_.procRoot + "/" + std::to_string(pid) + "/task")) {
                auto ts = readTaskStat(options_.procRoot, pid, tid);
                if (!ts) continue;
                bool isE = ts->processor >= 0 && static_cast<size_t>(ts->processor) < eff.size() && eff[ts->processor];
                if (!isE) perf += (ts->utime + ts->stime) * nsPerTick;
            }
            f.perfTicks = std::min(perf, f.cpuTicks);
        }
    }
    if (wanted.uid || wanted.stopPending) {
        if (auto text = readSmallFile(options_.procRoot + "/" + std::to_string(pid) + "/status", 16384)) {
            if (wanted.uid) f.uid = parseRealUid(*text);
            if (wanted.stopPending) f.stopPending = parseStopPending(*text);
        }
    }
    if (wanted.taskName) {
        // Any program may name itself anything: control characters show as
        // "?", as procps shows them, and the text stays valid UTF-8.
        for (char& c : st->name)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
        f.taskName = sanitizeUtf8(st->name);
    }
    return f;
}

int LinuxPlatform::sendSignal(Pid pid, int signal) {
    if (pid <= 0) return ESRCH;
    return ::kill(static_cast<pid_t>(pid), signal) == 0 ? 0 : errno;
}

const std::vector<int>& LinuxPlatform::onlineCpus() {
    std::call_once(cpusOnce_, [this] {
        if (auto t = readSmallFile(options_.sysRoot + "/devices/system/cpu/online")) onlineCpus_ = parseCpuList(*t);
        if (onlineCpus_.empty()) {
            long n = ::sysconf(_SC_NPROCESSORS_ONLN);
            for (long i = 0; i < std::max(1L, n); ++i) onlineCpus_.push_back(static_cast<int>(i));
        }
        auto facts = machineFacts();
        if (facts.coreIsEfficiency) {
            int maxCpu = 0;
            for (auto& [cpu, e] : *facts.coreIsEfficiency) maxCpu = std::max(maxCpu, cpu);
            bool any = false;
            efficiency_.assign(static_cast<size_t>(maxCpu) + 1, false);
            for (auto& [cpu, e] : *facts.coreIsEfficiency) {
                efficiency_[static_cast<size_t>(cpu)] = e;
                if (e) {
                    any = true;
                    efficiencyCpus_.push_back(cpu);
                }
            }
            if (!any) efficiency_.clear();
        }
    });
    return onlineCpus_;
}

const std::vector<bool>& LinuxPlatform::coreIsEfficiency() {
    onlineCpus();
    return efficiency_;
}

static bool setAffinityOfAllThreads(const std::string& procRoot, Pid pid, const std::vector<int>& cpus) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int c : cpus)
        if (c >= 0 && c < CPU_SETSIZE) CPU_SET(c, &set);
    auto tids = listNumericEntries(procRoot + "/" + std::to_string(pid) + "/task");
    if (tids.empty()) tids.push_back(pid);
    bool any = false;
    for (Pid tid : tids) {
        if (::sched_setaffinity(static_cast<pid_t>(tid), sizeof set, &set) == 0) any = true;
    }
    return any;
}

bool LinuxPlatform::demote(Pid pid) {
    if (pid <= 0) return false;
    const auto& online = onlineCpus();
    std::vector<int> target = efficiencyCpus_;
    if (target.empty()) target.push_back(online.back());  // one kind of core: the highest-numbered one alone
    return setAffinityOfAllThreads(options_.procRoot, pid, target);
}

bool LinuxPlatform::promote(Pid pid) {
    if (pid <= 0) return false;
    return setAffinityOfAllThreads(options_.procRoot, pid, onlineCpus());
}

std::optional<std::vector<CoreTicks>> LinuxPlatform::coreTicks() {
    auto t = readSmallFile(options_.procRoot + "/stat");
    if (!t) return std::nullopt;
    auto v = parseCoreTicks(*t);
    if (v.empty()) return std::nullopt;
    return v;
}

MachineFacts LinuxPlatform::machineFacts() {
    MachineFacts f;
    if (auto t = readSmallFile(options_.procRoot + "/cpuinfo")) {
        auto pos = t->find("model name");
        if (pos != std::string::npos) {
            auto colon = t->find(':', pos);
            auto nl = t->find('\n', pos);
            if (colon != std::string::npos && colon < nl) {
                std::string v = t->substr(colon + 1, nl - colon - 1);
                while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.erase(v.begin());
                while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.pop_back();
                if (!v.empty()) f.chipName = v;
            }
        }
    }
    if (!f.chipName) {
        if (auto m = readSmallFile(options_.sysRoot + "/firmware/devicetree/base/model")) {
            std::string v(m->c_str());  // NUL-terminated in the device tree
            if (!v.empty()) f.chipName = v;
        }
    }
    std::vector<int> online;
    if (auto t = readSmallFile(options_.sysRoot + "/devices/system/cpu/online")) online = parseCpuList(*t);
    if (online.empty()) {
        long n = ::sysconf(_SC_NPROCESSORS_ONLN);
        if (n > 0) f.logicalCores = static_cast<int>(n);
    } else {
        f.logicalCores = static_cast<int>(online.size());
    }
    // Intel hybrid parts name their two kinds of core in sysfs.
    auto pcores = readSmallFile(options_.sysRoot + "/devices/cpu_core/cpus");
    auto ecores = readSmallFile(options_.sysRoot + "/devices/cpu_atom/cpus");
    if (pcores && ecores) {
        auto p = parseCpuList(*pcores);
        auto e = parseCpuList(*ecores);
        std::vector<std::pair<int, bool>> kinds;
        for (int c : p) kinds.emplace_back(c, false);
        for (int c : e) kinds.emplace_back(c, true);
        std::sort(kinds.begin(), kinds.end());
        f.efficiencyCores = static_cast<int>(e.size());
        f.performanceCores = static_cast<int>(p.size());
        f.coreIsEfficiency = kinds;
        return f;
    }
    // Otherwise the cores of the highest capacity are the performance cores.
    std::map<int, long> capacity;
    std::vector<int> cpus = online;
    if (cpus.empty()) cpus = listNumericEntries(options_.sysRoot + "/devices/system/cpu");  // never reached normally
    for (int c : online) {
        if (auto t = readSmallFile(options_.sysRoot + "/devices/system/cpu/cpu" + std::to_string(c) + "/cpu_capacity"))
            capacity[c] = std::strtol(t->c_str(), nullptr, 10);
    }
    if (!capacity.empty()) {
        long top = 0;
        for (auto& [c, v] : capacity) top = std::max(top, v);
        std::vector<std::pair<int, bool>> kinds;
        int e = 0, p = 0;
        for (auto& [c, v] : capacity) {
            bool isE = v < top;
            kinds.emplace_back(c, isE);
            (isE ? e : p)++;
        }
        f.efficiencyCores = e;
        f.performanceCores = p;
        if (e > 0) f.coreIsEfficiency = kinds;
    }
    return f;
}

int LinuxPlatform::activeCores() { return std::max<int>(1, static_cast<int>(onlineCpus().size())); }

std::optional<RunningAppInfo> LinuxPlatform::lookupApp(Pid pid) {
    auto leader = appUnitLeader(pid);
    if (!leader || leader->first != pid) return std::nullopt;
    RunningAppInfo info;
    info.pid = pid;
    info.bundleID = leader->second;
    auto dirs = options_.appDirs.empty() ? applicationDirsFromEnvironment() : options_.appDirs;
    auto locales = options_.locales ? *options_.locales : localesFromEnvironment();
    if (auto entry = findDesktopEntry(leader->second, dirs, locales)) {
        info.bundlePath = entry->path;
        info.name = entry->name.empty() ? leader->second : entry->name;
        info.policy = entry->noDisplay ? ActivationPolicy::accessory : ActivationPolicy::regular;
    } else {
        info.name = leader->second;
    }
    return info;
}

FrontApp LinuxPlatform::startFrontTracking(std::function<void(FrontApp)> onChange) {
    if (!options_.desktop) return FrontApp::none();
    std::lock_guard<std::mutex> g(frontLock_);
    if (!front_) {
        const SessionEnvironment env = currentSessionEnvironment();
        front_ = std::make_unique<Front>();
        front_->watcher = makeFrontWatcher(env);
        if (chooseFrontBackend(env) == FrontBackend::gnomeShellExtension) installGnomeExtensionInBackground(env);
    }
    return front_->watcher->start(std::move(onChange));
}

std::string LinuxPlatform::frontUnknownReason() {
    std::lock_guard<std::mutex> g(frontLock_);
    return front_ ? front_->watcher->unknownReason() : std::string();
}

std::optional<BusyReason> LinuxPlatform::busyReason(const std::set<Pid>& pids) {
    if (!options_.desktop || pids.empty()) return std::nullopt;
    return busyReasonOf(pids, audioStreams(), logindInhibitors());
}

static std::string homeDirectory() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    if (passwd* pw = ::getpwuid(::getuid())) return pw->pw_dir;
    return "/tmp";
}

std::string LinuxPlatform::dataDirectory() {
    if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x == '/') return std::string(x) + "/Trevlin";
    return homeDirectory() + "/.local/share/Trevlin";
}

std::string LinuxPlatform::ownBundlePath() {
    // The entry installed beside the program (<prefix>/bin/Trevlin and
    // <prefix>/share/applications/…) is the one that started it from the
    // menu; then the first one on the data folders, as the desktop finds it.
    std::error_code error;
    const auto exe = std::filesystem::read_symlink(options_.procRoot + "/self/exe", error);
    if (!error && exe.has_parent_path()) {
        const auto beside = exe.parent_path().parent_path() / "share/applications" / kOwnDesktopEntry;
        if (::access(beside.c_str(), F_OK) == 0) return beside.lexically_normal().string();
    }
    auto dirs = options_.appDirs.empty() ? applicationDirsFromEnvironment() : options_.appDirs;
    for (const auto& d : dirs) {
        std::string p = d + "/" + kOwnDesktopEntry;
        if (::access(p.c_str(), F_OK) == 0) return p;
    }
    return dirs.empty() ? std::string(kOwnDesktopEntry) : dirs.front() + "/" + kOwnDesktopEntry;
}

}  // namespace trevlin
