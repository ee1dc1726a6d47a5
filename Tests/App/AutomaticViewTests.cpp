// The Automatic page over a real model on the simulated platform: its texts
// and ranges without widgets, then what the controls do to the settings.
#include "UiModelFixture.h"

#include "Ui/AutomaticView.h"
#include "Ui/AutomaticViewControls.h"
#include "Ui/AutomaticViewTexts.h"
#include "Ui/ToggleSwitch.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QToolButton>

using namespace trevlin;
using namespace trevlin::ui;
using trevlin::testing::AppModelProbe;
using trevlin::testing::UiModelTest;

TEST(AutomaticViewTexts, SlowSegmentSaysCoreOnlyForExactlyOne) {
    const std::vector<std::pair<double, const char*>> cases = {
        {1.0, "Slow it to 1 core"},       {1.5, "Slow it to 1.5 cores"}, {2.0, "Slow it to 2 cores"},
        {0.5, "Slow it to 0.5 cores"},    {12.0, "Slow it to 12 cores"},
    };
    for (const auto& [cores, text] : cases) EXPECT_EQ(slowSegmentText(cores), QString(text)) << cores;
}

TEST(AutomaticViewTexts, CoresStepperStopsAtTheCoreCount) {
    EXPECT_EQ(coresStepperMaximum(8), 8.0);
    EXPECT_EQ(coresStepperMaximum(1), 1.0);
    // A machine that reports no cores still leaves the smallest step.
    EXPECT_EQ(coresStepperMaximum(0), 0.5);
}

TEST(AutomaticViewTexts, DecisionsSortByNameIgnoringCase) {
    std::map<std::string, AutoDecisionRecord> decisions = {
        {"/apps/b", {"beta", "always"}}, {"/apps/a", {"Alpha", "never"}}, {"/apps/g", {"gamma", "always"}},
        {"/apps/a2", {"alpha", "never"}},
    };
    std::vector<std::string> paths;
    for (const auto& row : sortedDecisions(decisions)) paths.push_back(row.path);
    // Equal names apart from case keep the order of their paths.
    EXPECT_EQ(paths, (std::vector<std::string>{"/apps/a", "/apps/a2", "/apps/b", "/apps/g"}));
}

class AutomaticViewTest : public UiModelTest {};

TEST_F(AutomaticViewTest, SteppersRangeUpToTheCoreCountAndChangeTheSettings) {
    sim_->setCores(8);
    AppModel& m = makeModel(R"({"autoTriggerCores": 7.5, "autoLimitCores": 1})");
    AutomaticView view(m);
    EXPECT_EQ(view.coresStepper()->maximum(), 8.0);
    EXPECT_EQ(view.limitStepper()->maximum(), 8.0);
    EXPECT_EQ(view.coresStepper()->minimum(), 0.5);
    EXPECT_EQ(view.secondsStepper()->minimum(), 5.0);
    EXPECT_EQ(view.secondsStepper()->maximum(), 120.0);

    view.coresStepper()->upButton()->click();
    EXPECT_EQ(m.settings().autoTriggerCores, 8.0);
    view.coresStepper()->upButton()->click();  // at the top: nothing
    EXPECT_EQ(m.settings().autoTriggerCores, 8.0);
    EXPECT_FALSE(view.coresStepper()->upButton()->isEnabled());

    view.limitStepper()->upButton()->click();
    EXPECT_EQ(m.settings().autoLimitCores, 1.5);
    EXPECT_EQ(view.actionPicker()->segment("slow")->text(), "Slow it to 1.5 cores");
    view.secondsStepper()->downButton()->click();
    EXPECT_EQ(m.settings().autoTriggerSeconds, 5.0);
    EXPECT_TRUE(AppModelProbe(m).savePending());
}

TEST_F(AutomaticViewTest, OnASingleCoreTheCoresStepRangeIsHalfToOne) {
    sim_->setCores(1);
    AppModel& m = makeModel(R"({"autoTriggerCores": 2, "autoLimitCores": 1})");
    AutomaticView view(m);
    EXPECT_EQ(view.coresStepper()->minimum(), 0.5);
    EXPECT_EQ(view.coresStepper()->maximum(), 1.0);
    EXPECT_EQ(view.limitStepper()->maximum(), 1.0);
    // A stored value beyond this machine shows at the top of the range.
    EXPECT_EQ(view.coresStepper()->value(), 1.0);
    view.coresStepper()->downButton()->click();
    view.coresStepper()->downButton()->click();
    EXPECT_EQ(m.settings().autoTriggerCores, 0.5);
}

TEST_F(AutomaticViewTest, AutomaticOffDimsTheGroupsButLeavesThemUsable) {
    AppModel& m = makeModel(R"({"autoEnabled": true, "masterEnabled": false})");
    AutomaticView view(m);
    EXPECT_FALSE(view.mainSwitchWarning()->isHidden());
    EXPECT_EQ(AutomaticView::opacityOf(view.triggerGroup()), 1.0);

    view.autoSwitch()->click();
    EXPECT_FALSE(m.settings().autoEnabled);
    EXPECT_TRUE(view.mainSwitchWarning()->isHidden());
    EXPECT_EQ(AutomaticView::opacityOf(view.triggerGroup()), 0.6);
    EXPECT_EQ(AutomaticView::opacityOf(view.commandLineGroup()), 0.6);

    // Still editable while dimmed.
    EXPECT_TRUE(view.secondsStepper()->upButton()->isEnabled());
    view.secondsStepper()->upButton()->click();
    EXPECT_EQ(m.settings().autoTriggerSeconds, 15.0);
    view.commandLineBox()->click();
    EXPECT_TRUE(m.settings().autoIncludeCommandLine);

    view.autoSwitch()->click();
    EXPECT_EQ(AutomaticView::opacityOf(view.triggerGroup()), 1.0);
    EXPECT_FALSE(view.mainSwitchWarning()->isHidden());
    m.setMaster(true);
    EXPECT_TRUE(view.mainSwitchWarning()->isHidden());
}

TEST_F(AutomaticViewTest, PauseHidesTheLimitStepperAndExplainsItself) {
    AppModel& m = makeModel();
    AutomaticView view(m);
    EXPECT_EQ(view.actionPicker()->segment("slow")->text(), "Slow it to 1 core");
    EXPECT_FALSE(view.limitStepper()->isHidden());
    EXPECT_TRUE(view.pauseNote()->isHidden());

    view.actionPicker()->segment("pause")->click();
    EXPECT_EQ(m.settings().autoAction, "pause");
    EXPECT_TRUE(view.limitStepper()->isHidden());
    EXPECT_FALSE(view.pauseNote()->isHidden());
    EXPECT_TRUE(view.pauseNote()->text().contains("keeping the computer awake"));
}

TEST_F(AutomaticViewTest, AVeryLongNameGivesWayToTheButtons) {
    const std::string name(400, 'W');
    AppModel& m = makeModel(R"({"autoDecisions": {"/apps/long.desktop": {"name": ")" + name +
                            R"(", "decision": "always"}, "/apps/two.desktop": {"name": "two\nlines", "decision": "never"}}})");
    AutomaticView view(m);
    // The page fits a window of ordinary width, and the name is still the whole name.
    EXPECT_LT(view.minimumSizeHint().width(), 800);
    EXPECT_EQ(view.decisionNames(), (QStringList{"two\\nlines", QString::fromStdString(name)}));
    view.resize(700, 900);
    view.show();
    QAbstractButton* remove = view.removeButton("/apps/long.desktop");
    ASSERT_TRUE(remove);
    EXPECT_LE(remove->mapTo(&view, QPoint(remove->width(), 0)).x(), view.width());
}

TEST_F(AutomaticViewTest, RemoveForgetsOnlyThatDecisionAndSaves) {
    AppModel& m = makeModel(R"({"autoDecisions": {
        "/apps/beta.desktop": {"name": "beta", "decision": "always"},
        "/apps/alpha.desktop": {"name": "Alpha", "decision": "never"},
        "/apps/gamma.desktop": {"name": "gamma", "decision": "always"}}})");
    AutomaticView view(m);
    EXPECT_EQ(view.decisionNames(), (QStringList{"Alpha", "beta", "gamma"}));
    EXPECT_TRUE(view.noDecisionsNote()->isHidden());

    view.removeButton("/apps/beta.desktop")->click();
    EXPECT_EQ(view.decisionNames(), (QStringList{"Alpha", "gamma"}));
    EXPECT_EQ(m.settings().autoDecisions.count("/apps/beta.desktop"), 0u);
    EXPECT_EQ(m.settings().autoDecisions.size(), 2u);
    m.saveNow();
    AppSettings saved = SettingsStore::load(m.dataDirectory()).settings;
    EXPECT_EQ(saved.autoDecisions.size(), 2u);
    EXPECT_EQ(saved.autoDecisions.count("/apps/alpha.desktop"), 1u);

    view.removeButton("/apps/alpha.desktop")->click();
    view.removeButton("/apps/gamma.desktop")->click();
    EXPECT_TRUE(view.decisionNames().isEmpty());
    EXPECT_FALSE(view.noDecisionsNote()->isHidden());
}
