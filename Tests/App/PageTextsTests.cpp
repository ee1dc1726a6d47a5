// The words and numbers of the Overview, Apps, rule editor and system rule
// editor pages, decided without a widget.
#include "Ui/AppsTexts.h"
#include "Ui/ChartPoints.h"
#include "Ui/RuleEditorTexts.h"
#include "Ui/SystemLimitsTexts.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace trevlin;
using namespace trevlin::ui;

TEST(ChartPoints, BucketsAndTimesByWindow) {
    struct Case {
        int samples, minutes;
        size_t points;
        double firstT;
        int lastBucket;  // samples in the last point's bucket, checked through a ramp
    };
    const Case cases[] = {
        {1800, 30, 200, -1799, 9},  // full 30 minutes: 200 points of 9 samples
        {60, 1, 60, -59, 1},        // one point per second
        {300, 1, 60, -59, 1},       // only the newest minute is drawn
        {7, 5, 7, -6, 1},           // a young history spreads from -6 s to now
        {1, 5, 1, 0, 1},
    };
    for (const Case& c : cases) {
        std::vector<float> p(c.samples), e(c.samples, 0.5f), saved(c.samples, 0.f);
        for (int i = 0; i < c.samples; ++i) p[i] = static_cast<float>(i);
        const auto points = chartPoints(p, e, saved, c.minutes);
        SCOPED_TRACE(c.samples);
        ASSERT_EQ(points.size(), c.points);
        EXPECT_DOUBLE_EQ(points.front().t, c.firstT);
        EXPECT_DOUBLE_EQ(points.back().t, 0.0);
        EXPECT_FLOAT_EQ(points.back().e, 0.5f);
        // The last point averages the newest `lastBucket` values of the ramp.
        const double newest = c.samples - 1;
        EXPECT_NEAR(points.back().top, newest - (c.lastBucket - 1) / 2.0 + 0.5, 1e-3);
    }
    EXPECT_TRUE(chartPoints({}, {}, {}, 5).empty());
}

TEST(ChartPoints, WouldHaveUsedRunsAndCeiling) {
    std::vector<float> p(10, 7.f), e(10, 0.f), saved(10, 0.f);
    saved[3] = 0.5f;           // a lone point forms a run of one
    saved[6] = saved[7] = 3;   // a run of two, which would go past the machine
    saved[9] = 0.005f;         // at the threshold: no run
    const auto points = chartPoints(p, e, saved, 1);
    const auto runs = wouldHaveUsedRuns(points);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], std::make_pair(3, 3));
    EXPECT_EQ(runs[1], std::make_pair(6, 7));
    for (const auto& pt : points) EXPECT_LE(wouldHaveUsed(pt, 8), 8.0);
    EXPECT_DOUBLE_EQ(wouldHaveUsed(points[6], 8), 8.0);
    EXPECT_DOUBLE_EQ(wouldHaveUsed(points[3], 8), 7.5);
    // A saved series shorter than the window is left out rather than misaligned.
    const auto unsaved = chartPoints(p, e, std::vector<float>(5, 1.f), 1);
    EXPECT_TRUE(wouldHaveUsedRuns(unsaved).empty());
}

TEST(ChartPoints, AxisCaptionAndAges) {
    EXPECT_EQ(tickStep(1), 15);
    EXPECT_EQ(tickStep(5), 60);
    EXPECT_EQ(tickStep(30), 300);
    const std::pair<std::pair<int, int>, const char*> ticks[] = {
        {{0, 1}, "now"}, {{-45, 1}, "45 s ago"}, {{-240, 5}, "4 min ago"}, {{-1500, 30}, "25 min ago"}};
    for (const auto& [in, text] : ticks) EXPECT_EQ(tickLabel(in.first, in.second), text);

    EXPECT_EQ(chartCaption(7, 5, false, false), "History starts when Trevlin launches: showing the last 7 s");
    EXPECT_EQ(chartCaption(1, 5, false, false), "Collecting history…");
    EXPECT_EQ(chartCaption(0, 1, false, false), "Collecting history…");
    EXPECT_EQ(chartCaption(300, 5, false, false), "");
    EXPECT_EQ(chartCaption(3, 5, true, false), "SAMPLE DATA: render-only illustration, not measured");
    EXPECT_EQ(chartCaption(3, 5, true, true), "");

    const std::pair<int, const char*> ages[] = {{0, "now"}, {1, "1 s ago"}, {59, "59 s ago"}, {60, "1 min ago"},
                                                {179, "2 min ago"}};
    for (const auto& [s, text] : ages) EXPECT_EQ(ageText(s), text);
    EXPECT_EQ(hoveredSecondsAgo(-12.4), 12);
    EXPECT_EQ(hoveredSecondsAgo(0.7), 0);
    EXPECT_FALSE(hoveredSecondsAgo(std::nullopt));
}

TEST(AppsTexts, SavedFigureAndStatusLine) {
    EXPECT_FALSE(savedFigure(0.004));
    EXPECT_EQ(savedFigure(0.005), "0.01");
    EXPECT_EQ(savedFigure(1.234), "1.23");
    EXPECT_EQ(savedFigure(0.5, " now"), "0.50 now");
    EXPECT_EQ(systemStatusLine(SystemState::failed), "Couldn't read the system's processes; showing the total only.");
    EXPECT_EQ(systemStatusLine(SystemState::measuring),
              "Measuring system processes… the first figures appear after about 5 seconds.");
}

TEST(RuleEditorTexts, ModeTexts) {
    AppSettings on;
    on.autoEnabled = true;
    on.autoLimitCores = 1.5;
    AppSettings pausing = on;
    pausing.autoAction = "pause";
    AppSettings off = on;
    off.autoEnabled = false;
    AppSettings withCli = pausing;
    withCli.autoIncludeCommandLine = true;
    struct Case {
        RuleMode mode;
        bool group;
        AppSettings settings;
        std::string text;
    };
    const Case cases[] = {
        {RuleMode::off, false, on, "Slack is not limited."},
        {RuleMode::custom, false, on, ""},
        {RuleMode::automatic, true, on,
         "Automatic leaves command-line work alone unless \"Include command-line work\" is on in the Automatic page, "
         "so Slack is not limited."},
        {RuleMode::automatic, false, off,
         "Automatic mode is switched off, so Slack is not limited. Turn it on in the Automatic page."},
        {RuleMode::automatic, false, pausing,
         "Automatic pauses Slack while it is busy in the background, and lets go when you switch to it. See the "
         "Automatic page."},
        // A group is never paused by Automatic mode: it reads the limits text.
        {RuleMode::automatic, true, withCli,
         "Automatic limits Slack to 1.5 core(s) when it is busy in the background, and lets go when you switch to "
         "it. See the Automatic page."},
    };
    for (const Case& c : cases) EXPECT_EQ(modeText(c.mode, "Slack", c.group, c.settings), c.text);
}

TEST(RuleEditorTexts, CustomLowersTheCapAndGroupsCannotPause) {
    StoredRule r;
    r.maxCores = 12;
    r.method = "strict";
    const StoredRule custom = withMode(r, RuleMode::custom, 8);
    EXPECT_EQ(custom.maxCores, 8);
    EXPECT_EQ(custom.method, "strict");
    EXPECT_EQ(withMode(r, RuleMode::automatic, 8).maxCores, 12);

    EXPECT_TRUE(methodWording(Method::pause, false).enabled);
    EXPECT_FALSE(methodWording(Method::pause, true).enabled);
    EXPECT_EQ(methodWording(Method::smart, true).title, "Pause busy programs");
    EXPECT_EQ(groupHeaderNote("node"),
              "A rule here limits the programs node started. node itself is never paused or slowed.");
    EXPECT_EQ(groupHeaderLine(""), "Command line");
    EXPECT_EQ(groupHeaderLine("npm run build"), "Command line · npm run build");
}

TEST(RuleEditorTexts, StatusBlock) {
    EXPECT_EQ(statusBlock(std::nullopt, true).title, "Waiting for the limiter…");
    EXPECT_EQ(statusBlock(std::nullopt, false).title,
              "Limiting is switched off in the menu bar panel. This rule will apply when you turn it on.");

    LimiterStatus paused;
    paused.method = Method::pause;
    paused.pauseState = PauseState::paused;
    paused.pausedProcessCount = 3;
    paused.savedCores = 1.234;
    EXPECT_EQ(statusBlock(paused, true),
              (StatusBlock{"Paused in background", true, "3 process(es) stopped · saving ~1.23 cores (est.)"}));
    paused.savedCores = 0.004;
    EXPECT_EQ(statusBlock(paused, true).detail, "3 process(es) stopped");
    LimiterStatus spared = paused;
    spared.pauseState = PauseState::spared;
    spared.pauseDetail = "playing audio";
    EXPECT_EQ(statusBlock(spared, true), (StatusBlock{"In background, not paused", false, "It is playing audio."}));
    spared.pauseDetail = "in front or not: this desktop does not tell Trevlin";
    spared.pauseFrontUnknown = true;
    EXPECT_EQ(statusBlock(spared, true),
              (StatusBlock{"Not paused", false, "It is in front or not: this desktop does not tell Trevlin."}));
    spared.pauseState = PauseState::inFront;
    EXPECT_EQ(statusBlock(spared, true).title, "In front, running");

    LimiterStatus held;
    held.method = Method::smart;
    held.currentCores = 1.004;
    held.maxCores = 1.5;
    held.isThrottling = true;
    held.pausedProcessCount = 2;
    held.note = "browser tabs only";
    EXPECT_EQ(statusBlock(held, true),
              (StatusBlock{"Using 1.00 of 1.5 cores", false, "Holding 2 busy process(es)", "Browser tabs only"}));
    held.pausedProcessCount = 0;
    held.demotedProcessCount = 4;
    EXPECT_EQ(statusBlock(held, true).detail, "4 process(es) on efficiency cores");
    held.isThrottling = false;
    EXPECT_EQ(statusBlock(held, true).detail, "");

    // The user's stops join the detail; an unwritable journal takes the note.
    held.stoppedByUserCount = 1;
    EXPECT_EQ(statusBlock(held, true).detail, "1 process(es) stopped by you");
    held.isThrottling = true;
    held.pausedProcessCount = 2;
    EXPECT_EQ(statusBlock(held, true).detail, "Holding 2 busy process(es) · 1 process(es) stopped by you");
    held.notHolding = "Not holding: the journal cannot be written: No space left on device";
    EXPECT_EQ(statusBlock(held, true).note, held.notHolding);
    paused.stoppedByUserCount = 2;
    EXPECT_EQ(statusBlock(paused, true).detail, "3 process(es) stopped · 2 process(es) stopped by you");
}

TEST(SystemLimitsTexts, HelperStatus) {
    HelperGroupStatus entry;
    entry.cores = 0.31;
    entry.cap = 0.5;
    entry.processCount = 3;
    entry.savedCores = 1.2;
    EXPECT_EQ(helperStatusLines(HelperState::running, &entry, true).detail,
              "Using 0.31 of 0.50 cores (3 process(es)) · saving ~1.20 cores (est.)");
    EXPECT_EQ(helperStatusLines(HelperState::running, nullptr, true),
              (HelperStatusLines{"Helper running", true, "Waiting for the helper to pick up the rule (up to 2 seconds)."}));
    EXPECT_EQ(helperStatusLines(HelperState::running, nullptr, false).detail, "");
    EXPECT_EQ(helperStatusLines(HelperState::notResponding, nullptr, true).detail,
              "The helper is installed but has not reported for a while. Try: sudo systemctl restart "
              "trevlin-helper.service");
    EXPECT_EQ(helperStatusLines(HelperState::notInstalled, nullptr, true).title, "Helper not installed");
    EXPECT_EQ(customHelperRule(std::nullopt), (HelperRule{1.0, HelperMethod::strict}));
    EXPECT_EQ(customHelperRule(HelperRule{0.5, HelperMethod::ecores}), (HelperRule{0.5, HelperMethod::ecores}));
    EXPECT_EQ(systemGroupTitle(HelperGroup::spotlight), "File indexing");
    EXPECT_EQ(systemGroupTitle(HelperGroup::timemachine), "Backups");
}
