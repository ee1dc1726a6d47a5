// The front app on GNOME Shell: the shell tells no other program which window
// has the focus, so Trevlin ships a small extension (Resources/gnome-shell-
// extension/) that publishes the focused window's pid on the session bus as
// the property Pid of app.trevlin.FrontWindow, with PropertiesChanged on each
// focus change. Without the extension enabled the answer is unknown, and the
// reason says how to enable it. The extension's bus name may come and go
// (enabled, disabled, the shell restarted): the watcher follows it.
#pragma once

#include "ThreadedFrontWatcher.h"

#include <systemd/sd-bus.h>

#include <string>

namespace trevlin::linux {

class GnomeFrontWatcher : public ThreadedFrontWatcher {
public:
    /// `busAddress`: the session bus (empty: the user's bus).
    explicit GnomeFrontWatcher(std::string busAddress);
    ~GnomeFrontWatcher() override;

    /// The extension's bus name, object and interface.
    static constexpr const char* busName = "app.trevlin.FrontWindow";
    static constexpr const char* objectPath = "/app/trevlin/FrontWindow";
    static constexpr const char* interfaceName = "app.trevlin.FrontWindow";

    /// The answer of the extension's Pid: 0 none, a positive pid, else unknown.
    static FrontApp frontOfPid(int32_t pid);

private:
    void run() override;
    /// Reads Pid from the extension that owns the name now, and publishes it.
    void refresh();
    static int onOwnerChanged(sd_bus_message* m, void* self, sd_bus_error* error);
    static int onPropertiesChanged(sd_bus_message* m, void* self, sd_bus_error* error);

    std::string busAddress_;
    // The rest belongs to the watcher's thread.
    sd_bus* bus_ = nullptr;
    std::string owner_;  // the extension's unique name, empty while it is not there
    bool refreshWanted_ = false;
};

}  // namespace trevlin::linux
