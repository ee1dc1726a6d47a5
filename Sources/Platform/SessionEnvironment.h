// The variables of the desktop session that tell Trevlin which compositor to
// ask for the app in front. A plain value, so tests build their own instead
// of changing the process's environment.
#pragma once

#include <string>

namespace trevlin::linux {

struct SessionEnvironment {
    std::string sessionType;         ///< XDG_SESSION_TYPE ("wayland", "x11", "tty")
    std::string waylandDisplay;      ///< WAYLAND_DISPLAY
    std::string display;             ///< DISPLAY (an X server, XWayland included)
    std::string currentDesktop;      ///< XDG_CURRENT_DESKTOP, a colon-separated list ("ubuntu:GNOME")
    std::string swaySocket;          ///< SWAYSOCK
    std::string i3Socket;            ///< I3SOCK
    std::string hyprlandSignature;   ///< HYPRLAND_INSTANCE_SIGNATURE
    std::string runtimeDir;          ///< XDG_RUNTIME_DIR
    std::string sessionBusAddress;   ///< DBUS_SESSION_BUS_ADDRESS; empty: the user bus in XDG_RUNTIME_DIR

    /// A Wayland session: XDG_SESSION_TYPE says so or WAYLAND_DISPLAY is set.
    bool isWayland() const;
    /// An X11 session: an X server and no Wayland compositor.
    bool isX11() const;
    /// Whether XDG_CURRENT_DESKTOP names `desktop` (one of its entries, any case).
    bool isDesktop(const std::string& desktop) const;
};

/// The session variables of this process's environment.
SessionEnvironment currentSessionEnvironment();

}  // namespace trevlin::linux
