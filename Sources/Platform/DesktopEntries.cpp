#include "DesktopEntries.h"

#include "LinuxProc.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace trevlin::linux {

static std::string envOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : fallback;
}

static std::string homeDir() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    if (passwd* pw = ::getpwuid(::getuid())) return pw->pw_dir;
    return "/";
}

std::vector<std::string> applicationDirsFromEnvironment() {
    std::vector<std::string> dirs;
    dirs.push_back(envOr("XDG_DATA_HOME", homeDir() + "/.local/share") + "/applications");
    std::string list = envOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    size_t i = 0;
    while (i <= list.size()) {
        size_t j = list.find(':', i);
        if (j == std::string::npos) j = list.size();
        std::string d = list.substr(i, j - i);
        if (!d.empty() && d[0] == '/') dirs.push_back(d + "/applications");
        i = j + 1;
    }
    return dirs;
}

std::vector<std::string> localesFromEnvironment() {
    std::string v;
    for (const char* n : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* s = std::getenv(n);
        if (s && *s) {
            v = s;
            break;
        }
    }
    std::vector<std::string> out;
    auto cut = v.find_first_of(".@");
    std::string base = v.substr(0, cut);
    if (base.empty() || base == "C" || base == "POSIX") return out;
    out.push_back(base);
    auto us = base.find('_');
    if (us != std::string::npos) out.push_back(base.substr(0, us));
    return out;
}

DesktopEntry parseDesktopEntry(const std::string& text, const std::vector<std::string>& locales) {
    DesktopEntry e;
    std::istringstream in(text);
    std::string line;
    bool inMain = false;
    std::string plainName;
    size_t bestRank = locales.size();
    std::string localName;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        if (!inMain) continue;
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        std::string value = line.substr(eq + 1);
        while (!value.empty() && value.front() == ' ') value.erase(value.begin());
        if (key == "Name") {
            plainName = value;
        } else if (key.compare(0, 5, "Name[") == 0 && key.back() == ']') {
            std::string lang = key.substr(5, key.size() - 6);
            for (size_t r = 0; r < locales.size(); ++r) {
                if (locales[r] == lang && r < bestRank) {
                    bestRank = r;
                    localName = value;
                }
            }
        } else if (key == "NoDisplay") {
            e.noDisplay = value == "true";
        } else if (key == "Icon") {
            e.icon = value;
        }
    }
    // Old entries may still be in a legacy 8-bit encoding.
    e.name = sanitizeUtf8(bestRank < locales.size() ? localName : plainName);
    return e;
}

std::optional<DesktopEntry> findDesktopEntry(const std::string& applicationId,
                                             const std::vector<std::string>& appDirs,
                                             const std::vector<std::string>& locales) {
    if (applicationId.empty() || applicationId.find('/') != std::string::npos) return std::nullopt;
    for (const auto& dir : appDirs) {
        std::string path = dir + "/" + applicationId + ".desktop";
        if (auto text = readSmallFile(path, 1 << 20)) {
            DesktopEntry e = parseDesktopEntry(*text, locales);
            e.path = path;
            return e;
        }
    }
    return std::nullopt;
}

}  // namespace trevlin::linux
