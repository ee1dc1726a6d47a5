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

/// Why the front app is unknown, completing "It is …": a desktop Trevlin has no
/// channel to, or one that does not answer.
inline constexpr const char* kFrontUntoldReason = "in front or not: this desktop does not tell Trevlin";
/// GNOME Shell without Trevlin's extension enabled.
inline constexpr const char* kFrontGnomeExtensionReason =
    "in front or not: enable the Trevlin extension in GNOME's Extensions app";

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

/// The watcher for `chooseFrontBackend(env)`.
std::unique_ptr<FrontWatcher> makeFrontWatcher(const SessionEnvironment& env);

/// A watcher for sessions that offer no channel: always unknown.
class UntoldFrontWatcher : public FrontWatcher {
public:
    FrontApp start(std::function<void(FrontApp)>) override { return FrontApp::unknown(); }
    std::string unknownReason() const override { return kFrontUntoldReason; }
};

}  // namespace trevlin::linux
