// What a start is asked to do: the --render lookup, and the window opened at
// launch on the sections named in the environment, on a real model.
#include "UiModelFixture.h"

#include "LaunchOptions.h"

#include <QCoreApplication>
#include <QElapsedTimer>

using namespace trevlin;
using namespace trevlin::testing;

namespace {

std::optional<LaunchOptions::RenderRequest> lookUp(std::vector<std::string> args) {
    args.insert(args.begin(), "Trevlin");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    return LaunchOptions::renderRequest(static_cast<int>(argv.size()), argv.data());
}

class LaunchWindows : public UiModelTest {};

}  // namespace

TEST(LaunchOptions, RenderIsLookedForAnywhereAfterTheProgramName) {
    EXPECT_FALSE(lookUp({}));
    EXPECT_FALSE(lookUp({"--rendered", "x"}));
    EXPECT_EQ(lookUp({"--render", "out"})->directory, "out");
    EXPECT_EQ(lookUp({"foo", "--render", "out", "--render", "other"})->directory, "out");
    auto bare = lookUp({"foo", "--render"});
    ASSERT_TRUE(bare);
    EXPECT_FALSE(bare->directory);
}

TEST(LaunchOptions, OpenWindowNamesSectionsIgnoringCaseAndUnknownParts) {
    using LaunchOptions::openWindow;
    EXPECT_FALSE(openWindow(nullptr, nullptr, nullptr));
    EXPECT_FALSE(openWindow("nothing", nullptr, nullptr));
    EXPECT_FALSE(openWindow("", nullptr, "3"));
    auto w = openWindow("apps,bogus,SETTINGS", nullptr, nullptr);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->sections, (std::vector<Section>{Section::apps, Section::settings}));
    EXPECT_EQ(w->seconds, 100);
    EXPECT_FALSE(w->behind);
    for (const char* notANumber : {"soon", "3s", "", " "}) EXPECT_EQ(openWindow("apps", "", notANumber)->seconds, 100);
    EXPECT_EQ(openWindow("apps", "", "2.5")->seconds, 2.5);
    EXPECT_TRUE(openWindow("apps", "", "1")->behind);
}

TEST_F(LaunchWindows, TheFirstSectionAtOnceTheNextLaterAndNoWelcome) {
    AppModel& m = makeModel();
    std::vector<bool> shown;
    LaunchOptions::openWindowsAtLaunch(m, LaunchOptions::openWindow("apps,settings", nullptr, "1"),
                                       [&](bool behind) { shown.push_back(behind); });
    EXPECT_EQ(shown, std::vector<bool>{false});
    EXPECT_EQ(m.section(), Section::apps);
    QElapsedTimer timer;
    timer.start();
    while (m.section() != Section::settings && timer.elapsed() < 5000) QCoreApplication::processEvents();
    EXPECT_EQ(m.section(), Section::settings);
    EXPECT_GE(timer.elapsed(), 800);
    EXPECT_FALSE(m.settings().welcomeShown);
}

TEST_F(LaunchWindows, WithoutARequestTheFirstLaunchWelcomes) {
    AppModel& m = makeModel();
    int requests = 0;
    QObject::connect(&m, &AppModel::showMainWindowRequested, [&](bool) { ++requests; });
    bool shown = false;
    LaunchOptions::openWindowsAtLaunch(m, LaunchOptions::openWindow("nothing", nullptr, nullptr),
                                       [&](bool) { shown = true; });
    EXPECT_FALSE(shown);
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(m.settings().welcomeShown);
    EXPECT_EQ(m.section(), Section::overview);
}
