#include "SimulatedPlatform.h"

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace trevlin {

SimulatedPlatform::SimulatedPlatform() { setCores(4); }

SimProcess& SimulatedPlatform::add(SimProcess p) {
    std::lock_guard<std::mutex> g(lock_);
    Pid pid = p.pid;
    procs_[pid] = std::move(p);
    return procs_[pid];
}

SimProcess& SimulatedPlatform::spawn(Pid pid, const std::string& exe, double demand, Pid responsible) {
    SimProcess p;
    p.pid = pid;
    p.exe = exe;
    p.cmd = exe + " ";
    p.demand = demand;
    p.responsible = responsible;
    p.start = 1700000000000000ull + static_cast<uint64_t>(pid) * 1000ull + nowTicks_ / 1000ull;
    return add(std::move(p));
}

void SimulatedPlatform::remove(Pid pid) {
    std::lock_guard<std::mutex> g(lock_);
    procs_.erase(pid);
}

void SimulatedPlatform::reap(Pid pid) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = procs_.find(pid);
    if (it == procs_.end()) return;
    if (auto parent = procs_.find(it->second.parent); parent != procs_.end() && parent != it)
        parent->second.childSeconds += it->second.cpuSeconds + it->second.childSeconds;
    procs_.erase(it);
}

bool SimulatedPlatform::has(Pid pid) {
    std::lock_guard<std::mutex> g(lock_);
    return procs_.count(pid) != 0;
}

SimProcess SimulatedPlatform::get(Pid pid) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = procs_.find(pid);
    return it == procs_.end() ? SimProcess{} : it->second;
}

void SimulatedPlatform::setDemand(Pid pid, double cores) {
    edit(pid, [&](SimProcess& p) { p.demand = cores; });
}

void SimulatedPlatform::setCores(int logical, std::vector<bool> efficiency) {
    std::lock_guard<std::mutex> g(lock_);
    logical_ = std::max(1, logical);
    efficiency_ = std::move(efficiency);
    coreBusy_.assign(static_cast<size_t>(logical_), 0.0);
    coreTotal_.assign(static_cast<size_t>(logical_), 0.0);
}

void SimulatedPlatform::setExtraLoad(double cores) {
    std::lock_guard<std::mutex> g(lock_);
    extraLoad_ = cores;
}

void SimulatedPlatform::setCoreTicksFail(bool fail) {
    std::lock_guard<std::mutex> g(lock_);
    coreTicksFail_ = fail;
}

void SimulatedPlatform::setApp(RunningAppInfo info) {
    std::lock_guard<std::mutex> g(lock_);
    apps_[info.pid] = std::move(info);
}

void SimulatedPlatform::removeApp(Pid pid) {
    std::lock_guard<std::mutex> g(lock_);
    apps_.erase(pid);
}

void SimulatedPlatform::setFront(Pid pid) {
    std::function<void(FrontApp)> cb;
    {
        std::lock_guard<std::mutex> g(lock_);
        front_ = FrontApp::of(pid);
        frontUnknownReason_.clear();
        cb = frontCallback_;
    }
    if (cb) cb(FrontApp::of(pid));
}

void SimulatedPlatform::setFrontUnknown(std::string reason) {
    std::function<void(FrontApp)> cb;
    {
        std::lock_guard<std::mutex> g(lock_);
        front_ = FrontApp::unknown();
        frontUnknownReason_ = std::move(reason);
        cb = frontCallback_;
    }
    if (cb) cb(FrontApp::unknown());
}

Pid SimulatedPlatform::front() {
    std::lock_guard<std::mutex> g(lock_);
    return front_.pid;
}

void SimulatedPlatform::setBusy(Pid pid, std::optional<BusyReason> reason) {
    std::lock_guard<std::mutex> g(lock_);
    if (reason) busy_[pid] = *reason;
    else busy_.erase(pid);
}

void SimulatedPlatform::setDataDirectory(std::string dir) {
    std::lock_guard<std::mutex> g(lock_);
    dataDir_ = std::move(dir);
}

void SimulatedPlatform::setMyPid(Pid pid) {
    std::lock_guard<std::mutex> g(lock_);
    myPid_ = pid;
}

void SimulatedPlatform::setMyUid(uint32_t uid) {
    std::lock_guard<std::mutex> g(lock_);
    myUid_ = uid;
}

void SimulatedPlatform::setMachineFacts(MachineFacts facts) {
    std::lock_guard<std::mutex> g(lock_);
    facts_ = std::move(facts);
}

void SimulatedPlatform::setWallClock(double seconds) {
    std::lock_guard<std::mutex> g(lock_);
    wallBase_ = seconds - static_cast<double>(nowTicks_) * 1e-9;
}

void SimulatedPlatform::advanceLocked(uint64_t ticks) {
    if (ticks == 0) return;
    const double dt = static_cast<double>(ticks) * 1e-9;
    double running = extraLoad_;
    double runningP = extraLoad_;
    for (auto& [pid, p] : procs_) {
        if (p.stopped || p.zombie || p.demand <= 0) continue;
        p.cpuSeconds += p.demand * dt;
        p.perfSeconds += p.demand * p.perfShare * dt;
        running += p.demand;
        runningP += p.demand * p.perfShare;
    }
    // Spread the running demand over the cores: performance work over the
    // performance cores and the rest over the efficiency cores, each core at
    // most fully busy.
    std::vector<size_t> pIdx, eIdx;
    for (size_t i = 0; i < coreBusy_.size(); ++i) {
        bool e = i < efficiency_.size() && efficiency_[i];
        (e ? eIdx : pIdx).push_back(i);
    }
    auto spread = [&](const std::vector<size_t>& idx, double load) {
        if (idx.empty()) return load;
        double per = std::min(1.0, load / static_cast<double>(idx.size()));
        for (size_t i : idx) coreBusy_[i] += per * dt;
        return std::max(0.0, load - per * static_cast<double>(idx.size()));
    };
    double leftP = spread(pIdx, runningP);
    double leftE = spread(eIdx, running - runningP + leftP);
    if (leftE > 0) spread(pIdx, leftE);
    for (auto& t : coreTotal_) t += dt;
    for (size_t i = 0; i < coreBusy_.size(); ++i) coreBusy_[i] = std::min(coreBusy_[i], coreTotal_[i]);
    nowTicks_ += ticks;
    if (limitTicks_ < nowTicks_) limitTicks_ = nowTicks_;
}

void SimulatedPlatform::advance(double seconds) {
    {
        std::lock_guard<std::mutex> g(lock_);
        advanceLocked(static_cast<uint64_t>(std::llround(std::max(0.0, seconds) * 1e9)));
        ++epoch_;
    }
    cv_.notify_all();
}

double SimulatedPlatform::time() {
    std::lock_guard<std::mutex> g(lock_);
    return static_cast<double>(nowTicks_) * 1e-9;
}

void SimulatedPlatform::runUntil(double seconds, int parkedThreads) {
    std::unique_lock<std::mutex> lk(lock_);
    uint64_t target = static_cast<uint64_t>(std::llround(seconds * 1e9));
    if (target > limitTicks_) limitTicks_ = target;
    ++epoch_;
    cv_.notify_all();
    cv_.wait(lk, [&] {
        int n = 0;
        for (auto& [id, p] : parked_)
            if (p.epoch == epoch_) ++n;
        return n >= parkedThreads;
    });
}

void SimulatedPlatform::setFreeRunning(bool on) {
    {
        std::lock_guard<std::mutex> g(lock_);
        freeRunning_ = on;
        ++epoch_;
    }
    cv_.notify_all();
}

bool SimulatedPlatform::waitUntil(uint64_t deadline, const std::function<bool()>& ready) {
    for (;;) {
        uint64_t seen;
        {
            std::lock_guard<std::mutex> g(lock_);
            seen = epoch_;
        }
        if (ready && ready()) return true;
        std::unique_lock<std::mutex> lk(lock_);
        if (epoch_ != seen) continue;
        if (nowTicks_ >= deadline) return false;
        if (freeRunning_ || deadline <= limitTicks_) {
            advanceLocked(deadline - nowTicks_);
            lk.unlock();
            cv_.notify_all();
            return ready ? ready() : false;
        }
        uint64_t id = nextWaiter_++;
        parked_[id] = Parked{epoch_};
        cv_.notify_all();
        cv_.wait(lk, [&] { return epoch_ != seen; });
        parked_.erase(id);
    }
}

void SimulatedPlatform::notifyWaiters() {
    {
        std::lock_guard<std::mutex> g(lock_);
        ++epoch_;
    }
    cv_.notify_all();
}

std::vector<SimulatedPlatform::SignalRecord> SimulatedPlatform::signalLog() {
    std::lock_guard<std::mutex> g(lock_);
    return signals_;
}

void SimulatedPlatform::clearSignals() {
    std::lock_guard<std::mutex> g(lock_);
    signals_.clear();
}

int SimulatedPlatform::lookupCount() {
    std::lock_guard<std::mutex> g(lock_);
    return lookups_;
}

uint64_t SimulatedPlatform::monotonicTicks() {
    std::lock_guard<std::mutex> g(lock_);
    return nowTicks_;
}

double SimulatedPlatform::wallClock() {
    std::lock_guard<std::mutex> g(lock_);
    return wallBase_ + static_cast<double>(nowTicks_) * 1e-9;
}

Pid SimulatedPlatform::myPid() {
    std::lock_guard<std::mutex> g(lock_);
    return myPid_;
}

uint32_t SimulatedPlatform::myUid() {
    std::lock_guard<std::mutex> g(lock_);
    return myUid_;
}

std::vector<Pid> SimulatedPlatform::allPids() {
    std::lock_guard<std::mutex> g(lock_);
    std::vector<Pid> out;
    for (auto& [pid, p] : procs_) out.push_back(pid);
    return out;
}

Pid SimulatedPlatform::responsiblePid(Pid pid) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = procs_.find(pid);
    return it == procs_.end() ? 0 : it->second.responsible;
}

std::string SimulatedPlatform::exePath(Pid pid) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = procs_.find(pid);
    return it == procs_.end() ? "" : it->second.exe;
}

std::string SimulatedPlatform::commandLine(Pid pid) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = procs_.find(pid);
    return it == procs_.end() ? "" : it->second.cmd;
}

std::optional<ProcessFacts> SimulatedPlatform::processFacts(Pid pid, FactsWanted wanted) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = procs_.find(pid);
    if (it == procs_.end() || it->second.unreadable) return std::nullopt;
    const SimProcess& p = it->second;
    ProcessFacts f;
    f.start = p.start;
    f.zombie = p.zombie;
    f.stopped = p.stopped;
    if (wanted.stopPending) f.stopPending = p.stopPending;
    f.cpuTicks = static_cast<uint64_t>(std::llround(p.cpuSeconds * 1e9));
    f.priority = p.priority;
    f.childTicks = static_cast<uint64_t>(std::llround(p.childSeconds * 1e9));
    f.parent = p.parent;
    if (wanted.perfShare) f.perfTicks = static_cast<uint64_t>(std::llround(p.perfSeconds * 1e9));
    if (wanted.uid) f.uid = p.uid;
    // As the kernel names a process: its executable's file name, cut to 15 bytes.
    if (wanted.taskName) f.taskName = p.exe.substr(p.exe.rfind('/') + 1, 15);
    return f;
}

int SimulatedPlatform::sendSignal(Pid pid, int sig) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = procs_.find(pid);
    if (it == procs_.end()) return ESRCH;
    if (it->second.uid != myUid_ && myUid_ != 0) return EPERM;
    if (sig != 0) signals_.push_back(SignalRecord{pid, sig, static_cast<double>(nowTicks_) * 1e-9});
    SimProcess& p = it->second;
    if (sig == SIGSTOP || sig == SIGTSTP || sig == SIGTTIN || sig == SIGTTOU) {
        // A stopped process keeps a job-control stop pending until it is
        // continued (another SIGSTOP has nothing left to do).
        if (p.stopped) p.stopPending = p.stopPending || sig != SIGSTOP;
        else p.stoppedBy = sig;
        p.stopped = true;
    }
    if (sig == SIGCONT) {
        p.stopped = false;
        p.stoppedBy = 0;
        p.stopPending = false;
    }
    if (sig == SIGKILL || sig == SIGTERM) procs_.erase(it);
    return 0;
}

bool SimulatedPlatform::demote(Pid pid) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = procs_.find(pid);
    if (it == procs_.end()) return false;
    it->second.demoted = true;
    return true;
}

bool SimulatedPlatform::promote(Pid pid) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = procs_.find(pid);
    if (it == procs_.end()) return false;
    it->second.demoted = false;
    return true;
}

std::optional<std::vector<CoreTicks>> SimulatedPlatform::coreTicks() {
    std::lock_guard<std::mutex> g(lock_);
    if (coreTicksFail_) return std::nullopt;
    std::vector<CoreTicks> out;
    for (size_t i = 0; i < coreBusy_.size(); ++i) {
        CoreTicks t;
        // 1 tick = 1 µs of core time.
        t.user = static_cast<uint64_t>(std::llround(coreBusy_[i] * 1e6));
        t.idle = static_cast<uint64_t>(std::llround((coreTotal_[i] - coreBusy_[i]) * 1e6));
        out.push_back(t);
    }
    return out;
}

MachineFacts SimulatedPlatform::machineFacts() {
    std::lock_guard<std::mutex> g(lock_);
    if (facts_) return *facts_;
    MachineFacts f;
    f.chipName = "Simulated CPU";
    f.logicalCores = logical_;
    int e = 0;
    std::vector<std::pair<int, bool>> kinds;
    for (int i = 0; i < logical_; ++i) {
        bool isE = static_cast<size_t>(i) < efficiency_.size() && efficiency_[static_cast<size_t>(i)];
        e += isE;
        kinds.emplace_back(i, isE);
    }
    f.efficiencyCores = e;
    f.performanceCores = logical_ - e;
    if (e > 0) f.coreIsEfficiency = kinds;
    return f;
}

int SimulatedPlatform::activeCores() {
    std::lock_guard<std::mutex> g(lock_);
    return logical_;
}

std::optional<RunningAppInfo> SimulatedPlatform::lookupApp(Pid pid) {
    std::lock_guard<std::mutex> g(lock_);
    ++lookups_;
    if (!procs_.count(pid)) return std::nullopt;
    auto it = apps_.find(pid);
    if (it == apps_.end()) return std::nullopt;
    return it->second;
}

FrontApp SimulatedPlatform::startFrontTracking(std::function<void(FrontApp)> onChange) {
    std::lock_guard<std::mutex> g(lock_);
    frontCallback_ = std::move(onChange);
    return front_;
}

std::string SimulatedPlatform::frontUnknownReason() {
    std::lock_guard<std::mutex> g(lock_);
    return frontUnknownReason_;
}

std::optional<BusyReason> SimulatedPlatform::busyReason(const std::set<Pid>& pids) {
    std::lock_guard<std::mutex> g(lock_);
    std::optional<BusyReason> out;
    for (Pid pid : pids) {
        auto it = busy_.find(pid);
        if (it == busy_.end()) continue;
        if (it->second == BusyReason::playingAudio) return it->second;
        out = it->second;
    }
    return out;
}

std::string SimulatedPlatform::dataDirectory() {
    std::lock_guard<std::mutex> g(lock_);
    return dataDir_;
}

}  // namespace trevlin
