// Which Qt platform the app starts on. Qt ends the process (SIGABRT) when the
// platform it picks cannot start: a DISPLAY or WAYLAND_DISPLAY that is set
// but empty, a display nobody answers on (an autostart before the X server
// is up, a stale variable over ssh), a Wayland session without Qt's Wayland
// plugin. So before the application object is made, each display the
// session names is tried, and the app starts on the first that works, in
// Qt's own order (Wayland first when the session is Wayland), else headless
// on the offscreen platform, where the rules are still enforced. Every
// fallback is said in one line on standard error.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace trevlin {

struct DisplayChoice {
    /// The value QT_QPA_PLATFORM is set to; absent: left as it is (Qt's own
    /// choice or the user's).
    std::optional<std::string> platform;
    /// No display: no tray icon and no windows.
    bool headless = false;
    /// The line for standard error ("" when there is nothing to say).
    std::string message;

    /// What can be learned of the system, each replaceable in tests.
    struct Probes {
        /// Whether an X server answers at this DISPLAY value.
        std::function<bool(const std::string& display)> x11Answers;
        /// Whether a Wayland compositor listens on the socket at this path.
        std::function<bool(const std::string& socketPath)> waylandAnswers;
        /// Whether Qt's platform plugin is installed ("xcb", "wayland").
        std::function<bool(const std::string& plugin)> pluginInstalled;
        /// The real ones.
        static Probes system();
    };

    /// The choice for an environment read through `env` (absent: unset).
    static DisplayChoice choose(const std::function<std::optional<std::string>(const char*)>& env, const Probes& probes);
    /// The choice for this process's environment, with the real probes.
    static DisplayChoice forThisProcess();
};

}  // namespace trevlin
