#include "RenderSamples.h"

#include <algorithm>
#include <cmath>

namespace trevlin::RenderSamples {

namespace {

AppUsage row(const std::string& key, const std::string& name, double cores, AppKind kind, int processes) {
    AppUsage a;
    a.name = name;
    a.bundlePath = key;
    a.cores = cores;
    a.pCores = cores;
    a.isUserFacing = kind == AppKind::app;
    a.kind = kind;
    a.processCount = processes;
    return a;
}

void sortRows(std::vector<AppUsage>& rows) {
    std::stable_sort(rows.begin(), rows.end(), [](const AppUsage& a, const AppUsage& b) {
        return a.cores != b.cores ? a.cores > b.cores : a.name < b.name;
    });
}

/// A small deterministic generator: the same seed draws the same chart.
class Draws {
public:
    explicit Draws(uint32_t seed) : state_(seed ? seed : 1) {}
    double next() {  // 0 to 1
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_) / 4294967295.0;
    }

private:
    uint32_t state_;
};

SystemProcess process(Pid pid, const std::string& user, const std::string& command, const std::string& name,
                      double cores, bool needsHelper) {
    return SystemProcess{pid, user, command, name, cores, needsHelper};
}

}  // namespace

AppUsage launcherRow() {
    AppUsage a = row(kLauncherKey, kLauncherName, 1.4, AppKind::commandLine, 6);
    a.detail = "cargo build --release";
    return a;
}

AppUsage sampleAppRow() { return row("/usr/share/applications/sample-editor.desktop", "Editor (sample)", 0.6, AppKind::app, 3); }

MonitorSnapshot withSampleRows(const MonitorSnapshot& live, int cores) {
    MonitorSnapshot s = live;
    std::erase_if(s.apps, [](const AppUsage& a) { return a.bundlePath == kLauncherKey; });
    std::vector<AppUsage> added = {launcherRow()};
    const bool anyApp = std::any_of(s.apps.begin(), s.apps.end(), [](const AppUsage& a) { return a.kind == AppKind::app; });
    if (!anyApp) added.push_back(sampleAppRow());
    double extra = 0;
    for (const auto& a : added) {
        extra += a.cores;
        s.apps.push_back(a);
    }
    sortRows(s.apps);
    // The sample system processes are part of "Other / system".
    const double other = std::max(s.other.cores, 0.3);
    extra += other - s.other.cores;
    s.other.cores = s.other.pCores = other;
    s.pCores = std::min(s.pCores + extra, static_cast<double>(cores) - s.eCores);
    s.totalCores = s.pCores + s.eCores;
    return s;
}

ChartData chartIllustration(uint32_t seed, int cores, int eCores) {
    Draws draws(seed);
    ChartData d;
    d.sample = true;
    const int n = 300;
    const double pRoom = std::max(1, cores - eCores);
    double level = 0.35;
    for (int i = 0; i < n; ++i) {
        // A slow swell with bursts: a build in the middle, held back by a rule.
        level = std::clamp(level + (draws.next() - 0.5) * 0.06, 0.15, 0.45);
        const double t = static_cast<double>(i) / n;
        const bool build = t > 0.35 && t < 0.7;
        double p = pRoom * (level + 0.06 * std::sin(i / 9.0) + (build ? 0.2 : 0.0));
        p = std::clamp(p, 0.05, pRoom);
        const double e = eCores > 0 ? std::clamp(eCores * (0.2 + 0.15 * draws.next()), 0.0, double(eCores)) : 0.0;
        const double saved = build ? pRoom * (0.2 + 0.05 * draws.next()) : 0.0;
        d.p.push_back(static_cast<float>(p));
        d.e.push_back(static_cast<float>(e));
        d.saved.push_back(static_cast<float>(saved));
    }
    return d;
}

SystemBreakdown systemBreakdown(double now) {
    SystemBreakdown b;
    b.timestamp = now;
    b.interval = 5;
    b.processes = {
        process(812, "alice", "/usr/libexec/tracker-miner-fs-3", "File indexing", 0.62, false),
        process(2201, "root", "/usr/bin/duplicity", "Backups", 0.41, true),
        process(1, "root", "/usr/lib/systemd/systemd", "systemd", 0.08, true),
        process(934, "alice", "/usr/bin/pipewire", "pipewire", 0.05, false),
        process(655, "root", "/usr/sbin/NetworkManager", "NetworkManager", 0.02, true),
    };
    return b;
}

HelperRules::RuleMap helperRules() { return {{HelperGroup::spotlight, HelperRule{0.5, HelperMethod::strict}}}; }

HelperStatusFile helperStatus(double now) {
    HelperStatusFile f;
    f.version = 1;
    f.pid = 4242;
    f.updated = now;
    HelperGroupStatus g;
    g.cores = 0.49;
    g.cap = 0.5;
    g.method = "strict";
    g.savedCores = 0.63;
    g.processCount = 2;
    g.updated = now;
    f.groups[id(HelperGroup::spotlight)] = g;
    return f;
}

Marketing marketing(int cores) {
    Marketing m;
    const std::string firefox = "/usr/share/applications/firefox.desktop";
    const std::string code = "/usr/share/applications/code.desktop";
    const std::string thunderbird = "/usr/share/applications/thunderbird.desktop";
    const std::string gimp = "/usr/share/applications/gimp.desktop";
    const std::string writer = "/usr/share/applications/libreoffice-writer.desktop";
    m.snapshot.apps = {
        row(firefox, "Firefox", 1.48, AppKind::app, 14),
        row(code, "Visual Studio Code", 0.97, AppKind::app, 9),
        row(gimp, "GIMP", 0.42, AppKind::app, 2),
        row(writer, "LibreOffice Writer", 0.11, AppKind::app, 1),
        row(thunderbird, "Thunderbird", 0.0, AppKind::app, 4),
    };
    m.snapshot.apps[1].isFrontmost = true;
    sortRows(m.snapshot.apps);
    m.snapshot.pCores = std::min(3.1, double(cores));
    m.snapshot.eCores = 0;
    m.snapshot.totalCores = m.snapshot.pCores;
    m.snapshot.other.name = "Other / system";
    m.snapshot.other.cores = 0.12;
    m.snapshot.other.pCores = 0.12;

    m.savings.nowCores = 2.1;
    m.savings.nowByKey = {{firefox, 1.3}, {thunderbird, 0.8}};
    m.savings.todayCoreHours = 3.4;
    m.savings.last7DaysCoreHours = 17.9;

    StoredRule capped;
    capped.mode = RuleMode::custom;
    capped.maxCores = 1.5;
    capped.method = "smart";
    StoredRule paused;
    paused.mode = RuleMode::custom;
    paused.method = "pause";
    m.rules = {{firefox, capped}, {thunderbird, paused}};

    LimiterStatus::DutyCycleFacts held;
    held.currentCores = 1.48;
    held.processCount = 14;
    held.candidateCount = 9;
    held.fraction = 0.42;
    held.unthrottledCores = 2.8;
    held.savedCores = 1.3;
    m.statuses.push_back(LimiterStatus::dutyCycle("Firefox", firefox, 1.5, Method::smart, held));
    LimiterStatus::PauseFacts facts;
    facts.state = PauseState::paused;
    facts.processCount = 4;
    facts.stoppedCount = 4;
    facts.cappedEstimate = 0.8;
    m.statuses.push_back(LimiterStatus::pause("Thunderbird", thunderbird, 1.0, facts));
    return m;
}

}  // namespace trevlin::RenderSamples
