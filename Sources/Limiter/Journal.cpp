#include "Journal.h"

#include "Files.h"
#include "Log.h"
#include "ProcessUtil.h"

#include <dirent.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <nlohmann/json.hpp>

namespace trevlin {

using json = nlohmann::json;

Journal::Journal(Platform& platform, std::string directory) : platform_(platform), dir_(std::move(directory)) {}

std::string Journal::filePath() const { return filePathIn(dir_, platform_.myPid()); }

std::string Journal::filePathIn(const std::string& dir, Pid writer) {
    return dir + "/journal-" + std::to_string(writer) + ".json";
}

void Journal::update(const std::string& app, Pid pid, uint64_t start, bool paused, bool demoted) {
    std::lock_guard<std::mutex> g(lock_);
    auto key = std::make_pair(app, pid);
    if (!paused && !demoted) {
        if (entries_.erase(key)) dirty_ = true;
        return;
    }
    Entry e{app, pid, start, paused, demoted};
    auto it = entries_.find(key);
    if (it != entries_.end() && it->second == e) return;
    entries_[key] = e;
    dirty_ = true;
}

void Journal::remove(const std::string& app, Pid pid) {
    std::lock_guard<std::mutex> g(lock_);
    if (entries_.erase(std::make_pair(app, pid))) dirty_ = true;
}

void Journal::removeAll(const std::string& app) {
    std::lock_guard<std::mutex> g(lock_);
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->first.first == app) {
            it = entries_.erase(it);
            dirty_ = true;
        } else {
            ++it;
        }
    }
}

std::optional<Journal::Entry> Journal::entry(const std::string& app, Pid pid) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = entries_.find(std::make_pair(app, pid));
    if (it == entries_.end()) return std::nullopt;
    return it->second;
}

std::vector<Journal::Entry> Journal::entries() {
    std::lock_guard<std::mutex> g(lock_);
    std::vector<Entry> out;
    for (auto& [k, e] : entries_) out.push_back(e);
    return out;
}

bool Journal::isDirty() {
    std::lock_guard<std::mutex> g(lock_);
    return dirty_;
}

static json encodeEntry(const Journal::Entry& e) {
    return json{{"app", e.app}, {"pid", e.pid}, {"start", e.start}, {"paused", e.paused}, {"demoted", e.demoted}};
}

Journal::Written Journal::flush() {
    std::lock_guard<std::mutex> g(lock_);
    if (!dirty_) return {};
    const double t = now(platform_);
    // A full or read-only disk is not tried again ten times a second.
    if (!lastFailure_.ok() && t - lastAttempt_ < retrySeconds) return lastFailure_;
    const Written result = write();
    if (result.ok()) {
        dirty_ = false;
        written_ = entries_;
        if (!lastFailure_.ok()) logStderr("Trevlin: the journal is written again");
        lastFailure_ = {};
        loggedFailure_.clear();
        return result;
    }
    // Still dirty: what is on disk is what was written last.
    lastFailure_ = result;
    lastAttempt_ = t;
    if (result.message != loggedFailure_) {
        logStderr("Trevlin: could not write journal: " + result.message);
        loggedFailure_ = result.message;
    }
    return result;
}

Journal::Written Journal::write() {
    const std::string path = filePath();
    Files::Error error;
    if (entries_.empty()) {
        if (Files::remove(path, &error)) return {};
        return {error.code, error.message};
    }
    // The map is ordered by (app, pid): the file's order.
    json list = json::array();
    for (auto& [k, e] : entries_) list.push_back(encodeEntry(e));
    json file{{"limiterPid", platform_.myPid()}, {"limiterStart", processStartTime(platform_, platform_.myPid()).value_or(0)}, {"entries", list}};
    // The boot and the boot time the start times above count from, so that
    // a later run can line them up with its own after a clock step.
    const StartClock clock = platform_.startClock();
    if (!clock.bootId.empty()) {
        file["bootId"] = clock.bootId;
        file["bootTime"] = clock.bootMicros;
    }
    // An app key holds whatever bytes a file name has; recovery goes by pid
    // and start time only, so a key that is not UTF-8 is written with its
    // bad bytes replaced rather than failing the whole write.
    const std::string text = file.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    if (!Files::createDirectories(dir_, &error) || !Files::writeAtomically(path, text, &error))
        return {error.code != 0 ? error.code : EIO, error.message};
    return {};
}

std::optional<int> Journal::failure() {
    std::lock_guard<std::mutex> g(lock_);
    if (lastFailure_.ok()) return std::nullopt;
    return lastFailure_.code;
}

bool Journal::isDurable(const std::string& app, Pid pid, uint64_t start, bool paused, bool demoted) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = written_.find(std::make_pair(app, pid));
    if (it == written_.end() || it->second.start != start) return false;
    return (!paused || it->second.paused) && (!demoted || it->second.demoted);
}

namespace {

template <class T>
bool take(const json& obj, const char* key, T& out) {
    auto it = obj.find(key);
    if (it == obj.end()) return false;
    if constexpr (std::is_same_v<T, bool>) {
        if (!it->is_boolean()) return false;
    } else if constexpr (std::is_same_v<T, std::string>) {
        if (!it->is_string()) return false;
    } else {
        if (!it->is_number_integer()) return false;
        if constexpr (std::is_unsigned_v<T>) {
            if (it->is_number_integer() && !it->is_number_unsigned() && it->template get<int64_t>() < 0) return false;
        } else {
            int64_t v = it->template get<int64_t>();
            if (v < INT32_MIN || v > INT32_MAX) return false;
        }
    }
    out = it->template get<T>();
    return true;
}

}  // namespace

std::optional<Journal::File> Journal::decode(const std::string& text) {
    json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    File f;
    if (!take(j, "limiterPid", f.limiterPid) || !take(j, "limiterStart", f.limiterStart)) return std::nullopt;
    // Optional: without both the file's start times are taken as they stand.
    if (!take(j, "bootId", f.bootId) || !take(j, "bootTime", f.bootTime)) {
        f.bootId.clear();
        f.bootTime = 0;
    }
    auto it = j.find("entries");
    if (it == j.end() || !it->is_array()) return std::nullopt;
    for (const auto& e : *it) {
        if (!e.is_object()) return std::nullopt;
        Journal::Entry entry;
        if (!take(e, "app", entry.app) || !take(e, "pid", entry.pid) || !take(e, "start", entry.start) ||
            !take(e, "paused", entry.paused) || !take(e, "demoted", entry.demoted))
            return std::nullopt;
        // No instance writes these: to signal 0 or a negative pid would reach
        // a whole process group or every process. The others still count.
        if (entry.pid <= 0) continue;
        f.entries.push_back(entry);
    }
    return f;
}

namespace {

/// A start time of the file's writer as this run counts it: moved by the
/// difference in boot time when the clock was stepped in between. 0 stays
/// 0 (unknown).
uint64_t lineUp(uint64_t start, int64_t shift) {
    if (start == 0 || shift == 0) return start;
    if (shift < 0 && static_cast<uint64_t>(-shift) >= start) return 1;
    return start + static_cast<uint64_t>(shift);
}

/// Where a file's start times stand against this run's clock: the shift
/// that lines them up, or absent when the file was written in an earlier
/// boot.
std::optional<int64_t> shiftOf(const Journal::File& file, const StartClock& clock) {
    if (file.bootId.empty() || clock.bootId.empty()) return 0;
    if (file.bootId != clock.bootId) return std::nullopt;
    return static_cast<int64_t>(clock.bootMicros - file.bootTime);
}

/// Continues and promotes every process the file lists that is still the
/// same process; returns how many.
int restoreListed(Platform& p, const Journal::File& file, int64_t shift) {
    const Pid self = p.myPid();
    int restored = 0;
    for (const auto& e : file.entries) {
        if (e.pid == self || e.pid <= 0) continue;
        if (!isSameProcess(p, e.pid, lineUp(e.start, shift))) continue;
        if (e.paused) p.sendSignal(e.pid, SIGCONT);
        if (e.demoted) p.promote(e.pid);
        ++restored;
    }
    return restored;
}

}  // namespace

int Journal::restoreFile(Platform& p, const std::string& path) {
    auto text = Files::read(path, Files::ReadOptions{.maxBytes = maxFileBytes});
    if (!text) return 0;
    int restored = 0;
    if (auto file = decode(*text)) {
        if (auto shift = shiftOf(*file, p.startClock())) restored = restoreListed(p, *file, *shift);
    }
    Files::remove(path);
    return restored;
}

int Journal::recoverOrphans(Platform& p, const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
        ::closedir(d);
    }
    const Pid self = p.myPid();
    const StartClock clock = p.startClock();
    int restored = 0;
    for (const auto& name : names) {
        const std::string prefix = "journal-", suffix = ".json";
        if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 10)
            continue;
        long long v = std::strtoll(digits.c_str(), nullptr, 10);
        if (v > INT32_MAX) continue;
        const Pid writer = static_cast<Pid>(v);

        const std::string path = dir + "/" + name;
        std::optional<File> file;
        Files::Error readError;
        auto text = Files::read(path, Files::ReadOptions{.maxBytes = maxFileBytes}, &readError);
        if (text) file = decode(*text);
        // Too large to be a journal: decided on by its name alone.
        const bool refused = !text && readError.code == EFBIG;
        const std::string tooLarge = name + " is larger than " + std::to_string(maxFileBytes) + " bytes";

        // Start times in the file count from the writer's boot time. Written
        // in this boot, they are lined up with ours (the clock may have been
        // stepped since); written in an earlier boot, every process it lists
        // ended with that boot, whatever pid and start it has now.
        int64_t shift = 0;
        bool earlierBoot = false;
        if (file) {
            const auto lined = shiftOf(*file, clock);
            earlierBoot = !lined;
            shift = lined.value_or(0);
        }
        const uint64_t limiterStart = file ? lineUp(file->limiterStart, shift) : 0;

        // Our own file is ours to keep, unless it was written by an earlier
        // instance that had the same pid: our first flush would overwrite
        // what that one left stopped.
        if (writer == self && !earlierBoot) {
            const uint64_t ownStart = processStartTime(p, self).value_or(0);
            if (!file || limiterStart == 0 || ownStart == 0 || limiterStart == ownStart) continue;
        }

        // Is the writer still running?
        bool running = false;
        int probe = earlierBoot ? ESRCH : p.sendSignal(writer, 0);
        if (probe == EPERM) {
            running = true;
        } else if (probe == 0) {
            auto facts = p.processFacts(writer, {});
            if (facts && !facts->zombie) {
                running = !file || limiterStart == 0 || limiterStart == facts->start;
            }
        }
        if (running) {
            if (refused) logStderr("Trevlin: " + tooLarge + "; left alone unread while its writer runs");
            continue;
        }
        if (refused) {
            // Whatever it lists is unknown; it is kept for a person to look at.
            Files::Error error;
            if (auto aside = Files::moveAside(path, p.wallClock(), &error))
                logStderr("Trevlin: " + tooLarge + "; moved aside unread to " + *aside);
            else
                logStderr("Trevlin: " + tooLarge + " and could not be moved aside (" + error.message + ")");
            continue;
        }

        if (file && !earlierBoot) restored += restoreListed(p, *file, shift);
        Files::remove(path);
    }
    return restored;
}

}  // namespace trevlin
