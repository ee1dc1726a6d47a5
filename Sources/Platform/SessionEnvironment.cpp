#include "SessionEnvironment.h"

#include <strings.h>

#include <cstdlib>

namespace trevlin::linux {

namespace {

std::string variable(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

}  // namespace

bool SessionEnvironment::isWayland() const { return sessionType == "wayland" || !waylandDisplay.empty(); }

bool SessionEnvironment::isX11() const { return !isWayland() && !display.empty(); }

bool SessionEnvironment::isDesktop(const std::string& desktop) const {
    size_t start = 0;
    while (start <= currentDesktop.size()) {
        size_t end = currentDesktop.find(':', start);
        if (end == std::string::npos) end = currentDesktop.size();
        std::string entry = currentDesktop.substr(start, end - start);
        if (!entry.empty() && ::strcasecmp(entry.c_str(), desktop.c_str()) == 0) return true;
        start = end + 1;
    }
    return false;
}

SessionEnvironment currentSessionEnvironment() {
    SessionEnvironment env;
    env.sessionType = variable("XDG_SESSION_TYPE");
    env.waylandDisplay = variable("WAYLAND_DISPLAY");
    env.display = variable("DISPLAY");
    env.currentDesktop = variable("XDG_CURRENT_DESKTOP");
    env.swaySocket = variable("SWAYSOCK");
    env.i3Socket = variable("I3SOCK");
    env.hyprlandSignature = variable("HYPRLAND_INSTANCE_SIGNATURE");
    env.runtimeDir = variable("XDG_RUNTIME_DIR");
    env.sessionBusAddress = variable("DBUS_SESSION_BUS_ADDRESS");
    return env;
}

}  // namespace trevlin::linux
