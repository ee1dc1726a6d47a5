// The program's render mode from the outside: the real binary, with home,
// data and config folders of its own and no display, writing every page.
#include "Children.h"
#include "TempDir.h"

#include "Render/Renderer.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

using namespace trevlin;
using namespace trevlin::test;
namespace fs = std::filesystem;

namespace {

struct ProgramRun {
    int status = -1;
    std::string errors;
};

/// Runs the program with `args` and the extra environment `env`
/// ("NAME=value"), in folders of `home`, and waits for it.
ProgramRun runProgram(const TempDir& home, const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u TREVLIN_RENDER_ONLY "
                      "-u TREVLIN_RENDER_MARKETING HOME='" + home.path() + "' XDG_DATA_HOME='" + home.path() +
                      "/data' XDG_CONFIG_HOME='" + home.path() + "/config' ";
    for (const auto& e : env) cmd += "'" + e + "' ";
    cmd += "'" TREVLIN_APP_PATH "'";
    for (const auto& a : args) cmd += " '" + a + "'";
    cmd += " 2>'" + home.path() + "/errors' >/dev/null";
    ProgramRun run;
    const int status = std::system(cmd.c_str());
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(home.path() + "/errors");
    run.errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

std::set<std::string> filesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

char stateOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() ? '?' : text[close + 2];
}

}  // namespace

TEST(RenderMode, EveryPageInLightAndDarkWithoutTouchingFilesOrProcesses) {
    TempDir home;
    Children kids;
    const pid_t bystander = kids.spawn({"/bin/sleep", "60"});
    const std::string out = home.path() + "/shots/nested";
    const ProgramRun run = runProgram(home, {"--render", out});
    ASSERT_EQ(run.status, 0) << run.errors;

    std::set<std::string> expected;
    for (const auto& page : Renderer::pages())
        for (const char* appearance : {"light", "dark"})
            expected.insert(std::string(page.name) + "-" + appearance + ".png");
    ASSERT_EQ(expected.size(), 28u);
    EXPECT_EQ(filesIn(out), expected);

    for (const auto& page : Renderer::pages()) {
        SCOPED_TRACE(page.name);
        QImage light(QString::fromStdString(out + "/" + page.name + "-light.png"));
        QImage dark(QString::fromStdString(out + "/" + page.name + "-dark.png"));
        ASSERT_FALSE(light.isNull());
        ASSERT_FALSE(dark.isNull());
        // Twice the page's points; a page given only a width takes its content's height.
        EXPECT_EQ(light.width(), 2 * page.size.width());
        if (page.size.height() > 0) {
            EXPECT_EQ(light.height(), 2 * page.size.height());
        }
        EXPECT_EQ(light.size(), dark.size());
        std::set<QRgb> colours;
        for (int y = 0; y < light.height() && colours.size() < 3; y += 7)
            for (int x = 0; x < light.width() && colours.size() < 3; x += 7) colours.insert(light.pixel(x, y));
        EXPECT_GE(colours.size(), 3u) << "a picture of a single colour";
        EXPECT_NE(light, dark);
        // Light pages are light, dark ones dark, where nothing is drawn.
        EXPECT_GT(QColor(light.pixel(light.width() - 2, light.height() - 2)).lightness(), 180);
        EXPECT_LT(QColor(dark.pixel(dark.width() - 2, dark.height() - 2)).lightness(), 90);
    }
    EXPECT_FALSE(fs::exists(home.path() + "/data/Trevlin/settings.json"));
    EXPECT_FALSE(fs::exists(home.path() + "/config/Trevlin"));
    EXPECT_NE(stateOf(bystander), 'T');
}

TEST(RenderMode, OnePageArgumentsAnywhereAndEveryFailure) {
    TempDir home;
    // "--render" is found anywhere in the arguments.
    const ProgramRun one = runProgram(home, {"foo", "--render", home.path() + "/one"}, {"TREVLIN_RENDER_ONLY=apps"});
    ASSERT_EQ(one.status, 0) << one.errors;
    EXPECT_EQ(filesIn(home.path() + "/one"), (std::set<std::string>{"apps-dark.png", "apps-light.png"}));

    const ProgramRun usage = runProgram(home, {"--render"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(usage.errors, "usage: Trevlin --render <dir>\n");

    // Not even root can make a folder inside a file.
    home.write("a-file", "x");
    const std::string blocked = home.path() + "/a-file/shots";
    const ProgramRun cannot = runProgram(home, {"--render", blocked});
    EXPECT_EQ(cannot.status, 1);
    EXPECT_NE(cannot.errors.find("cannot create " + blocked + "\n"), std::string::npos) << cannot.errors;
}
