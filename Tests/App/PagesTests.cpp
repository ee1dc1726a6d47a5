// The Apps page, the rule editor and the system rule editor on a real model
// on the simulated platform: what rows are shown, what a click opens, and
// what each change in an editor writes.
#include "UiModelFixture.h"

#include "Ui/AppsView.h"
#include "Ui/HistoryChart.h"
#include "Ui/OverviewView.h"
#include "Ui/RuleEditor.h"
#include "Ui/SystemRuleEditor.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace trevlin;
using namespace trevlin::testing;
using namespace trevlin::ui;

namespace {

class PagesTest : public UiModelTest {
protected:
    AppModel& eightCores(const std::string& settingsJson = "") {
        MachineFacts f;
        f.chipName = "Test CPU";
        f.logicalCores = 8;
        f.performanceCores = 6;
        f.efficiencyCores = 2;
        sim_->setMachineFacts(f);
        AppModel& model = makeModel(settingsJson);
        // Samples are published to the views only while a window shows them.
        model.setWindowVisible(true);
        return model;
    }
    int count(const AppsTable& t, AppsRow::Kind kind) {
        int n = 0;
        for (const auto& r : t.rows()) n += r.kind == kind;
        return n;
    }
    std::string settingsFile() {
        model_->saveNow();
        std::ifstream in(dir_.path() + "/data/settings.json");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

}  // namespace

TEST_F(PagesTest, AppsPageRowsAndStatusLine) {
    AppModel& model = eightCores();
    AppsView view(model);
    view.resize(900, 500);
    // System processes on before any sample: no "Other / system" row, only the status line.
    view.systemBox()->click();
    EXPECT_TRUE(model.settings().showSystemProcesses);
    EXPECT_EQ(count(*view.table(), AppsRow::Kind::other), 0);
    ASSERT_EQ(count(*view.table(), AppsRow::Kind::status), 1);

    feed(sampleOf({appRow("/usr/share/applications/a.desktop", "Editor", 1.0)}), 2);
    // No command-line groups: neither the heading nor its divider.
    EXPECT_EQ(count(*view.table(), AppsRow::Kind::heading), 0);
    EXPECT_EQ(count(*view.table(), AppsRow::Kind::divider), 2);  // under the app and under "Other / system"
    EXPECT_EQ(count(*view.table(), AppsRow::Kind::other), 1);

    feed(sampleOf({appRow("/usr/share/applications/a.desktop", "Editor", 1.0),
                   appRow("cli:node", "node", 0.5, true, AppKind::commandLine)}),
         10);
    EXPECT_EQ(count(*view.table(), AppsRow::Kind::heading), 1);
}

TEST_F(PagesTest, ClickOnAppRowOpensItsEditorAndOtherDoesNothing) {
    AppModel& model = eightCores(R"({"showSystemProcesses": true})");
    AppsView view(model);
    view.resize(900, 500);
    view.show();
    const std::string key = "/usr/share/applications/a.desktop";
    feed(sampleOf({appRow(key, "Editor", 1.0)}), 2);

    auto other = view.table()->rowCentre("");
    ASSERT_TRUE(other);
    QTest::mouseClick(view.table(), Qt::LeftButton, {}, *other);
    EXPECT_FALSE(model.editingPath());
    EXPECT_FALSE(view.ruleEditor());

    auto row = view.table()->rowCentre(key);
    ASSERT_TRUE(row);
    QTest::mouseClick(view.table(), Qt::LeftButton, {}, *row);
    EXPECT_EQ(model.editingPath(), key);
    ASSERT_TRUE(view.ruleEditor());
    EXPECT_TRUE(view.ruleEditor()->isVisible());
    EXPECT_EQ(view.ruleEditor()->path(), key);

    view.ruleEditor()->doneButton()->click();
    EXPECT_FALSE(model.editingPath());
    EXPECT_TRUE(spinUntil([&] { return !view.ruleEditor(); }));
}

TEST_F(PagesTest, RuleEditorWritesTheWholeRuleSavesAndSyncs) {
    const std::string key = "/usr/share/applications/a.desktop";
    AppModel& model = eightCores(R"({"masterEnabled": true, "rules": {")" + key +
                                 R"(": {"mode": "off", "maxCores": 12, "method": "strict"}}})");
    RuleEditor editor(model, key, "Editor");
    EXPECT_EQ(editor.slider()->maximum(), 16);  // 8 cores in steps of 0.5
    engineCalls_.clear();

    editor.modeButton(RuleMode::custom)->click();
    EXPECT_EQ(model.rule(key).mode, RuleMode::custom);
    EXPECT_EQ(model.rule(key).maxCores, 8);
    EXPECT_EQ(model.rule(key).method, "strict");
    EXPECT_TRUE(AppModelProbe(model).savePending());
    AppModelProbe(model).waitForEngine();
    const auto calls = engineCalls_.calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "set " + key), calls.end());
    EXPECT_EQ(editor.slider()->value(), 16);

    editor.slider()->setValue(3);
    EXPECT_EQ(model.rule(key).maxCores, 1.5);
    editor.methodButton(Method::ecores)->click();
    editor.efficiencyBox()->click();
    const StoredRule r = model.rule(key);
    EXPECT_EQ(r.method, "ecores");
    EXPECT_TRUE(r.alwaysEfficiency);
    EXPECT_EQ(r.maxCores, 1.5);
    const std::string file = settingsFile();
    EXPECT_NE(file.find("\"ecores\""), std::string::npos) << file;
    EXPECT_NE(file.find("1.5"), std::string::npos) << file;
}

TEST_F(PagesTest, RuleEditorForAGroupAndTheMainSwitch) {
    AppModel& model = eightCores(R"({"masterEnabled": true, "rules": {"cli:node": {"mode": "custom"}}})");
    RuleEditor editor(model, "cli:node", "node");
    ASSERT_TRUE(editor.headerNote());
    EXPECT_EQ(editor.headerNote()->text(),
              "A rule here limits the programs node started. node itself is never paused or slowed.");
    EXPECT_FALSE(editor.methodButton(Method::pause)->isEnabled());
    editor.methodButton(Method::pause)->click();
    EXPECT_EQ(model.rule("cli:node").method, "smart");

    // Once the limiter publishes, its figures replace the waiting text (the
    // texts' table covers the waiting text itself; when the limiter answers
    // is the engine's timing).
    AppModelProbe(model).waitForEngine();
    EXPECT_TRUE(spinUntil([&] {
        editor.refresh();
        return editor.statusTitle()->text().startsWith("Using ");
    }));
    model.setMaster(false);
    EXPECT_EQ(editor.statusTitle()->text(),
              "Limiting is switched off in the menu bar panel. This rule will apply when you turn it on.");
}

TEST_F(PagesTest, SystemRuleEditorOffAndCustom) {
    // The model writes the helper's rules file at its fixed system place; a
    // machine with the helper installed must not have it changed by a test.
    if (std::filesystem::exists("/var/lib/trevlin/Rules")) GTEST_SKIP() << "the helper is installed here";
    AppModel& model = eightCores(R"({"experimentalSystemLimits": true})");
    SystemRuleEditor editor(model, HelperGroup::spotlight);
    EXPECT_EQ(editor.slider()->maximum(), 32);  // 0.25 to 8 in steps of 0.25
    EXPECT_EQ(editor.sliderHigh()->text(), "8");
    EXPECT_TRUE(editor.offButton()->isChecked());

    editor.customButton()->click();
    ASSERT_EQ(model.helperRules().count(HelperGroup::spotlight), 1u);
    EXPECT_EQ(model.helperRules().at(HelperGroup::spotlight), (HelperRule{1.0, HelperMethod::strict}));
    EXPECT_EQ(editor.slider()->value(), 4);
    editor.slider()->setValue(2);
    EXPECT_EQ(model.helperRules().at(HelperGroup::spotlight).cores, 0.5);

    editor.offButton()->click();
    EXPECT_EQ(model.helperRules().count(HelperGroup::spotlight), 0u);
}

TEST_F(PagesTest, OverviewRangeIsStored) {
    AppModel& model = eightCores();
    OverviewView view(model);
    view.resize(800, 700);
    EXPECT_EQ(view.chart()->minutes(), 5);
    view.rangeButton(1)->click();
    EXPECT_EQ(model.settings().chartRangeMinutes, 1);
    EXPECT_EQ(view.chart()->minutes(), 1);
    EXPECT_NE(settingsFile().find("\"chartRangeMinutes\": 1"), std::string::npos);

    // The monitor records history on its own ticks; none have run here.
    EXPECT_EQ(view.captionLabel()->text().toStdString(), "Collecting history…");
    EXPECT_TRUE(view.chart()->points().empty());
}
