#include "LoginItem.h"

#include "Files.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace trevlin {

const char* text(LoginStatus status) {
    switch (status) {
        case LoginStatus::off: return "off";
        case LoginStatus::enabled: return "enabled";
        case LoginStatus::requiresApproval: return "requires approval";
        case LoginStatus::notFound: return "not found";
        case LoginStatus::unknown: return "unknown";
    }
    return "unknown";
}

}  // namespace trevlin

namespace trevlin::LoginItem {

namespace {

std::string configHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    std::string h = home && home[0] ? home : "";
    if (h.empty()) {
        if (const passwd* pw = ::getpwuid(::getuid())) h = pw->pw_dir ? pw->pw_dir : "";
    }
    return h + "/.config";
}

bool isTrue(const std::string& value) { return value == "true" || value == "1"; }

}  // namespace

std::string entryPath() { return configHome() + "/autostart/trevlin.desktop"; }

std::optional<std::string> programPath() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::nullopt;
    std::string path(buf, static_cast<size_t>(n));
    // A binary replaced while running shows as "<path> (deleted)": that path
    // would start something else, or nothing, at the next login.
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() && path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0)
        return std::nullopt;
    if (path.empty() || path[0] != '/' || !Files::exists(path)) return std::nullopt;
    return path;
}

std::optional<std::string> execValue(const std::string& path) {
    std::string quoted = "\"";
    for (char c : path) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
        // Inside double quotes the Exec key escapes these with a backslash;
        // the file format then escapes every backslash once more. A literal
        // '%' is written "%%" so it is not read as a field code.
        if (c == '"' || c == '`' || c == '$') quoted += "\\\\";
        if (c == '\\') {
            quoted += "\\\\\\\\";
            continue;
        }
        if (c == '%') {
            quoted += "%%";
            continue;
        }
        quoted += c;
    }
    return quoted + "\"";
}

LoginStatus status() {
    if (!programPath()) return LoginStatus::notFound;
    auto text = Files::read(entryPath());
    if (!text) return LoginStatus::off;
    // Hidden=true or X-GNOME-Autostart-enabled=false switch an entry off
    // without deleting it (what desktop settings dialogs do).
    std::istringstream lines(*text);
    std::string line;
    bool inEntry = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "Hidden" && isTrue(value)) return LoginStatus::off;
        if (key == "X-GNOME-Autostart-enabled" && !isTrue(value)) return LoginStatus::off;
    }
    return LoginStatus::enabled;
}

bool setEnabled(bool on, std::string* error) {
    std::string path = entryPath();
    if (!on) {
        Files::Error why;
        if (!Files::remove(path, &why)) {
            if (error) *error = "Couldn't remove the login entry (" + why.message + ")";
            return false;
        }
        return true;
    }
    auto program = programPath();
    if (!program) {
        if (error) *error = "Couldn't tell where Trevlin is installed";
        return false;
    }
    auto exec = execValue(*program);
    if (!exec) {
        if (error) *error = "Trevlin's path can't be written in a login entry";
        return false;
    }
    std::string text = "[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=Trevlin\n"
                       "Comment=Keeps busy background apps from hogging the processor\n"
                       "Exec=" + *exec + "\n"
                       "Terminal=false\n"
                       "X-GNOME-Autostart-enabled=true\n";
    Files::Error why;
    if (!Files::createDirectories(Files::directoryOf(path), &why) || !Files::writeAtomically(path, text, &why)) {
        if (error) *error = "Couldn't write the login entry (" + why.message + ")";
        return false;
    }
    return true;
}

}  // namespace trevlin::LoginItem
