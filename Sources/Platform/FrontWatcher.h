// Watches the app in front of the desktop. Each desktop family tells it its
// own way (the X server's root window, sway's IPC socket, Hyprland's event
// socket, a KWin script, a GNOME Shell extension); every watcher answers the
// same question: the front app's pid, "none", or unknown.
#pragma once

#include "FrontApp.h"
#include "SessionEnvironment.h"

#include <functional>
#include <memory>
#include <string>

namespace trevlin::linux {

using ::trevlin::kFrontGnomeExtensionReason;
using ::trevlin::kFrontUntoldReason;

class FrontWatcher {
public:
    virtual ~FrontWatcher() = default;

    /// Connects, starts watching (once) and returns the current answer.
    /// `onChange` is called, from any thread, once for each change of the
    /// answer after the one returned, and never after the watcher is gone.
    /// A watcher that cannot reach its desktop answers unknown, never none.
    virtual FrontApp start(std::function<void(FrontApp)> onChange) = 0;

    /// While the answer is unknown: why, as a phrase completing "It is …".
    /// Empty while the answer is known.
    virtual std::string unknownReason() const = 0;
};

/// Where the front app is learnt from.
enum class FrontBackend { x11, swayIpc, hyprland, kwinScript, gnomeShellExtension, none };

/// The backend a session offers: X11 sessions use the X server; Wayland
/// sessions the compositor's own channel (sway/i3 IPC, Hyprland, KWin, GNOME
/// Shell, in that order of precedence); anything else has none. XWayland is
/// never asked in a Wayland session: its "no active window" is also what it
/// says whenever a native Wayland window has the focus.
FrontBackend chooseFrontBackend(const SessionEnvironment& env);

/// The watcher for `chooseFrontBackend(env)`; for a session without any
/// desktop, one that answers none.
std::unique_ptr<FrontWatcher> makeFrontWatcher(const SessionEnvironment& env);

/// A session with no desktop at all (a text console, ssh, a service): no
/// app can be in front, so the answer is a settled none.
class NoDesktopFrontWatcher : public FrontWatcher {
public:
    FrontApp start(std::function<void(FrontApp)>) override { return FrontApp::none(); }
    std::string unknownReason() const override { return {}; }
};

/// A watcher for desktop sessions that offer no channel: always unknown.
class UntoldFrontWatcher : public FrontWatcher {
public:
    FrontApp start(std::function<void(FrontApp)>) override { return FrontApp::unknown(); }
    std::string unknownReason() const override { return kFrontUntoldReason; }
};

}  // namespace trevlin::linux
