// The front app on KDE Plasma: KWin tells no other program which window is
// active, but it runs scripts. Trevlin loads a small one through KWin's
// scripting interface (org.kde.KWin /Scripting loadScript, then the script
// object's run()); on every activation the script calls Trevlin's object on
// the session bus with the window's pid. The script is unloaded on stop, and
// loaded again when KWin restarts.
#pragma once

#include "ThreadedFrontWatcher.h"

#include <systemd/sd-bus.h>

#include <string>

namespace trevlin::linux {

class KWinFrontWatcher : public ThreadedFrontWatcher {
public:
    /// `busAddress`: the session bus (empty: the user's bus). The script file
    /// is written to `scriptDir` (XDG_RUNTIME_DIR; empty: /tmp).
    KWinFrontWatcher(std::string busAddress, std::string scriptDir);
    ~KWinFrontWatcher() override;

    /// The name KWin knows the script by.
    static constexpr const char* pluginName = "trevlin-front";
    /// Where the script reports: Trevlin's object and its one method, Activated(s pid).
    static constexpr const char* objectPath = "/app/trevlin/Front";
    static constexpr const char* interfaceName = "app.trevlin.Front";

    /// The answer one report of the script gives: "0" none, a positive
    /// number that pid, anything else unknown.
    static FrontApp frontOfReport(const char* text);

private:
    void run() override;
    bool writeScript(const std::string& busName);
    /// Loads and runs the script in the KWin that owns the name now.
    bool loadScript();
    void unloadScript();
    static int onActivated(sd_bus_message* m, void* self, sd_bus_error* error);
    static int onOwnerChanged(sd_bus_message* m, void* self, sd_bus_error* error);

    std::string busAddress_;
    std::string scriptDir_;
    // The rest belongs to the watcher's thread.
    sd_bus* bus_ = nullptr;
    std::string scriptPath_;
    std::string kwinOwner_;  // KWin's unique name; reports from anyone else are ignored
    bool scriptLoaded_ = false;
    bool reloadWanted_ = false;  // a new KWin took the name
};

}  // namespace trevlin::linux
