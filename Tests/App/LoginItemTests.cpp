// The autostart entry that opens Trevlin at login, in a config folder of the
// test's own.
#include "LoginItem.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace trevlin;

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/// Points XDG_CONFIG_HOME at `dir` for the life of the object.
class ConfigHome {
public:
    explicit ConfigHome(const std::string& dir) {
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) old_ = old;
        ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    }
    ~ConfigHome() {
        if (old_.empty()) ::unsetenv("XDG_CONFIG_HOME");
        else ::setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    }

private:
    std::string old_;
};

}  // namespace

TEST(LoginItem, ExecValueQuotesAndEscapes) {
    const std::pair<std::string, std::string> cases[] = {
        {"/usr/bin/Trevlin", R"("/usr/bin/Trevlin")"},
        {"/home/a b/Trevlin", R"("/home/a b/Trevlin")"},
        {"/opt/$HOME/Trevlin", R"("/opt/\\$HOME/Trevlin")"},
        {"/opt/\"q\"/`x`", R"("/opt/\\"q\\"/\\`x\\`")"},
        {"/opt/back\\slash", R"("/opt/back\\\\slash")"},
        {"/opt/100%/Trevlin", R"("/opt/100%%/Trevlin")"},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(LoginItem::execValue(path), expected) << path;
    // A line break would end the Exec line and start a key of the path's choosing.
    EXPECT_EQ(LoginItem::execValue("/tmp/x\nHidden=true"), std::nullopt);
    EXPECT_EQ(LoginItem::execValue(std::string("/tmp/x\tz")), std::nullopt);
}

TEST(LoginItem, EnableWritesAnEntryForThisProgramAndDisableRemovesIt) {
    test::TempDir dir;
    ConfigHome home(dir.path() + "/config");
    const std::string entry = dir.path() + "/config/autostart/trevlin.desktop";
    EXPECT_EQ(LoginItem::entryPath(), entry);
    EXPECT_EQ(LoginItem::status(), LoginStatus::off);

    std::string error;
    ASSERT_TRUE(LoginItem::setEnabled(true, &error)) << error;
    EXPECT_EQ(LoginItem::status(), LoginStatus::enabled);
    std::string text = readFile(entry);
    auto self = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=" + *LoginItem::execValue(self) + "\n"), std::string::npos) << text;
    EXPECT_EQ(LoginItem::programPath(), self);

    // Switched off by the desktop's own settings without being deleted.
    dir.write("config/autostart/trevlin.desktop", text + "Hidden=true\n");
    EXPECT_EQ(LoginItem::status(), LoginStatus::off);
    dir.write("config/autostart/trevlin.desktop", "[Desktop Entry]\nExec=x\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_EQ(LoginItem::status(), LoginStatus::off);

    ASSERT_TRUE(LoginItem::setEnabled(false, &error)) << error;
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_EQ(LoginItem::status(), LoginStatus::off);
    EXPECT_TRUE(LoginItem::setEnabled(false, &error)) << "turning off twice is no error";
}

TEST(LoginItem, AFolderThatCannotBeCreatedIsReported) {
    test::TempDir dir;
    dir.write("config", "a file where the folder should be");
    ConfigHome home(dir.path() + "/config");
    std::string error;
    EXPECT_FALSE(LoginItem::setEnabled(true, &error));
    EXPECT_EQ(error.rfind("Couldn't write the login entry (", 0), 0u) << error;
    EXPECT_EQ(LoginItem::status(), LoginStatus::off);
}
