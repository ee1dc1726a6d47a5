// The status lines, character for character.
#include "LimiterStatus.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace trevlin;

namespace {

using Facts = LimiterStatus::DutyCycleFacts;

Facts duty(double current, int processes, int candidates, double fraction, double saved = 0, int demoted = 0,
           std::string note = "") {
    Facts f;
    f.currentCores = current;
    f.processCount = processes;
    f.candidateCount = candidates;
    f.fraction = fraction;
    f.savedCores = saved;
    f.demotedCount = demoted;
    f.note = std::move(note);
    return f;
}

TEST(LimiterStatusText, DutyCycleLines) {
    struct Case {
        Method method;
        double cap;
        Facts facts;
        std::string line;
    };
    const std::vector<Case> cases = {
        {Method::strict, 1.0, duty(0.5, 4, 0, 1.0), "Foo is using 0.50 of 1.00 cores (4 processes): not pausing anything"},
        {Method::smart, 1.0, duty(1.0, 5, 3, 0.45), "Foo is using 1.00 of 1.00 cores (5 processes): pausing 3 busy process(es), allowed 45% run time"},
        {Method::smart, 1.0, duty(1.0, 5, 3, 0.999), "Foo is using 1.00 of 1.00 cores (5 processes): pausing 3 busy process(es), allowed 99% run time"},
        {Method::strict, 2.0, duty(2.0, 3, 2, 0.29), "Foo is using 2.00 of 2.00 cores (3 processes): pausing 2 busy process(es), allowed 29% run time"},
        {Method::strict, 1.0, duty(0, 0, 0, 1.0), "Foo is using 0.00 of 1.00 cores (0 processes): not running"},
        {Method::ecores, 1.0, duty(1.5, 4, 0, 1.0, 0, 2), "Foo is using 1.50 of 1.00 cores (4 processes): 2 process(es) on efficiency cores"},
        {Method::ecores, 1.0, duty(0.2, 4, 0, 1.0), "Foo is using 0.20 of 1.00 cores (4 processes): nothing demoted"},
        // A saving of exactly 0.005 adds nothing; 0.006 shows as 0.01.
        {Method::strict, 1.0, duty(1.0, 2, 2, 0.5, 0.005), "Foo is using 1.00 of 1.00 cores (2 processes): pausing 2 busy process(es), allowed 50% run time"},
        {Method::strict, 1.0, duty(1.0, 2, 2, 0.5, 0.006), "Foo is using 1.00 of 1.00 cores (2 processes): pausing 2 busy process(es), allowed 50% run time, saving ~0.01 cores (est.)"},
        {Method::strict, 0.5, duty(2.0, 3, 1, 0.03, 0.2, 0, LimiterNotes::strictRestUntouchable), "Foo is using 2.00 of 0.50 cores (3 processes): pausing 1 busy process(es), allowed 3% run time; over the cap: the rest is in processes that are never paused, saving ~0.20 cores (est.)"},
        {Method::smart, 0.5, duty(2.0, 3, 0, 1.0, 0, 0, LimiterNotes::smartRestInFront), "Foo is using 2.00 of 0.50 cores (3 processes): not pausing anything; over the cap: the rest is what you're using right now, which smart mode won't pause"},
        {Method::ecores, 0.5, duty(2.0, 3, 0, 1.0, 0, 1, LimiterNotes::ecoresNothingLeft), "Foo is using 2.00 of 0.50 cores (3 processes): 1 process(es) on efficiency cores; over the cap, but what's left is the part you're using or already on efficiency cores"},
    };
    for (const auto& c : cases) {
        LimiterStatus s = LimiterStatus::dutyCycle("Foo", "/x/Foo.desktop", c.cap, c.method, c.facts);
        EXPECT_EQ(s.summaryLine, c.line);
        EXPECT_EQ(s.note, c.facts.note);
        EXPECT_EQ(s.pauseState, PauseState::none);
    }
}

TEST(LimiterStatusText, DutyCycleFlags) {
    LimiterStatus s = LimiterStatus::dutyCycle("Foo", "k", 1.0, Method::strict, duty(1.0, 4, 3, 0.4, 0.7));
    EXPECT_TRUE(s.isThrottling);
    EXPECT_EQ(s.pausedProcessCount, 3);
    EXPECT_EQ(s.allowedRunFraction, 0.4);
    EXPECT_EQ(s.savedCores, 0.7);
    // ecores never counts processes as paused; it throttles only while something is demoted.
    s = LimiterStatus::dutyCycle("Foo", "k", 1.0, Method::ecores, duty(1.0, 4, 3, 1.0));
    EXPECT_FALSE(s.isThrottling);
    EXPECT_EQ(s.pausedProcessCount, 0);
    s = LimiterStatus::dutyCycle("Foo", "k", 1.0, Method::ecores, duty(1.0, 4, 0, 1.0, 0, 1));
    EXPECT_TRUE(s.isThrottling);
}

TEST(LimiterStatusText, PauseLines) {
    struct Case {
        LimiterStatus::PauseFacts facts;
        std::string line;
        bool throttling;
        double saved;
    };
    auto facts = [](PauseState st, double cores, int procs, int stopped, std::string reason = "", double est = 0) {
        LimiterStatus::PauseFacts f;
        f.state = st;
        f.currentCores = cores;
        f.processCount = procs;
        f.stoppedCount = stopped;
        f.reason = std::move(reason);
        f.cappedEstimate = est;
        return f;
    };
    const std::vector<Case> cases = {
        {facts(PauseState::paused, 0, 5, 2, "", 1.2), "Foo paused in background (2 of 5 processes stopped), saving ~1.20 cores (est.)", true, 1.2},
        {facts(PauseState::paused, 0, 5, 2), "Foo paused in background (2 of 5 processes stopped)", true, 0},
        {facts(PauseState::paused, 0, 3, 0, "", 1.0), "Foo paused in background (0 of 3 processes stopped)", false, 0},
        {facts(PauseState::inFront, 0.5, 3, 0, "", 2.0), "Foo in front, running (using 0.50 cores)", false, 0},
        {facts(PauseState::inFront, 0, 0, 0), "Foo not running", false, 0},
        {facts(PauseState::spared, 0.3, 3, 0, "playing audio"), "Foo in background, not paused: playing audio", false, 0},
        {facts(PauseState::catchUp, 1.25, 3, 0, "", 2.0), "Foo catching up for a few seconds (using 1.25 cores), then paused again", false, 0},
        {facts(PauseState::none, 1.0, 3, 0), "Foo: pause is not available for command-line groups", false, 0},
    };
    for (const auto& c : cases) {
        LimiterStatus s = LimiterStatus::pause("Foo", "k", 1.0, c.facts);
        EXPECT_EQ(s.summaryLine, c.line);
        EXPECT_EQ(s.isThrottling, c.throttling) << c.line;
        EXPECT_NEAR(s.savedCores, c.saved, 1e-12) << c.line;
        EXPECT_EQ(s.allowedRunFraction, c.throttling ? 0.0 : 1.0) << c.line;
        EXPECT_EQ(s.method, Method::pause);
        EXPECT_EQ(s.pauseDetail, c.facts.state == PauseState::spared ? c.facts.reason : "");
    }
}

TEST(LimiterStatusText, UserStopsAndAJournalThatCannotBeWritten) {
    Facts f = duty(1.0, 3, 1, 0.5, 0.2);
    f.stoppedByUserCount = 1;
    LimiterStatus s = LimiterStatus::dutyCycle("Foo", "k", 1.0, Method::strict, f);
    EXPECT_EQ(s.summaryLine, "Foo is using 1.00 of 1.00 cores (3 processes): pausing 1 busy process(es), allowed 50% "
                             "run time; 1 process(es) stopped by you, saving ~0.20 cores (est.)");
    EXPECT_EQ(s.stoppedByUserCount, 1);
    EXPECT_TRUE(s.notHolding.empty());

    LimiterStatus::PauseFacts p;
    p.state = PauseState::paused;
    p.processCount = 3;
    p.stoppedCount = 1;
    p.stoppedByUserCount = 2;
    EXPECT_EQ(LimiterStatus::pause("Foo", "k", 1.0, p).summaryLine,
              "Foo paused in background (1 of 3 processes stopped); 2 process(es) stopped by you");

    // Whatever else the line would say, it says why nothing is held.
    f.journalRefusal = ENOSPC;
    s = LimiterStatus::dutyCycle("Foo", "k", 1.0, Method::strict, f);
    EXPECT_EQ(s.summaryLine, "Not holding: the journal cannot be written: No space left on device");
    EXPECT_EQ(s.notHolding, s.summaryLine);
    p.journalRefusal = EACCES;
    EXPECT_EQ(LimiterStatus::pause("Foo", "k", 1.0, p).summaryLine,
              "Not holding: the journal cannot be written: Permission denied");
}

}  // namespace
