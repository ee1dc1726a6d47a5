#include "FrontWatcher.h"

#include "GnomeFrontWatcher.h"
#include "HyprlandFrontWatcher.h"
#include "KWinFrontWatcher.h"
#include "SwayFrontWatcher.h"
#include "X11FrontWatcher.h"

namespace trevlin::linux {

FrontBackend chooseFrontBackend(const SessionEnvironment& env) {
    if (env.isX11()) return FrontBackend::x11;
    if (!env.isWayland()) return FrontBackend::none;
    // The compositor's own variables first: they name the compositor that
    // actually runs, whatever desktop the session was started as.
    if (!env.swaySocket.empty() || !env.i3Socket.empty()) return FrontBackend::swayIpc;
    if (!env.hyprlandSignature.empty()) return FrontBackend::hyprland;
    if (env.isDesktop("KDE")) return FrontBackend::kwinScript;
    if (env.isDesktop("GNOME")) return FrontBackend::gnomeShellExtension;
    return FrontBackend::none;
}

std::unique_ptr<FrontWatcher> makeFrontWatcher(const SessionEnvironment& env) {
    switch (chooseFrontBackend(env)) {
    case FrontBackend::x11:
        return std::make_unique<X11FrontWatcher>(env.display);
    case FrontBackend::swayIpc:
        return std::make_unique<SwayFrontWatcher>(!env.swaySocket.empty() ? env.swaySocket : env.i3Socket);
    case FrontBackend::hyprland:
        return std::make_unique<HyprlandFrontWatcher>(
            HyprlandFrontWatcher::socketDirs(env.runtimeDir, env.hyprlandSignature));
    case FrontBackend::kwinScript:
        return std::make_unique<KWinFrontWatcher>(env.sessionBusAddress, env.runtimeDir);
    case FrontBackend::gnomeShellExtension:
        return std::make_unique<GnomeFrontWatcher>(env.sessionBusAddress);
    case FrontBackend::none:
        break;
    }
    if (!env.isWayland()) return std::make_unique<NoDesktopFrontWatcher>();
    return std::make_unique<UntoldFrontWatcher>();
}

}  // namespace trevlin::linux
