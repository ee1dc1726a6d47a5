// The interface's decisions that need no widget: the pill of an app, the
// panel's texts, the section titles, and where the panel opens.
#include "Pill.h"
#include "Sections.h"
#include "Ui/MenuPanel.h"
#include "Ui/PanelTexts.h"

#include <gtest/gtest.h>

using namespace trevlin;
using namespace trevlin::ui;

namespace {

PillFacts automatic(bool master, bool autoOn, std::optional<Rule> limit = std::nullopt,
                    std::optional<PauseState> live = std::nullopt) {
    PillFacts f;
    f.mode = RuleMode::automatic;
    f.masterEnabled = master;
    f.autoEnabled = autoOn;
    f.autoLimit = limit;
    f.livePause = live;
    return f;
}

PillFacts custom(bool master, const std::string& method, double cap, std::optional<PauseState> live = std::nullopt,
                 bool commandLine = false) {
    PillFacts f;
    f.mode = RuleMode::custom;
    f.masterEnabled = master;
    f.autoEnabled = true;
    f.customMethod = method;
    f.customCap = cap;
    f.livePause = live;
    f.commandLine = commandLine;
    return f;
}

}  // namespace

TEST(PillTest, EveryRowOfThePillTableWithItsDimming) {
    const Rule pauseLimit(1.0, Method::pause, false, true, true);
    const Rule capLimit(1.5, Method::smart, false, true, true);
    PillFacts off;
    off.mode = RuleMode::off;
    off.masterEnabled = false;  // nothing to dim an "off" pill
    struct Case {
        const char* what;
        PillFacts facts;
        Pill expected;
    };
    const Case cases[] = {
        {"off", off, {"off", PillStyle::off, false}},
        {"automatic, nothing limited", automatic(true, true), {"auto", PillStyle::automatic, false}},
        {"automatic, main switch off", automatic(false, true, capLimit), {"auto", PillStyle::automatic, true}},
        {"automatic, Automatic mode off", automatic(true, false), {"auto", PillStyle::automatic, true}},
        {"automatic pause, paused now", automatic(true, true, pauseLimit, PauseState::paused),
         {"paused", PillStyle::paused, false}},
        {"automatic pause, catching up", automatic(true, true, pauseLimit, PauseState::catchUp),
         {"paused", PillStyle::paused, false}},
        {"automatic pause, in front", automatic(true, true, pauseLimit, PauseState::inFront),
         {"auto · pause in bg", PillStyle::automatic, false}},
        {"automatic pause, no status yet", automatic(true, true, pauseLimit),
         {"auto · pause in bg", PillStyle::automatic, false}},
        {"automatic cap", automatic(true, true, capLimit), {"auto · max 1.5", PillStyle::limited, false}},
        {"automatic whole cap", automatic(true, true, Rule(1.0, Method::smart, false, true, true)),
         {"auto · max 1", PillStyle::limited, false}},
        {"custom pause, paused now", custom(true, "pause", 4, PauseState::paused),
         {"paused", PillStyle::paused, false}},
        {"custom pause, spared", custom(true, "pause", 4, PauseState::spared),
         {"pause in bg", PillStyle::off, false}},
        {"custom pause, main switch off", custom(false, "pause", 4), {"pause in bg", PillStyle::off, true}},
        {"custom pause on a command-line group", custom(true, "pause", 4, PauseState::paused, true),
         {"max 4", PillStyle::limited, false}},
        {"custom strict", custom(true, "strict", 2.5), {"max 2.5", PillStyle::limited, false}},
        {"custom unknown method", custom(true, "turbo", 0.25), {"max 0.25", PillStyle::limited, false}},
        {"custom, main switch off", custom(false, "smart", 2), {"max 2", PillStyle::limited, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Pill p = pill(c.facts);
        EXPECT_EQ(p.text, c.expected.text);
        EXPECT_EQ(p.style, c.expected.style);
        EXPECT_EQ(p.dimmed, c.expected.dimmed);
    }
}

TEST(PanelTextsTest, QuestionHeaderLoadAndSavingsTexts) {
    using namespace PanelTexts;
    EXPECT_EQ(limitingSummary(false, true), "Limiting is off, monitoring only");
    EXPECT_EQ(limitingSummary(true, true), "On: Automatic, asks before limiting an app");
    EXPECT_EQ(limitingSummary(true, false), "On: custom rules only");

    EXPECT_EQ(questionHeadline("Indexer", 3.16), "Indexer is using 3.2 cores");
    EXPECT_EQ(questionDetail(2, 12.4), "Over 2 cores in the background for 12 s.");
    EXPECT_EQ(questionDetail(1.25, 12.5), "Over 1.25 cores in the background for 13 s.");
    EXPECT_EQ(limitAnswerTitle("pause", "/usr/share/applications/indexer.desktop"), "Pause");
    EXPECT_EQ(limitAnswerTitle("pause", "cli:node"), "Limit");
    EXPECT_EQ(limitAnswerTitle("slow", "/usr/share/applications/indexer.desktop"), "Limit");

    EXPECT_EQ(loadFigure(3.25), "3.2");
    EXPECT_EQ(loadCaption(8), "of 8 cores in use");
    EXPECT_EQ(appCores(0.456), "0.46");
    EXPECT_EQ(editRuleTooltip("Indexer"), "Edit the rule for Indexer");

    struct Savings {
        double today;
        double now;
        std::optional<std::string> line;
    };
    const Savings savings[] = {
        {0.04, 0.9, std::nullopt},  // too little today: no line at all
        {0.05, 0.0, "0.1 core-h today est."},
        {1.26, 0.04, "1.3 core-h today est."},
        {1.26, 0.05, "Saving 0.1 cores now est."},
        {3.0, 1.84, "Saving 1.8 cores now est."},
    };
    for (const auto& s : savings) {
        SavingsSummary summary;
        summary.todayCoreHours = s.today;
        summary.nowCores = s.now;
        EXPECT_EQ(savingsLine(summary), s.line) << s.today << " / " << s.now;
    }

    EXPECT_EQ(trayFigure("0.0"), "0.0");
    EXPECT_EQ(trayFigure("12.3"), "12.3");
    EXPECT_EQ(trayFigure("128.0"), "128");
    EXPECT_EQ(trayTooltip("2.5"), "Trevlin: 2.5 cores in use");
}

TEST(SectionsTest, TitlesSymbolsAndLookupIgnoringCase) {
    const std::vector<std::pair<Section, std::string>> titles = {
        {Section::overview, "Overview"}, {Section::apps, "Apps"}, {Section::automatic, "Automatic"},
        {Section::settings, "Settings"}};
    ASSERT_EQ(kAllSections.size(), titles.size());
    for (size_t i = 0; i < titles.size(); ++i) {
        EXPECT_EQ(kAllSections[i], titles[i].first);
        EXPECT_EQ(sectionTitle(titles[i].first), titles[i].second);
    }
    EXPECT_STREQ(sectionSymbol(Section::overview), "gauge.with.dots.needle.50percent");
    EXPECT_STREQ(sectionSymbol(Section::apps), "square.grid.2x2");
    EXPECT_STREQ(sectionSymbol(Section::automatic), "wand.and.stars");
    EXPECT_STREQ(sectionSymbol(Section::settings), "gearshape");

    EXPECT_EQ(sectionFromTitle("apps"), Section::apps);
    EXPECT_EQ(sectionFromTitle("SETTINGS"), Section::settings);
    EXPECT_EQ(sectionFromTitle("Overview"), Section::overview);
    EXPECT_EQ(sectionFromTitle("aUtOmAtIc"), Section::automatic);
    for (const char* other : {"", "app", "apps ", "nothing", "Overviews"})
        EXPECT_EQ(sectionFromTitle(other), std::nullopt) << other;
}

TEST(PanelPositionTest, UnderTheIconAboveItAtTheBottomAndAlwaysOnScreen) {
    const QRect screen(0, 0, 1920, 1080);
    const QSize panel(330, 400);
    // A top bar: under the icon, centred on it.
    EXPECT_EQ(panelPosition(QRect(1000, 0, 25, 24), panel, screen), QPoint(1012 - 165, 28));
    // A bottom bar: above it.
    EXPECT_EQ(panelPosition(QRect(1000, 1056, 25, 24), panel, screen), QPoint(1012 - 165, 1056 - 4 - 400));
    // Near the right and left edges: pushed back onto the screen.
    EXPECT_EQ(panelPosition(QRect(1900, 0, 20, 24), panel, screen).x(), 1920 - 330);
    EXPECT_EQ(panelPosition(QRect(0, 0, 20, 24), panel, screen).x(), 0);
    // A second screen to the right, with its origin elsewhere.
    const QRect second(1920, 200, 1280, 800);
    EXPECT_EQ(panelPosition(QRect(3190, 980, 10, 10), panel, second), QPoint(3200 - 330, 980 - 4 - 400));
}
