// The tray item's panel on a real model, driven with clicks: the question
// row and its answers, the switches and the summary, the load block, the app
// rows and their pills, the footer.
#include "UiModelFixture.h"

#include "Appearance.h"

#include "Ui/CoreSplitBar.h"
#include "Ui/FooterButton.h"
#include "Ui/MenuPanel.h"
#include "Ui/PanelTexts.h"
#include "Ui/QuestionRow.h"
#include "Ui/RulePill.h"
#include "Ui/ToggleSwitch.h"
#include "Ui/TrayItem.h"

#include <QLabel>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QSignalSpy>
#include <QTest>

using namespace trevlin;
using namespace trevlin::testing;
using namespace trevlin::ui;

namespace {

const std::string kIndexer = "/usr/share/applications/indexer.desktop";
const std::string kBuilder = "/usr/share/applications/builder.desktop";
const std::string kEditor = "/usr/share/applications/editor.desktop";
const std::string kCustom = "/usr/share/applications/custom.desktop";

void click(QWidget* w) {
    ASSERT_TRUE(w->isVisible());
    QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
}

std::string text(const QLabel* label) { return label->text().toStdString(); }

class MenuPanelTest : public UiModelTest {
protected:
    MenuPanel& open(AppModel& m) {
        panel_ = std::make_unique<MenuPanel>(m);
        panel_->showAt(QRect(500, 0, 20, 20));
        return *panel_;
    }
    void TearDown() override {
        panel_.reset();
        UiModelTest::TearDown();
    }
    std::unique_ptr<MenuPanel> panel_;
};

}  // namespace

TEST_F(MenuPanelTest, BeforeTheFirstSampleAndOpeningPublishesAtOnce) {
    AppModel& m = makeModel();
    MenuPanel& panel = open(m);
    MenuPanelView& v = *panel.view();
    EXPECT_TRUE(m.panelVisible());
    EXPECT_FALSE(v.questionRow()->isVisible());
    EXPECT_EQ(text(v.summaryLabel()), "Limiting is off, monitoring only");
    EXPECT_FALSE(v.masterSwitch()->isChecked());
    EXPECT_EQ(v.masterSwitch()->accessibleName(), "Limiting enabled");
    EXPECT_FALSE(v.loadBlock()->isVisible());
    EXPECT_TRUE(v.measuringLabel()->isVisible());
    EXPECT_EQ(text(v.measuringLabel()), "Measuring…");
    EXPECT_TRUE(v.autoSwitch()->isVisible());
    EXPECT_TRUE(v.autoSwitch()->isChecked());
    EXPECT_TRUE(v.openButton()->isVisible());
    EXPECT_EQ(v.quitButton()->text(), "Quit");
    EXPECT_EQ(v.quitButton()->trailing(), "restores every app");

    // Closed, a sample is not published; opening shows it at once.
    panel.hide();
    EXPECT_FALSE(m.panelVisible());
    m.receive(sampleOf({appRow(kEditor, "Editor", 1.5)}, 3.0, 1.0));
    EXPECT_FALSE(m.snapshot().has_value());
    panel.showAt(QRect(500, 0, 20, 20));
    ASSERT_TRUE(v.loadBlock()->isVisible());
    const int cores = m.systemInfo().logicalCores;
    EXPECT_EQ(text(v.loadFigureLabel()), "4.0");
    EXPECT_EQ(text(v.loadCaptionLabel()), "of " + std::to_string(cores) + " cores in use");
    EXPECT_EQ(v.coreBar()->p(), 3.0);
    EXPECT_EQ(v.coreBar()->e(), 1.0);
    EXPECT_EQ(v.coreBar()->total(), cores);
    EXPECT_FALSE(v.savingsLabel()->isVisible());  // nothing saved today
    EXPECT_FALSE(v.measuringLabel()->isVisible());
    EXPECT_EQ(v.rowNames(), std::vector<QString>{"Editor"});

    // Only apps that pass the filter are rows; none left: "Measuring…" again.
    m.receive(sampleOf({appRow(kIndexer, "Indexer", 0.1, false)}));
    EXPECT_TRUE(v.loadBlock()->isVisible());
    EXPECT_TRUE(v.rowNames().empty());
    EXPECT_TRUE(v.measuringLabel()->isVisible());
}

TEST_F(MenuPanelTest, TwoQuestionsShowOneAtATimeAndEachButtonAnswers) {
    AppModel& m = makeModel(R"({"masterEnabled": true, "autoTriggerCores": 2, "autoTriggerSeconds": 10})");
    MenuPanelView& v = *open(m).view();
    feed(sampleOf({appRow(kIndexer, "Indexer", 3.0, false), appRow(kBuilder, "Builder", 2.6, false)}), 11);
    ASSERT_EQ(m.pendingQuestions().size(), 2u);
    const AutoQuestion first = m.pendingQuestions()[0];
    const AutoQuestion second = m.pendingQuestions()[1];

    QuestionRow& row = *v.questionRow();
    ASSERT_TRUE(row.isVisible());
    EXPECT_EQ(text(row.headline()), PanelTexts::questionHeadline(first.name, first.cores));
    EXPECT_EQ(text(row.detail()), PanelTexts::questionDetail(2, first.overSeconds));
    EXPECT_EQ(row.button(AutoAnswer::limitOnce)->text(), "Limit");
    EXPECT_EQ(row.button(AutoAnswer::always)->text(), "Always");
    EXPECT_EQ(row.button(AutoAnswer::ignore)->text(), "Ignore");
    EXPECT_EQ(row.button(AutoAnswer::never)->text(), "Never");

    // Answering the first shows the second.
    click(row.button(AutoAnswer::always));
    EXPECT_EQ(m.settings().autoDecisions.at(first.path).decision, "always");
    EXPECT_EQ(m.autoLimits().count(first.path), 1u);
    ASSERT_TRUE(row.isVisible());
    EXPECT_EQ(row.question().path, second.path);
    EXPECT_EQ(text(row.headline()), PanelTexts::questionHeadline(second.name, second.cores));

    click(row.button(AutoAnswer::never));
    EXPECT_EQ(m.settings().autoDecisions.at(second.path).decision, "never");
    EXPECT_FALSE(row.isVisible());

    // Each of the four buttons gives its answer.
    struct Case {
        AutoAnswer answer;
        bool limited;
        const char* remembered;
    };
    const Case cases[] = {{AutoAnswer::limitOnce, true, nullptr},
                          {AutoAnswer::always, true, "always"},
                          {AutoAnswer::ignore, false, nullptr},
                          {AutoAnswer::never, false, "never"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer));
        panel_.reset();
        AppModel& fresh = makeModel(R"({"masterEnabled": true, "autoTriggerCores": 2, "autoTriggerSeconds": 10,
                                        "autoDecisions": {}})");
        MenuPanelView& fv = *open(fresh).view();
        feed(sampleOf({appRow(kIndexer, "Indexer", 3.0, false)}), 11);
        ASSERT_EQ(fresh.pendingQuestions().size(), 1u);
        click(fv.questionRow()->button(c.answer));
        EXPECT_TRUE(fresh.pendingQuestions().empty());
        EXPECT_FALSE(fv.questionRow()->isVisible());
        EXPECT_EQ(fresh.autoLimits().count(kIndexer) == 1, c.limited);
        auto decision = fresh.settings().autoDecisions.find(kIndexer);
        if (c.remembered) {
            ASSERT_NE(decision, fresh.settings().autoDecisions.end());
            EXPECT_EQ(decision->second.decision, c.remembered);
            EXPECT_EQ(decision->second.name, "Indexer");
        } else {
            EXPECT_EQ(decision, fresh.settings().autoDecisions.end());
        }
    }
}

TEST_F(MenuPanelTest, PauseActionAsksToPauseAppsButToLimitCommandLineGroups) {
    AppModel& m = makeModel(R"({"masterEnabled": true, "autoTriggerCores": 2, "autoTriggerSeconds": 10,
                                "autoAction": "pause", "autoIncludeCommandLine": true})");
    MenuPanelView& v = *open(m).view();
    feed(sampleOf({appRow(kIndexer, "Indexer", 3.0, false),
                   appRow("cli:node", "node", 2.6, false, AppKind::commandLine)}),
         11);
    ASSERT_EQ(m.pendingQuestions().size(), 2u);
    QuestionRow& row = *v.questionRow();
    for (int i = 0; i < 2; ++i) {
        const std::string path = row.question().path;
        EXPECT_EQ(row.button(AutoAnswer::limitOnce)->text(), path == "cli:node" ? "Limit" : "Pause") << path;
        click(row.button(AutoAnswer::ignore));
    }
    EXPECT_FALSE(row.isVisible());
}

TEST_F(MenuPanelTest, SwitchesSummaryAndDimmedPills) {
    AppModel& m = makeModel(R"({"masterEnabled": true,
        "rules": {"/usr/share/applications/custom.desktop": {"mode": "custom", "maxCores": 2}}})");
    MenuPanelView& v = *open(m).view();
    m.receive(sampleOf({appRow(kEditor, "Editor", 1.0), appRow(kCustom, "Custom", 0.5),
                        appRow("cli:node", "node", 0.4, false, AppKind::commandLine)}));
    auto pills = [&] {
        std::vector<Pill> shown;
        for (PillButton* b : v.pillButtons()) shown.push_back(b->pill());
        return shown;
    };
    ASSERT_EQ(v.rowNames(), (std::vector<QString>{"Editor", "Custom", "node"}));
    EXPECT_EQ(text(v.summaryLabel()), "On: Automatic, asks before limiting an app");
    EXPECT_EQ(pills(), (std::vector<Pill>{{"auto", PillStyle::automatic, false},
                                          {"max 2", PillStyle::limited, false},
                                          {"off", PillStyle::off, false}}));
    EXPECT_EQ(v.pillButtons()[1]->toolTip(), "Edit the rule for Custom");

    // The main switch off: monitoring only, automatic and custom pills dimmed.
    click(v.masterSwitch());
    EXPECT_FALSE(m.settings().masterEnabled);
    EXPECT_FALSE(v.masterSwitch()->isChecked());
    EXPECT_EQ(text(v.summaryLabel()), "Limiting is off, monitoring only");
    EXPECT_EQ(pills(), (std::vector<Pill>{{"auto", PillStyle::automatic, true},
                                          {"max 2", PillStyle::limited, true},
                                          {"off", PillStyle::off, false}}));

    // Automatic mode off, then the main switch on again: custom rules only.
    click(v.autoSwitch());
    EXPECT_FALSE(m.settings().autoEnabled);
    click(v.masterSwitch());
    EXPECT_TRUE(m.settings().masterEnabled);
    EXPECT_EQ(text(v.summaryLabel()), "On: custom rules only");
    // Without Automatic mode the editor's rule is off.
    EXPECT_EQ(pills(), (std::vector<Pill>{{"off", PillStyle::off, false},
                                          {"max 2", PillStyle::limited, false},
                                          {"off", PillStyle::off, false}}));
}

TEST_F(MenuPanelTest, ALineSaysWhenTheAppInFrontIsUnknown) {
    AppModel& m = makeModel(R"({"masterEnabled": true})");
    MenuPanelView& v = *open(m).view();
    MonitorSnapshot s = sampleOf({appRow(kEditor, "Editor", 1.0)});
    m.receive(s);
    EXPECT_TRUE(v.frontNoteLabel()->isHidden());
    s.frontKnown = false;
    m.receive(s);
    EXPECT_FALSE(v.frontNoteLabel()->isHidden());
    EXPECT_EQ(text(v.frontNoteLabel()),
              "This desktop doesn't tell which app is in front, so nothing counts as in the background.");
    s.frontKnown = true;
    m.receive(s);
    EXPECT_TRUE(v.frontNoteLabel()->isHidden());
}

TEST_F(MenuPanelTest, PillOpensTheRuleEditorAndFooterOpensOrQuits) {
    AppModel& m = makeModel();
    MenuPanel& panel = open(m);
    MenuPanelView& v = *panel.view();
    m.receive(sampleOf({appRow(kEditor, "Editor", 1.0), appRow(kCustom, "Custom", 0.5)}));
    QSignalSpy shown(&m, &AppModel::showMainWindowRequested);

    click(v.pillButtons()[1]);
    EXPECT_EQ(m.section(), Section::apps);
    EXPECT_EQ(m.editingPath(), kCustom);
    ASSERT_EQ(shown.count(), 1);
    EXPECT_TRUE(shown.at(0).at(0).toBool());  // in front
    EXPECT_FALSE(panel.isVisible());
    EXPECT_FALSE(m.panelVisible());

    int opened = 0;
    v.openMainWindow = [&] { ++opened; };
    panel.showAt(QRect(500, 0, 20, 20));
    click(v.openButton());
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(panel.isVisible());

    // Quit lets every app go first, then ends the application.
    bool engineDownAtQuit = false;
    v.quit = [&] {
        const auto calls = engineCalls_.calls();
        engineDownAtQuit = !calls.empty() && calls.back() == "shutdown";
    };
    panel.showAt(QRect(500, 0, 20, 20));
    click(v.quitButton());
    EXPECT_TRUE(engineDownAtQuit);
}

TEST_F(MenuPanelTest, TrayIconShowsTheMenuBarFigureAndAClickTogglesThePanel) {
    AppModel& m = makeModel();
    MenuPanel panel(m);
    TrayItem tray(m, panel);
    EXPECT_EQ(tray.icon()->toolTip(), "Trevlin: 0.0 cores in use");
    m.receive(sampleOf({}, 2.46));
    EXPECT_EQ(tray.icon()->toolTip(), "Trevlin: 2.5 cores in use");
    EXPECT_FALSE(tray.icon()->icon().isNull());

    // The figure is drawn under the gauge, in the colour given.
    const QImage image = trayImage("2.5", Qt::red, 32);
    auto inked = [&](int top, int bottom) {
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < 32; ++x) n += qAlpha(image.pixel(x, y)) > 128;
        return n;
    };
    EXPECT_GT(inked(0, 14), 10);   // the gauge
    EXPECT_GT(inked(16, 32), 40);  // the figure
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 255) {
                EXPECT_EQ(c.rgb(), QColor(Qt::red).rgb()) << x << "," << y;
            }
        }

    // The gauge and figure are drawn in the text colour of the appearance in effect.
    auto inkOfIcon = [&] {
        const QImage drawn = tray.icon()->icon().pixmap(32).toImage();
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x)
                if (drawn.pixelColor(x, y).alpha() == 255) return drawn.pixelColor(x, y).rgb();
        return QColor(Qt::transparent).rgb();
    };
    Appearance::apply("dark");
    EXPECT_EQ(inkOfIcon(), Appearance::darkPalette().color(QPalette::WindowText).rgb());
    Appearance::apply("light");
    EXPECT_EQ(inkOfIcon(), Appearance::lightPalette().color(QPalette::WindowText).rgb());
    Appearance::apply("system");

    // A click on the icon opens the panel; the next one closes it.
    emit tray.icon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(panel.isVisible());
    EXPECT_TRUE(m.panelVisible());
    emit tray.icon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_FALSE(m.panelVisible());
}
