#include "DisplayChoice.h"

#include "UnixSocket.h"

#include <QLibraryInfo>

#include <dirent.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace trevlin {

namespace {

std::vector<std::string> split(const std::string& text, char by) {
    std::vector<std::string> parts;
    size_t from = 0;
    for (;;) {
        const size_t at = text.find(by, from);
        parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) return parts;
        from = at + 1;
    }
}

std::string join(const std::vector<std::string>& parts) {
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : "; ") + p;
    return out;
}

bool hasPrefix(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

}  // namespace

DisplayChoice::Probes DisplayChoice::Probes::system() {
    Probes p;
    p.x11Answers = [](const std::string& display) {
        xcb_connection_t* c = xcb_connect(display.c_str(), nullptr);
        const bool ok = xcb_connection_has_error(c) == 0;
        xcb_disconnect(c);
        return ok;
    };
    p.waylandAnswers = [](const std::string& path) {
        const int fd = linux::connectUnixSocket(path);
        if (fd < 0) return false;
        ::close(fd);
        return true;
    };
    p.pluginInstalled = [](const std::string& plugin) {
        std::vector<std::string> dirs;
        if (const char* extra = std::getenv("QT_PLUGIN_PATH"))
            for (const auto& d : split(extra, ':'))
                if (!d.empty()) dirs.push_back(d);
        dirs.push_back(QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString());
        const std::string prefix = "libq" + plugin;
        for (const auto& d : dirs) {
            DIR* folder = ::opendir((d + "/platforms").c_str());
            if (!folder) continue;
            bool found = false;
            while (dirent* e = ::readdir(folder)) {
                const std::string name = e->d_name;
                if (hasPrefix(name, prefix) && name.size() > 3 && name.compare(name.size() - 3, 3, ".so") == 0) found = true;
            }
            ::closedir(folder);
            if (found) return true;
        }
        return false;
    };
    return p;
}

DisplayChoice DisplayChoice::choose(const std::function<std::optional<std::string>(const char*)>& env,
                                    const Probes& probes) {
    const auto requested = env("QT_QPA_PLATFORM");
    const auto display = env("DISPLAY");
    const auto wayland = env("WAYLAND_DISPLAY");

    // The displays to try, in the order Qt would: the user's list when it
    // names display platforms, then Wayland when the session is one, then X11.
    std::vector<std::string> order;
    const bool userChose = requested && !requested->empty();
    if (userChose) {
        for (const auto& entry : split(*requested, ';')) {
            const std::string base = entry.substr(0, entry.find(':'));
            if (base == "xcb") order.push_back("xcb");
            else if (hasPrefix(base, "wayland")) order.push_back("wayland");
            else if (order.empty()) {
                // Another platform (offscreen, vnc, eglfs, …) taken as given.
                DisplayChoice given;
                given.headless = !display && !wayland;
                return given;
            }
        }
    }
    // Then what the session offers, should the user's choice not work.
    auto offer = [&](const char* name) {
        if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
    };
    if (wayland || env("XDG_SESSION_TYPE") == std::optional<std::string>("wayland")) offer("wayland");
    if (display) offer("xcb");

    DisplayChoice choice;
    if (order.empty()) {
        choice.platform = "offscreen";
        choice.headless = true;
        choice.message = "Trevlin: no display, running without the tray icon and windows";
        return choice;
    }

    auto problemWith = [&](const std::string& name) -> std::string {
        if (name == "xcb") {
            if (!display) return "DISPLAY is not set";
            if (display->empty()) return "DISPLAY is set but empty";
            if (!probes.x11Answers(*display)) return "no X server answers at DISPLAY=" + *display;
            if (!probes.pluginInstalled("xcb")) return "Qt's X11 platform plugin is not installed";
            return "";
        }
        if (wayland && wayland->empty()) return "WAYLAND_DISPLAY is set but empty";
        const std::string socket = wayland.value_or("wayland-0");
        std::string path = socket;
        if (socket[0] != '/') {
            const auto runtime = env("XDG_RUNTIME_DIR");
            if (!runtime || runtime->empty()) return "XDG_RUNTIME_DIR is not set, so the Wayland display cannot be found";
            path = *runtime + "/" + socket;
        }
        if (!probes.waylandAnswers(path)) return "no Wayland compositor answers at " + path;
        if (!probes.pluginInstalled("wayland")) return "Qt's Wayland platform plugin is not installed";
        return "";
    };

    std::vector<std::string> problems;
    for (const auto& name : order) {
        const std::string problem = problemWith(name);
        if (!problem.empty()) {
            problems.push_back(problem);
            continue;
        }
        // What the user asked for, when it works, stays as asked.
        if (!(userChose && problems.empty())) choice.platform = name;
        if (!problems.empty())
            choice.message = "Trevlin: " + join(problems) + ", using " + (name == "xcb" ? "X11" : "Wayland") + " instead";
        return choice;
    }
    choice.platform = "offscreen";
    choice.headless = true;
    choice.message = "Trevlin: " + join(problems) + ", running without the tray icon and windows";
    return choice;
}

DisplayChoice DisplayChoice::forThisProcess() {
    return choose(
        [](const char* name) -> std::optional<std::string> {
            if (const char* v = std::getenv(name)) return std::string(v);
            return std::nullopt;
        },
        Probes::system());
}

}  // namespace trevlin
