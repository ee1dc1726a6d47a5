// The main window on a real model: its sizes, the sidebar bound to the
// model's section, hiding on close, and its frame remembered between runs.
#include "UiModelFixture.h"

#include "Ui/FrameStore.h"
#include "Ui/MainWindow.h"
#include "Ui/MainWindowController.h"
#include "Ui/PaneTitle.h"
#include "Ui/Sidebar.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QTest>

#include <cstdlib>
#include <fstream>

using namespace trevlin;
using namespace trevlin::testing;
using namespace trevlin::ui;

namespace {

/// The offscreen platform with one full-HD screen (its default screen is
/// smaller than the window).
const char* platformWithScreen() {
    static test::TempDir dir;
    static const std::string platform = [] {
        const std::string file = dir.write(
            "screens.json", R"({"screens": [{"name": "main", "x": 0, "y": 0, "width": 1920, "height": 1080}]})");
        return "offscreen:configfile=" + file;
    }();
    return platform.c_str();
}

QString pageTitle(QWidget* page) {
    auto* title = page->findChild<PaneTitle*>();
    return title ? title->text() : QString();
}

class MainWindowTest : public UiModelTest {
protected:
    void SetUp() override {
        qtApp(platformWithScreen());
        UiModelTest::SetUp();
        ::setenv("XDG_CONFIG_HOME", dir_.mkdir("config").c_str(), 1);
    }
    void TearDown() override {
        controller_.reset();
        UiModelTest::TearDown();
        ::unsetenv("XDG_CONFIG_HOME");
    }
    MainWindow& show(AppModel& m) {
        if (!controller_) controller_ = std::make_unique<MainWindowController>(m);
        controller_->show(true);
        return *controller_->window();
    }
    std::unique_ptr<MainWindowController> controller_;
};

}  // namespace

TEST_F(MainWindowTest, SizesAndASidebarBoundToTheModelsSection) {
    AppModel& m = makeModel();
    MainWindow& w = show(m);
    EXPECT_EQ(w.windowTitle(), "Trevlin");
    EXPECT_EQ(w.size(), QSize(920, 620));
    EXPECT_TRUE(spinUntil([&] { return m.windowVisible(); }));

    // It cannot shrink below 820 x 540.
    w.resize(500, 300);
    EXPECT_EQ(w.size(), QSize(820, 540));
    w.resize(1400, 900);
    EXPECT_EQ(w.size(), QSize(1400, 900));

    // The sidebar: the four sections in order, 150 to 200 wide.
    Sidebar& side = *w.sidebar();
    ASSERT_EQ(side.count(), 4);
    const char* titles[] = {"Overview", "Apps", "Automatic", "Settings"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(side.item(i)->text(), titles[i]);
    const int sideWidth = w.splitter()->sizes().at(0);
    EXPECT_GE(sideWidth, Sidebar::kMinWidth);
    EXPECT_LE(sideWidth, Sidebar::kMaxWidth);
    EXPECT_EQ(pageTitle(w.pages()->currentWidget()), "Overview");

    // A click on a row selects its section and shows its page.
    QTest::mouseClick(side.viewport(), Qt::LeftButton, {}, side.visualItemRect(side.item(2)).center());
    EXPECT_EQ(m.section(), Section::automatic);
    EXPECT_EQ(pageTitle(w.pages()->currentWidget()), "Automatic");

    // A section chosen elsewhere selects its row.
    m.setSection(Section::settings);
    EXPECT_EQ(side.currentRow(), 3);
    EXPECT_EQ(pageTitle(w.pages()->currentWidget()), "Settings");
}

TEST_F(MainWindowTest, ClosingHidesTheSameWindowWhichComesBackOnItsPage) {
    AppModel& m = makeModel();
    MainWindow* first = &show(m);
    m.setSection(Section::apps);
    ASSERT_TRUE(spinUntil([&] { return m.windowVisible(); }));

    EXPECT_TRUE(first->close());
    EXPECT_FALSE(first->isVisible());
    EXPECT_FALSE(m.windowVisible());

    // Editing a rule (from the panel) while it is closed opens it in front, on Apps.
    m.setSection(Section::overview);
    m.editRule("/usr/share/applications/editor.desktop");
    EXPECT_EQ(controller_->window(), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(pageTitle(first->pages()->currentWidget()), "Apps");
    EXPECT_TRUE(spinUntil([&] { return m.windowVisible(); }));

    first->close();
    show(m);
    EXPECT_EQ(controller_->window(), first);
    EXPECT_EQ(first->sidebar()->currentRow(), 1);
}

TEST_F(MainWindowTest, FrameRememberedUnderItsNameOrCentredOnFirstShow) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    {
        AppModel& m = makeModel();
        MainWindow& w = show(m);
        // Nothing remembered yet: centred.
        EXPECT_EQ(w.geometry().center(), screen.center());
        w.move(100, 80);
        w.resize(1000, 700);
        w.close();
        controller_.reset();
    }
    ASSERT_TRUE(QFile::exists(QString::fromStdString(dir_.path() + "/config/Trevlin/Trevlin.conf")));
    ASSERT_TRUE(FrameStore::load("TrevlinMain").has_value());

    // The next run (a new controller and model) gets the same frame back.
    AppModel& m = makeModel();
    MainWindow& w = show(m);
    EXPECT_EQ(w.pos(), QPoint(100, 80));
    EXPECT_EQ(w.size(), QSize(1000, 700));
}

TEST_F(MainWindowTest, RenderModeNeverWritesTheFrame) {
    AppModelOptions o;
    o.renderMode = true;
    o.monitorTimer = false;
    o.notifications = false;
    model_ = std::make_unique<AppModel>(o);
    MainWindow& w = show(*model_);
    w.move(50, 50);
    w.close();
    controller_.reset();
    EXPECT_FALSE(QFile::exists(QString::fromStdString(dir_.path() + "/config/Trevlin/Trevlin.conf")));
}
