#include "SystemProcesses.h"

#include "Utf8.h"
#include "ProcessUtil.h"

#include <pwd.h>
#include <sys/types.h>

#include <algorithm>

namespace trevlin {

// ---------------------------------------------------------------- names

namespace SystemProcessNames {

Friendly friendly(const std::string& command) {
    // Only a path is cut to its file name: a process is known by its task
    // name, and a kernel thread's name ("ksoftirqd/0", "kworker/u8:0-events")
    // holds a "/" that separates no folders.
    std::string base = command.rfind('/', 0) == 0 ? lastPathComponent(command) : command;
    if (base.empty()) base = command;
    // The programs of the helper's allow list, by file name. The kernel keeps
    // the first 15 bytes of it as the task name, so a cut name counts too and
    // the row shows the whole one.
    static const std::vector<std::string> indexing = {
        "updatedb.plocate", "plocate-build", "updatedb.mlocate", "tracker-miner-fs-3", "tracker-extract-3",
        "localsearch-3", "localsearch-extractor-3", "tracker-miner-fs", "tracker-extract", "baloo_file",
        "baloo_file_extractor"};
    static const std::vector<std::string> backups = {"timeshift", "timeshift-gtk", "deja-dup", "deja-dup-monitor",
                                                     "duplicity", "borg", "borgbackup", "restic"};
    constexpr size_t taskNameBytes = 15;
    // A 15-byte name is most likely cut: "tracker-extract" is what
    // tracker-extract-3 shows, more often than Tracker 2's program.
    auto find = [&](const std::vector<std::string>& names) -> const std::string* {
        if (base.size() == taskNameBytes)
            for (const std::string& n : names)
                if (n.size() > taskNameBytes && n.compare(0, taskNameBytes, base) == 0) return &n;
        for (const std::string& n : names)
            if (n == base) return &n;
        return nullptr;
    };
    if (const std::string* n = find(indexing)) return {"File indexing (" + *n + ")", true};
    if (const std::string* n = find(backups)) return {"Backups (" + *n + ")", true};
    return {base, false};
}

}  // namespace SystemProcessNames

// ---------------------------------------------------------------- sampling

SystemProcessSampler::SystemProcessSampler(Platform& platform) : platform_(platform) {}

void SystemProcessSampler::reset() {
    prev_.clear();
    prevTime_ = 0;
}

std::string SystemProcessSampler::userName(uint32_t uid) {
    auto known = userNames_.find(uid);
    if (known != userNames_.end()) return known->second;
    std::string name = std::to_string(uid);
    struct passwd entry{};
    struct passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (::getpwuid_r(static_cast<uid_t>(uid), &entry, buf.data(), buf.size(), &found) == 0 && found &&
        found->pw_name && *found->pw_name)
        name = sanitizeUtf8(found->pw_name);
    userNames_.emplace(uid, name);
    return name;
}

std::optional<SystemBreakdown> SystemProcessSampler::sample(const std::set<Pid>& excluding, double timeout) {
    struct Row {
        Pid pid;
        uint32_t uid;
        Rec rec;
    };
    const double t0 = now(platform_);
    const double deadline = t0 + std::max(0.0, timeout);
    const std::vector<Pid> pids = platform_.allPids();
    std::map<Pid, Rec> current;
    std::vector<Row> rows;
    rows.reserve(pids.size());
    const FactsWanted wanted{.uid = true, .taskName = true};
    for (Pid pid : pids) {
        // A process that ended since the listing, or whose details the
        // kernel keeps from us, is left out, as `ps` leaves it out.
        std::optional<ProcessFacts> facts = platform_.processFacts(pid, wanted);
        if (!facts || !facts->uid || facts->taskName.empty()) continue;
        Rec rec{facts->cpuTicks, facts->start, std::move(facts->taskName)};
        current[pid] = rec;
        rows.push_back(Row{pid, *facts->uid, std::move(rec)});
        if (now(platform_) > deadline) return std::nullopt;
    }
    if (rows.empty()) return std::nullopt;  // no process list, or nothing in it readable
    const double t1 = now(platform_);
    ++runs_;

    const double time = (t0 + t1) / 2;
    const double interval = time - prevTime_;
    SystemBreakdown out;
    out.timestamp = platform_.wallClock();
    if (prevTime_ > 0 && interval > 0.5 && interval < 60) {
        out.interval = interval;
        const double secondsPerTick = platform_.secondsPerTick();
        for (const Row& row : rows) {
            if (excluding.count(row.pid)) continue;
            auto before = prev_.find(row.pid);
            // A reused pid (another start or another name) or a counter that
            // went down gives no rate.
            if (before == prev_.end() || before->second.start != row.rec.start ||
                before->second.command != row.rec.command || before->second.cpuTicks > row.rec.cpuTicks)
                continue;
            const double cores =
                static_cast<double>(row.rec.cpuTicks - before->second.cpuTicks) * secondsPerTick / interval;
            if (!(cores > 0.0005)) continue;
            auto names = SystemProcessNames::friendly(row.rec.command);
            out.processes.push_back(
                SystemProcess{row.pid, userName(row.uid), row.rec.command, names.name, cores, names.needsHelper});
        }
        std::sort(out.processes.begin(), out.processes.end(), [](const SystemProcess& a, const SystemProcess& b) {
            return a.cores != b.cores ? a.cores > b.cores : a.pid < b.pid;
        });
    }
    prev_ = std::move(current);
    prevTime_ = time;
    return out;
}

}  // namespace trevlin
