#include "LimiterSim.h"

#include <signal.h>

#include <fstream>
#include <nlohmann/json.hpp>

namespace trevlin::test {

void JournalWatchingPlatform::watch(std::string journalFile) {
    std::lock_guard<std::mutex> g(watchLock_);
    file_ = std::move(journalFile);
}

std::vector<std::string> JournalWatchingPlatform::violations() {
    std::lock_guard<std::mutex> g(watchLock_);
    return violations_;
}

std::vector<JournalWatchingPlatform::Sent> JournalWatchingPlatform::sent() {
    std::lock_guard<std::mutex> g(watchLock_);
    return sent_;
}

void JournalWatchingPlatform::check(const char* when) {
    std::string file;
    {
        std::lock_guard<std::mutex> g(watchLock_);
        file = file_;
    }
    if (file.empty()) return;
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto j = nlohmann::json::parse(text.empty() ? "{}" : text, nullptr, false);
    auto listed = [&](const SimProcess& p, const char* flag) {
        if (j.is_discarded() || !j.contains("entries")) return false;
        for (const auto& e : j["entries"])
            if (e["pid"] == p.pid && e["start"] == p.start && e[flag] == true) return true;
        return false;
    };
    for (Pid pid : allPids()) {
        SimProcess p = get(pid);
        std::string problem;
        // A stop the user asked for (Ctrl-Z, even one sent while the limiter
        // held it) is theirs: the limiter lets it stand and journals nothing.
        const bool usersStop = p.stoppedBy != SIGSTOP || p.stopPending;
        if (p.stopped && !usersStop && !listed(p, "paused")) problem = "stopped but not journaled as paused";
        if (p.demoted && !listed(p, "demoted")) problem = "demoted but not journaled as demoted";
        if (problem.empty()) continue;
        std::lock_guard<std::mutex> g(watchLock_);
        violations_.push_back("pid " + std::to_string(pid) + " " + problem + " (" + when + ")");
    }
}

int JournalWatchingPlatform::sendSignal(Pid pid, int signal) {
    check("before a signal");
    int r = SimulatedPlatform::sendSignal(pid, signal);
    if (signal != 0) {
        std::lock_guard<std::mutex> g(watchLock_);
        sent_.push_back({pid, signal, time(), std::this_thread::get_id()});
    }
    check("after a signal");
    return r;
}

bool JournalWatchingPlatform::demote(Pid pid) {
    check("before a demotion");
    bool r = SimulatedPlatform::demote(pid);
    check("after a demotion");
    return r;
}

bool JournalWatchingPlatform::promote(Pid pid) {
    check("before a promotion");
    bool r = SimulatedPlatform::promote(pid);
    check("after a promotion");
    return r;
}

void LimiterSimTest::SetUp() {
    context->front().start();
    dir = std::make_unique<TempDir>();
    sim->setDataDirectory(dir->path());
    journal = std::make_shared<Journal>(*sim, dir->path());
    sim->watch(journal->filePath());
}

void LimiterSimTest::TearDown() {
    for (auto& l : limiters_) l->stop();
    limiters_.clear();
    EXPECT_EQ(sim->violations(), std::vector<std::string>{});
    for (Pid pid : sim->allPids()) EXPECT_FALSE(sim->get(pid).stopped) << "pid " << pid << " left stopped";
}

std::shared_ptr<AppLimiter> LimiterSimTest::startLimiter(const Rule& rule, const std::string& key,
                                                         const std::string& name, AppLimiter::TargetProvider targets) {
    auto limiter = AppLimiter::make(
        context, AppMatch{name, key}, rule, journal, [this] { return periodMs; },
        [this](const LimiterStatus& s) {
            std::lock_guard<std::mutex> g(publishedLock);
            published.push_back(s);
        },
        std::move(targets));
    limiters_.push_back(limiter);
    limiter->start();
    return limiter;
}

std::vector<double> LimiterSimTest::signalTimes(Pid pid, int signal, double from) {
    std::vector<double> out;
    for (const auto& s : sim->sent())
        if (s.pid == pid && s.signal == signal && s.time >= from) out.push_back(s.time);
    return out;
}

}  // namespace trevlin::test
