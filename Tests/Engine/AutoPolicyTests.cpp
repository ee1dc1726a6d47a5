#include "AutoPolicy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace trevlin;

namespace {

// What the limiter reports for an app in a step.
enum class Status {
    missing,      // no status at all
    quiet,        // nothing held back: pauseState none, fraction 1.0
    lowButIdle,   // fraction below 1 but not throttling: still quiet
    throttling,   // fraction below 1 and throttling
    paused,       // pause mode holding the app
};

struct Row {
    std::string path;
    double cores = 0;
    AutoStance stance = AutoStance::ask;
    Status status = Status::missing;
    bool front = false;
};

struct Step {
    double t;
    std::vector<Row> rows;
    std::vector<std::string> expect;
    std::function<void(AutoPolicy&)> before = {};
    bool frontKnown = true;
};

struct Scenario {
    const char* name;
    std::vector<Step> steps;
};

std::string describe(const AutoDecision& d) {
    char buf[256];
    switch (d.kind) {
        case AutoDecision::Kind::limit:
            std::snprintf(buf, sizeof buf, "limit %s %s %g", d.path.c_str(), d.name.c_str(), d.cores);
            break;
        case AutoDecision::Kind::release:
            std::snprintf(buf, sizeof buf, "release %s", d.path.c_str());
            break;
        case AutoDecision::Kind::ask:
            std::snprintf(buf, sizeof buf, "ask %s %s %g over %g", d.question.path.c_str(),
                          d.question.name.c_str(), d.question.cores, d.question.overSeconds);
            break;
    }
    return buf;
}

LimiterStatus statusFor(const std::string& path, Status s) {
    LimiterStatus st;
    st.appPath = path;
    switch (s) {
        case Status::missing:
        case Status::quiet: break;
        case Status::lowButIdle: st.allowedRunFraction = 0.5; break;
        case Status::throttling:
            st.allowedRunFraction = 0.5;
            st.isThrottling = true;
            break;
        case Status::paused:
            st.method = Method::pause;
            st.pauseState = PauseState::paused;
            break;
    }
    return st;
}

std::vector<std::string> run(AutoPolicy& policy, const Step& step) {
    std::vector<AppUsage> apps;
    std::map<std::string, LimiterStatus> statuses;
    std::map<std::string, AutoStance> stances;
    for (const Row& r : step.rows) {
        AppUsage u;
        u.bundlePath = r.path;
        u.name = r.path.empty() ? "Other" : r.path.substr(1);
        u.cores = r.cores;
        u.isFrontmost = r.front;
        apps.push_back(u);
        stances[r.path] = r.stance;
        if (r.status != Status::missing) statuses[r.path] = statusFor(r.path, r.status);
    }
    auto stance = [&](const std::string& path) {
        EXPECT_FALSE(path.empty()) << "the stance of a row without a key was asked for";
        return stances.at(path);
    };
    std::vector<std::string> out;
    for (const AutoDecision& d : policy.evaluate(apps, statuses, stance, step.t, step.frontKnown)) out.push_back(describe(d));
    return out;
}

const AutoStance kAlways = AutoStance::always;
const AutoStance kNever = AutoStance::never;
const AutoStance kSkip = AutoStance::skip;

Row busy(const std::string& path, AutoStance stance = AutoStance::ask, Status status = Status::missing) {
    return Row{path, 2.5, stance, status, false};
}

Row limitedAt(const std::string& path, Status status, double cores = 2.5) {
    return Row{path, cores, kAlways, status, false};
}

const std::vector<Scenario> kScenarios = {
    {"trigger timing, one question per open period, timeout then cooldown",
     {
         {0, {busy("/A")}, {}},
         {5, {busy("/A")}, {}},
         {6, {Row{"/A", 2.0}}, {}},  // exactly at the trigger: not busy, period cleared
         {7, {busy("/A")}, {}},
         {16, {busy("/A")}, {}},
         {17, {busy("/A")}, {"ask /A A 2.5 over 10"}},
         {18, {busy("/A")}, {}},
         {616, {busy("/A")}, {}},
         {617, {busy("/A")}, {}},   // question times out here, nothing asked
         {1216, {busy("/A")}, {}},  // cooldown still running
         {1217, {busy("/A")}, {"ask /A A 2.5 over 1210"}},
     }},
    {"stance always limits once and keeps holding without a status",
     {
         {0, {busy("/A", kAlways)}, {}},
         {9.5, {busy("/A", kAlways)}, {}},
         {10, {busy("/A", kAlways)}, {"limit /A A 1"}},
         {11, {busy("/A", kAlways)}, {}},
         {500, {busy("/A", kAlways, Status::paused)}, {}},
     }},
    {"release after 15 quiet seconds, restarted by one throttling status",
     {
         {0, {busy("/A", kAlways)}, {}},
         {10, {busy("/A", kAlways)}, {"limit /A A 1"}},
         {11, {limitedAt("/A", Status::quiet)}, {}},
         {20, {limitedAt("/A", Status::throttling)}, {}},
         {21, {limitedAt("/A", Status::lowButIdle)}, {}},
         {35, {limitedAt("/A", Status::quiet)}, {}},
         {36, {limitedAt("/A", Status::quiet, 2.5)}, {"release /A"}},
         // The release cleared the busy period: a new full period is needed.
         {37, {busy("/A", kAlways)}, {}},
         {46, {busy("/A", kAlways)}, {}},
         {47, {busy("/A", kAlways)}, {"limit /A A 1"}},
     }},
    {"while the front app is unknown nothing new is asked or limited; what is held keeps its rules",
     {
         {0, {busy("/A", kAlways), busy("/B")}, {}},
         {10, {busy("/A", kAlways), busy("/B")}, {"limit /A A 1", "ask /B B 2.5 over 10"}},
         {11, {limitedAt("/A", Status::throttling), busy("/B"), busy("/C", kAlways), busy("/D")}, {}, {}, false},
         {40, {limitedAt("/A", Status::throttling), busy("/B"), busy("/C", kAlways), busy("/D")}, {}, {}, false},
         {41, {limitedAt("/A", Status::quiet), busy("/B"), busy("/C", kAlways), busy("/D")}, {}, {}, false},
         {56, {limitedAt("/A", Status::quiet), busy("/B"), busy("/C", kAlways), busy("/D")}, {"release /A"}, {}, false},
         // Known again: a new full busy period first.
         {57, {busy("/B"), busy("/C", kAlways), busy("/D")}, {}},
         {66, {busy("/B"), busy("/C", kAlways), busy("/D")}, {}},
         {67, {busy("/B"), busy("/C", kAlways), busy("/D")}, {"limit /C C 1", "ask /D D 2.5 over 10"}},
     }},
    {"a paused-state status is never quiet",
     {
         {0, {busy("/A", kAlways)}, {}},
         {10, {busy("/A", kAlways)}, {"limit /A A 1"}},
         {11, {limitedAt("/A", Status::paused, 0)}, {}},
         {100, {limitedAt("/A", Status::paused, 0)}, {}},
     }},
    {"coming to the front releases at once; an open question stays open",
     {
         {0, {busy("/A", kAlways), busy("/B")}, {}},
         {10, {busy("/A", kAlways), busy("/B")}, {"limit /A A 1", "ask /B B 2.5 over 10"}},
         {11, {Row{"/A", 2.5, kAlways, Status::throttling, true}, Row{"/B", 2.5, AutoStance::ask, Status::missing, true}},
          {"release /A"}},
         {12, {busy("/B")}, {}},
         {30, {busy("/B")}, {}},  // busy again for 18 s, but the question is still open
     }},
    {"vanished apps are released after every other decision; an asked one loses its question",
     {
         {0, {busy("/A", kAlways), busy("/B"), busy("/C")}, {}},
         {10, {busy("/A", kAlways), busy("/B"), busy("/C", kAlways)}, {"limit /A A 1", "ask /B B 2.5 over 10", "limit /C C 1"}},
         {11, {busy("/D", kAlways)}, {"release /A", "release /C"}},
         {12, {busy("/B"), busy("/D", kAlways)}, {}},
         {21, {busy("/B"), busy("/D", kAlways)}, {"limit /D D 1"}},
         {22, {busy("/B"), busy("/D", kAlways)}, {"ask /B B 2.5 over 10"}},
         {23, {busy("/B")}, {"release /D"}},
     }},
    {"never and skip are never asked about; becoming never releases",
     {
         {0, {busy("/N", kNever), busy("/S", kSkip), busy("/A", kAlways)}, {}},
         {10, {busy("/N", kNever), busy("/S", kSkip), busy("/A", kAlways)}, {"limit /A A 1"}},
         {1000, {busy("/N", kNever), busy("/S", kSkip), busy("/A", kNever)}, {"release /A"}},
         {1001, {busy("/N", kNever), busy("/S", kSkip), busy("/A", kNever)}, {}},
     }},
    {"answering never while asked closes the question",
     {
         {0, {busy("/A")}, {}},
         {10, {busy("/A")}, {"ask /A A 2.5 over 10"}},
         {11, {busy("/A", kNever)}, {}},
         {12, {busy("/A")}, {}},
         {22, {busy("/A")}, {"ask /A A 2.5 over 10"}},
     }},
    {"ignored: a new full busy period, then the cooldown",
     {
         {0, {busy("/A")}, {}},
         {10, {busy("/A")}, {"ask /A A 2.5 over 10"}},
         {12, {busy("/A")}, {}, [](AutoPolicy& p) { p.markIgnored("/A", 12); }},
         {22, {busy("/A")}, {}},
         {611, {busy("/A")}, {}},
         {612, {busy("/A")}, {"ask /A A 2.5 over 600"}},
     }},
    {"limited by an answer, released when quiet",
     {
         {0, {busy("/A")}, {}},
         {10, {busy("/A")}, {"ask /A A 2.5 over 10"}},
         {11, {busy("/A", AutoStance::ask, Status::throttling)}, {}, [](AutoPolicy& p) { p.markLimited("/A"); }},
         {12, {busy("/A", AutoStance::ask, Status::quiet)}, {}},
         {27, {busy("/A", AutoStance::ask, Status::quiet)}, {"release /A"}},
     }},
    {"a row without a key is skipped",
     {
         {0, {Row{"", 8.0}}, {}},
         {100, {Row{"", 8.0}}, {}},
     }},
};

}  // namespace

TEST(AutoPolicy, Scenarios) {
    for (const Scenario& sc : kScenarios) {
        SCOPED_TRACE(sc.name);
        AutoPolicy policy;
        for (const Step& step : sc.steps) {
            SCOPED_TRACE("t = " + std::to_string(step.t));
            if (step.before) step.before(policy);
            EXPECT_EQ(run(policy, step), step.expect);
        }
    }
}

TEST(AutoPolicy, ConfigChangesApplyToTheNextEvaluation) {
    AutoPolicy policy;
    EXPECT_EQ(policy.config, AutoConfig());
    policy.config.triggerCores = 0.5;
    policy.config.triggerSeconds = 2;
    policy.config.limitCores = 0.75;
    EXPECT_EQ(run(policy, {0, {Row{"/A", 1.0, kAlways}}, {}}), std::vector<std::string>{});
    EXPECT_EQ(run(policy, {2, {Row{"/A", 1.0, kAlways}}, {}}), std::vector<std::string>{"limit /A A 0.75"});
}

TEST(AutoPolicy, ResetReturnsExactlyTheLimitedPathsAndLeavesNothing) {
    AutoPolicy policy;
    run(policy, {0, {busy("/A", kAlways), busy("/B", kAlways), busy("/C")}, {}});
    run(policy, {10, {busy("/A", kAlways), busy("/B", kAlways), busy("/C")}, {}});
    EXPECT_EQ(policy.limitedPaths(), (std::set<std::string>{"/A", "/B"}));

    auto paths = policy.reset();
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"/A", "/B"}));
    EXPECT_TRUE(policy.limitedPaths().empty());
    // No state survives: vanished apps produce no release, and /C is asked
    // about again only after a fresh busy period.
    EXPECT_EQ(run(policy, {11, {busy("/C")}, {}}), std::vector<std::string>{});
    EXPECT_EQ(run(policy, {21, {busy("/C")}, {}}), std::vector<std::string>{"ask /C C 2.5 over 10"});
}

TEST(AutoPolicy, ForgetStartsAfresh) {
    AutoPolicy policy;
    policy.markLimited("/A");
    EXPECT_EQ(policy.limitedPaths(), std::set<std::string>{"/A"});
    policy.forget("/A");
    EXPECT_TRUE(policy.limitedPaths().empty());
    EXPECT_EQ(run(policy, {0, {busy("/B")}, {}}), std::vector<std::string>{});
}
