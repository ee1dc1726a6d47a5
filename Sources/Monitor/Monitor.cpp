#include "Monitor.h"

#include "AppKey.h"
#include "ProcessUtil.h"

#include <algorithm>

namespace trevlin {

namespace {

// The timer fires at whole seconds plus a little latency, so the fifth tick
// after a full pass can come a hair under 5 s later; within this margin it
// still counts as due, which keeps lightweight passes every 5 ticks instead
// of alternating between 5 and 6.
constexpr double kTimerLeeway = 0.05;
// How often a process without a group, or in a command-line group, is
// resolved again.
constexpr double kRegroupSeconds = 10.0;
// How long after it is first seen a process without a group, or in a
// command-line group, is resolved again at every pass.
constexpr double kYoungSeconds = 5.0;
// A denied pid is forgotten this long after its window ended.
constexpr double kDeniedForgetSeconds = 60.0;

}  // namespace

Monitor::Monitor(std::shared_ptr<EngineContext> context, SystemInfo info)
    : context_(std::move(context)),
      platform_(context_->platform()),
      systemInfo_(std::move(info)),
      history_(platform_.wallClock()),
      grouping_(platform_),
      queue_(std::make_unique<SerialQueue>("trevlin.monitor")) {}

Monitor::~Monitor() {
    queue_->cancelTimer();
    queue_.reset();  // joins the queue's thread after any running tick
}

void Monitor::setOnSnapshot(SnapshotHandler handler) {
    std::lock_guard<std::mutex> g(lock_);
    onSnapshot_ = std::move(handler);
}

void Monitor::start(bool timer) {
    if (queue_->hasTimer()) return;
    context_->front().start();
    queue_->sync([this] {
        lastCPUTicks_ = platform_.coreTicks().value_or(std::vector<CoreTicks>{});
        lastFullTime_ = now(platform_);
        perProcessPass();  // baselines only: the first tick then has deltas
    });
    if (timer) queue_->startTimer(tickInterval, tickInterval, [this] { tick(); });
}

void Monitor::stop() { queue_->cancelTimer(); }

bool Monitor::isRunning() { return queue_->hasTimer(); }

void Monitor::tickNow() {
    queue_->sync([this] { tick(); });
}

Monitor::CoreReading Monitor::readCoreLoads() {
    CoreReading r;
    auto ticks = platform_.coreTicks();
    if (!ticks) {
        lastCPUTicks_.clear();
        return r;
    }
    r.loads.reserve(ticks->size());
    for (size_t i = 0; i < ticks->size(); ++i) {
        double load = 0;
        if (i < lastCPUTicks_.size()) {
            const CoreTicks& a = lastCPUTicks_[i];
            const CoreTicks& b = (*ticks)[i];
            // Unsigned differences: a counter that wrapped still gives the
            // right (small) difference.
            const double user = static_cast<double>(b.user - a.user);
            const double system = static_cast<double>(b.system - a.system);
            const double idle = static_cast<double>(b.idle - a.idle);
            const double nice = static_cast<double>(b.nice - a.nice);
            const double sum = user + system + idle + nice;
            load = sum > 0 ? (user + system + nice) / sum : 0;
        }
        const CoreKind kind = systemInfo_.kind(static_cast<int>(i));
        r.loads.push_back(CoreLoad{static_cast<int>(i), kind, load});
        r.total += load;
        (kind == CoreKind::performance ? r.p : r.e) += load;
    }
    lastCPUTicks_ = std::move(*ticks);
    return r;
}

std::unordered_map<std::string, Acc> Monitor::perProcessPass() {
    auto& plat = platform_;
    const double t = now(platform_);
    std::set<std::string> hidden, extra;
    {
        std::lock_guard<std::mutex> g(lock_);
        hidden = hiddenAppPaths_;
        extra = extraAppPaths_;
    }
    std::vector<Pid> pids = plat.allPids();
    grouping_.rebuildAppTable(context_->runningApps().all(0.5, pids), hidden, extra);

    // 1. Read every process: the stat file once per process per pass (and,
    // on a hybrid machine, each thread's for the performance share), nothing
    // more, since this runs for every process every second.
    struct Read {
        Pid pid;
        ProcessFacts facts;
    };
    std::vector<Read> reads;
    reads.reserve(pids.size());
    alive_.clear();
    for (Pid pid : pids) {
        if (auto d = denied_.find(pid); d != denied_.end() && t < d->second) continue;
        auto facts = plat.processFacts(pid, {.perfShare = true});
        if (!facts) {
            denied_[pid] = t + deniedSeconds;
            continue;
        }
        if (facts->zombie) {
            // It has run its last. Seen before, its final figures still count
            // once; never seen, its parent's children time will hold it.
            auto it = recs_.find(pid);
            if (it == recs_.end() || it->second.start != facts->start || it->second.ended) continue;
        }
        denied_.erase(pid);
        alive_.insert(pid);
        reads.push_back(Read{pid, *facts});
    }

    // 2. A process read before and gone now (or whose pid names another
    // process) hands what was counted for it to its parent, whose children
    // time grows by its whole life once it is reaped.
    std::unordered_map<Pid, uint64_t> startOf;
    startOf.reserve(reads.size());
    for (const auto& r : reads) startOf.emplace(r.pid, r.facts.start);
    std::vector<EndedProcess> ended;
    std::unordered_set<Pid> reused;
    for (auto it = recs_.begin(); it != recs_.end();) {
        auto s = startOf.find(it->first);
        if (s == startOf.end() || s->second != it->second.start) {
            if (s != startOf.end()) reused.insert(it->first);
            ended.push_back(EndedProcess{it->first, it->second.parent, it->second.cpu});
            it = recs_.erase(it);
        } else {
            ++it;
        }
    }
    creditEndedProcesses(std::move(ended), [&](Pid parent, uint64_t ticks) {
        if (auto p = recs_.find(parent); p != recs_.end()) p->second.cpu.credit(ticks);
    });

    // 3. Count what is new since the previous pass. A process that the
    // previous pass did not list, or that took over the pid of one it read,
    // started after it: all it used is new.
    std::sort(pids.begin(), pids.end());
    const bool havePrevious = !lastListed_.empty();
    const double spt = plat.secondsPerTick();
    std::unordered_map<std::string, Acc> accs;
    struct Counted {
        Pid pid;
        ProcRec* rec;  // records are nodes: inserting more moves none
        const ProcessFacts* facts;
        CpuReading fresh;
        uint64_t dP;
    };
    std::vector<Counted> counts;
    counts.reserve(reads.size());
    for (const auto& [pid, f] : reads) {
        const CpuReading reading{f.cpuTicks, f.childTicks};
        const uint64_t perfTicks = f.perfTicks.value_or(f.cpuTicks);
        CpuReading fresh;
        uint64_t dP = 0;
        ProcRec* rec = nullptr;
        if (auto it = recs_.find(pid); it != recs_.end()) {
            rec = &it->second;
            fresh = rec->cpu.advance(reading);
            dP = perfTicks >= rec->lastP ? perfTicks - rec->lastP : 0;
            // An app process stays with its app; unresolved and command-line
            // processes are looked at again now and then (a launcher may
            // have appeared, or the group may have a new launcher), and at
            // every pass while they are young: a process is often first seen
            // between fork and exec, before it is what it will be.
            const bool regroup = t - rec->groupChecked > kRegroupSeconds || t - rec->firstSeen < kYoungSeconds;
            if (!f.zombie && (!rec->group || AppKey::isGroupKey(*rec->group)) && regroup)
                resolveGroup(pid, *rec, true, t);
        } else {
            const bool bornSince = havePrevious && (reused.count(pid) != 0 ||
                                                    !std::binary_search(lastListed_.begin(), lastListed_.end(), pid));
            ProcRec r;
            r.start = f.start;
            r.firstSeen = t;
            r.cpu = CpuLedger::firstSight(reading, bornSince, &fresh);
            dP = bornSince ? perfTicks : 0;
            resolveGroup(pid, r, false, t);
            rec = &recs_.emplace(pid, std::move(r)).first->second;
        }
        rec->lastP = perfTicks;
        rec->parent = f.parent;
        rec->ended = f.zombie;
        counts.push_back(Counted{pid, rec, &f, fresh, dP});
    }
    lastListed_ = std::move(pids);

    for (const auto& [pid, rec, f, fresh, dP] : counts) {
        // A process that a member of this pass named a launcher counts in
        // the group it launched from this pass on: its children time holds
        // what the group's ended members used.
        if (!rec->group || AppKey::isGroupKey(*rec->group)) {
            if (auto launched = grouping_.launchedGroup(pid); launched && launched != rec->group) {
                rec->group = *launched;
                rec->prog = lastPathComponent(rec->exe);
            }
        }
        if (!rec->group) continue;
        Acc& acc = accs[*rec->group];
        const double own = static_cast<double>(fresh.own) * spt;
        const double children = static_cast<double>(fresh.children) * spt;
        // Children's time has no split by kind of core: it goes by the
        // parent's own share.
        const uint64_t perfTicks = f->perfTicks.value_or(f->cpuTicks);
        const double share = f->cpuTicks > 0 ? static_cast<double>(perfTicks) / static_cast<double>(f->cpuTicks) : 1.0;
        acc.total += own + children;
        acc.p += static_cast<double>(dP) * spt + children * share;
        if (!f->zombie) acc.count += 1;
        if (AppKey::isGroupKey(*rec->group)) {
            acc.progs[rec->prog] += own + children;
            if (!f->zombie) acc.progCount[rec->prog] += 1;
        }
    }

    for (auto it = denied_.begin(); it != denied_.end();) {
        if (t - kDeniedForgetSeconds > it->second) it = denied_.erase(it);
        else ++it;
    }
    grouping_.pruneLauncherCache(alive_);

    std::unordered_set<Pid> counted;
    counted.reserve(recs_.size());
    for (const auto& [pid, rec] : recs_)
        if (rec.group && !rec.ended) counted.insert(pid);
    {
        std::lock_guard<std::mutex> g(lock_);
        counted_.swap(counted);
    }
    return accs;
}

void Monitor::resolveGroup(Pid pid, ProcRec& rec, bool known, double t) {
    auto& plat = platform_;
    std::string exe = plat.exePath(pid);
    // What decides a process's responsible process (its process group, its
    // move into an app's unit) is settled between fork and exec. So it is
    // asked in the process's first seconds and afterwards only when it ran
    // a new executable; asking every time would cost more than the whole pass.
    const bool sameExecutable = known && exe == rec.exe;
    if (!sameExecutable || t - rec.firstSeen < kYoungSeconds) {
        rec.owner = plat.responsiblePid(pid);
        rec.exe = std::move(exe);
    }
    auto group = grouping_.resolve(pid, rec.exe, rec.owner);
    // A member of a command-line group that still runs the same program
    // stays in its group when the launcher has exited (it then resolves to
    // nothing); it only moves when another group claims it.
    if (group || !sameExecutable || !rec.group || !AppKey::isGroupKey(*rec.group)) rec.group = std::move(group);
    rec.groupChecked = t;
    // Named for what it runs now: a process first seen between fork and exec
    // still ran its parent's program.
    if (rec.group && AppKey::isGroupKey(*rec.group)) rec.prog = lastPathComponent(rec.exe);
}

std::vector<AppUsage> Monitor::fullPassRows(double dt) {
    auto accs = perProcessPass();
    const AppTable& table = grouping_.appTable();

    std::optional<std::string> frontKey;
    if (Pid front = context_->front().pid(); front > 0) {
        if (auto it = table.pidToApp.find(front); it != table.pidToApp.end()) frontKey = it->second;
        else frontKey = grouping_.resolve(front);
    }

    std::vector<AppUsage> rows;
    static const Acc none;
    for (const auto& [key, rec] : table.apps) {
        if (!rec.isRow) continue;
        auto a = accs.find(key);
        const Acc& acc = a == accs.end() ? none : a->second;
        AppUsage row;
        row.name = rec.name;
        row.bundlePath = key;
        row.bundleIdentifier = rec.bundleID;
        row.mainPid = rec.mainPid != 0 ? rec.mainPid : rec.anyPid;
        row.processCount = acc.count;
        row.cores = acc.total / dt;
        row.pCores = std::min(acc.p / dt, row.cores);
        row.eCores = std::max(0.0, row.cores - row.pCores);
        row.isFrontmost = frontKey && *frontKey == key;
        row.isUserFacing = rec.regular;
        row.kind = AppKind::app;
        rows.push_back(std::move(row));
    }
    for (auto& row : grouping_.commandLineRows(accs, dt)) rows.push_back(std::move(row));
    std::sort(rows.begin(), rows.end(), [](const AppUsage& a, const AppUsage& b) {
        if (a.cores != b.cores) return a.cores > b.cores;
        if (a.name != b.name) return a.name < b.name;
        return a.bundlePath < b.bundlePath;
    });
    return rows;
}

void Monitor::tick() {
    const double t = now(platform_);
    CoreReading cores = readCoreLoads();

    bool light;
    {
        std::lock_guard<std::mutex> g(lock_);
        light = lightweight_;
    }
    if (!(light && t - lastFullTime_ < lightweightPassInterval - kTimerLeeway && !cachedApps_.empty())) {
        const double dt = std::max(0.001, t - lastFullTime_);
        lastFullTime_ = t;
        cachedApps_ = fullPassRows(dt);
    }

    double rowCores = 0, rowP = 0, rowE = 0;
    for (const auto& row : cachedApps_) {
        rowCores += row.cores;
        rowP += row.pCores;
        rowE += row.eCores;
    }
    MonitorSnapshot snap;
    snap.timestamp = platform_.wallClock();
    snap.coreLoads = std::move(cores.loads);
    snap.totalCores = cores.total;
    snap.pCores = cores.p;
    snap.eCores = cores.e;
    snap.apps = cachedApps_;
    snap.frontKnown = context_->front().known();
    // The rows and the core counters are different sources; the rows may
    // add up to more than the cores measured, and Other is then 0.
    snap.other.name = "Other / system";
    snap.other.cores = std::max(0.0, cores.total - rowCores);
    snap.other.pCores = std::max(0.0, cores.p - rowP);
    snap.other.eCores = std::max(0.0, cores.e - rowE);
    snap.other.kind = AppKind::app;

    SavedProvider provider;
    SnapshotHandler handler;
    {
        std::lock_guard<std::mutex> g(lock_);
        provider = savedProvider_;
        handler = onSnapshot_;
    }
    const double saved = provider ? provider() : 0;
    {
        std::lock_guard<std::mutex> g(lock_);
        latest_ = snap;
        history_.record(snap, saved);
    }
    if (handler) handler(snap);
}

std::optional<MonitorSnapshot> Monitor::latest() {
    std::lock_guard<std::mutex> g(lock_);
    return latest_;
}

std::unordered_set<Pid> Monitor::countedPids() {
    std::lock_guard<std::mutex> g(lock_);
    return counted_;
}

std::set<std::string> Monitor::hiddenAppPaths() {
    std::lock_guard<std::mutex> g(lock_);
    return hiddenAppPaths_;
}

void Monitor::setHiddenAppPaths(std::set<std::string> paths) {
    std::lock_guard<std::mutex> g(lock_);
    hiddenAppPaths_ = std::move(paths);
}

std::set<std::string> Monitor::extraAppPaths() {
    std::lock_guard<std::mutex> g(lock_);
    return extraAppPaths_;
}

void Monitor::setExtraAppPaths(std::set<std::string> paths) {
    std::lock_guard<std::mutex> g(lock_);
    extraAppPaths_ = std::move(paths);
}

bool Monitor::lightweight() {
    std::lock_guard<std::mutex> g(lock_);
    return lightweight_;
}

void Monitor::setLightweight(bool on) {
    std::lock_guard<std::mutex> g(lock_);
    lightweight_ = on;
}

void Monitor::setSavedProvider(SavedProvider provider) {
    std::lock_guard<std::mutex> g(lock_);
    savedProvider_ = std::move(provider);
}

MonitorHistory Monitor::history() {
    std::lock_guard<std::mutex> g(lock_);
    return history_.history();
}

MonitorHistory Monitor::history(int last, const std::optional<std::vector<std::string>>& appKeys) {
    std::lock_guard<std::mutex> g(lock_);
    return history_.history(last, appKeys);
}

SystemSamples Monitor::systemSamples(int64_t after, int maxCount) {
    std::lock_guard<std::mutex> g(lock_);
    return history_.systemSamples(after, maxCount);
}

std::optional<HistoryPoint> Monitor::historyPoint(int secondsAgo, int top) {
    std::lock_guard<std::mutex> g(lock_);
    return history_.historyPoint(secondsAgo, top);
}

int64_t Monitor::historyTick() {
    std::lock_guard<std::mutex> g(lock_);
    return history_.tickCount();
}

}  // namespace trevlin
