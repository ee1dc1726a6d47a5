// Installing and packaging: the tree `cmake --install` writes, judged by the
// desktop's own validators, and the Debian package, unpacked and run.
#include "Children.h"
#include "TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace trevlin::test;
namespace fs = std::filesystem;

namespace {

struct Output {
    int status = -1;
    std::string text;  // standard output and error
};

Output shell(const std::string& command) {
    Output out;
    FILE* f = ::popen((command + " 2>&1").c_str(), "r");
    if (!f) return out;
    char buf[4096];
    while (size_t n = std::fread(buf, 1, sizeof buf, f)) out.text.append(buf, n);
    const int status = ::pclose(f);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::string shellWord(const std::string& s) { return "'" + s + "'"; }

/// The tree of files (not folders) below `root`, as paths relative to it.
std::vector<std::string> treeOf(const std::string& root) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (!e.is_directory()) files.push_back(fs::relative(e.path(), root).string());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST(Install, TheTreeAndWhatTheDesktopsValidatorsSayOfIt) {
    TempDir dest;
    const Output install = shell("DESTDIR=" + shellWord(dest.path()) + " cmake --install " + shellWord(TREVLIN_BUILD_DIR) +
                                 " --prefix /usr");
    ASSERT_EQ(install.status, 0) << install.text;
    EXPECT_EQ(treeOf(dest.path()), (std::vector<std::string>{
                                       "usr/bin/Trevlin",
                                       "usr/bin/trevlinctl",
                                       "usr/lib/systemd/system/trevlin-helper.service",
                                       "usr/libexec/trevlin/app.trevlin.helper",
                                       "usr/libexec/trevlin/trevlin-guardian",
                                       "usr/share/applications/app.trevlin.Trevlin.desktop",
                                       "usr/share/icons/hicolor/scalable/apps/app.trevlin.Trevlin.svg",
                                       "usr/share/man/man1/Trevlin.1",
                                       "usr/share/man/man1/trevlinctl.1",
                                       "usr/share/metainfo/app.trevlin.Trevlin.metainfo.xml",
                                   }));
    const std::string usr = dest.path() + "/usr";
    const Output entry = shell("desktop-file-validate " + shellWord(usr + "/share/applications/app.trevlin.Trevlin.desktop"));
    EXPECT_EQ(entry.status, 0) << entry.text;
    EXPECT_EQ(entry.text, "");
    const Output metainfo =
        shell("appstreamcli validate --no-net " + shellWord(usr + "/share/metainfo/app.trevlin.Trevlin.metainfo.xml"));
    EXPECT_EQ(metainfo.status, 0) << metainfo.text;

    // The unit names the helper where it was installed, and systemd finds
    // nothing to say of it (the targets it names come from this machine).
    const Output exec = shell("grep '^ExecStart=' " + shellWord(usr + "/lib/systemd/system/trevlin-helper.service"));
    EXPECT_EQ(exec.text, "ExecStart=/usr/libexec/trevlin/app.trevlin.helper\n");
    for (const char* units : {"/usr/lib/systemd/system", "/lib/systemd/system"}) {
        if (!fs::exists(std::string(units) + "/multi-user.target")) continue;
        for (const auto& e : fs::directory_iterator(units))
            if (e.path().filename() != "trevlin-helper.service")
                fs::copy(e.path(), usr + "/lib/systemd/system/" + e.path().filename().string(),
                         fs::copy_options::recursive | fs::copy_options::copy_symlinks |
                             fs::copy_options::skip_existing);
        const Output verify = shell("systemd-analyze verify --root=" + shellWord(dest.path()) +
                                    " /usr/lib/systemd/system/trevlin-helper.service");
        EXPECT_EQ(verify.status, 0) << verify.text;
        EXPECT_EQ(verify.text, "");
        break;
    }
}

TEST(Install, TheDebianPackageUnpacksAndRuns) {
    TempDir work;
    const Output pack = shell("cd " + shellWord(TREVLIN_BUILD_DIR) + " && cpack -G DEB -B " + shellWord(work.path()));
    ASSERT_EQ(pack.status, 0) << pack.text;
    std::string deb;
    for (const auto& e : fs::directory_iterator(work.path()))
        if (e.path().extension() == ".deb") deb = e.path().string();
    ASSERT_FALSE(deb.empty()) << pack.text;
    EXPECT_EQ(fs::path(deb).filename().string().rfind("trevlin_", 0), 0u) << deb;

    // Its library dependencies come from the binaries.
    const Output depends = shell("dpkg-deb -f " + shellWord(deb) + " Depends");
    EXPECT_NE(depends.text.find("libc6"), std::string::npos) << depends.text;
    EXPECT_NE(depends.text.find("libqt6widgets6"), std::string::npos) << depends.text;
    // Qt's Wayland plugin, which no binary links.
    EXPECT_NE(depends.text.find("qt6-wayland"), std::string::npos) << depends.text;

    const std::string root = work.mkdir("root");
    ASSERT_EQ(shell("dpkg-deb -x " + shellWord(deb) + " " + shellWord(root)).status, 0);
    const Output apps = shell(shellWord(root + "/usr/bin/trevlinctl") + " apps --json --seconds 1");
    ASSERT_EQ(apps.status, 0) << apps.text;
    EXPECT_TRUE(nlohmann::json::accept(apps.text)) << apps.text;

    // The installed trevlinctl finds its guardian in ../libexec/trevlin.
    const Output limit = shell("XDG_DATA_HOME=" + shellWord(work.path() + "/data") + " timeout --preserve-status -s INT 1 " +
                               shellWord(root + "/usr/bin/trevlinctl") + " limit cli:trevlin-install-test --cores 1 2>&1");
    EXPECT_EQ(limit.status, 0) << limit.text;
    EXPECT_NE(limit.text.find("every process restored"), std::string::npos) << limit.text;
    EXPECT_EQ(limit.text.find("guardian"), std::string::npos) << limit.text;

    const std::string shots = work.path() + "/shots";
    const Output render = shell("env -u DISPLAY -u WAYLAND_DISPLAY TREVLIN_RENDER_ONLY=settings XDG_DATA_HOME=" +
                                shellWord(work.path() + "/data") + " " + shellWord(root + "/usr/bin/Trevlin") +
                                " --render " + shellWord(shots));
    ASSERT_EQ(render.status, 0) << render.text;
    EXPECT_TRUE(fs::exists(shots + "/settings-light.png"));
    EXPECT_TRUE(fs::exists(shots + "/settings-dark.png"));
}
