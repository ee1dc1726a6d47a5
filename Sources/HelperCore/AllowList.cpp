#include "AllowList.h"

#include <dirent.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace trevlin {

namespace {

const char* const kSpotlightDir =
    "/System/Library/Frameworks/CoreServices.framework/Versions/A/Frameworks/Metadata.framework/Versions/A/Support/";
const char* const kSpotlightNames[] = {"mds_stores", "mdworker", "mdworker_shared", "mdbulkimport"};

AllowList makeList(const std::string& spotlightDir, const std::string& timeMachinePath) {
    AllowList list;
    for (const char* name : kSpotlightNames) list.paths[HelperGroup::spotlight].insert(spotlightDir + name);
    list.paths[HelperGroup::timemachine].insert(timeMachinePath);
    return list;
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
    static const AllowList list = makeList(kSpotlightDir, "/System/Library/CoreServices/TimeMachine/backupd");
    return list;
}

AllowList AllowList::test(const std::string& directory) {
    std::string dir = directory;
    if (dir.empty() || dir.back() != '/') dir.push_back('/');
    return makeList(dir, dir + "backupd");
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
                if (auto g = allow_.group(*exe)) cache_[*g].push_back(*pid);
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

}  // namespace trevlin
