// The front app on Hyprland: its event socket (.socket2.sock) announces each
// activation ("activewindowv2>>ADDRESS", older versions only
// "activewindow>>CLASS,TITLE"), and its request socket (.socket.sock) answers
// "j/activewindow" with the active window as JSON, pid included ("{}" when no
// window is active).
#pragma once

#include "ThreadedFrontWatcher.h"

#include <string>
#include <vector>

namespace trevlin::linux {

class HyprlandFrontWatcher : public ThreadedFrontWatcher {
public:
    /// `socketDirs`: the folders that may hold the instance's sockets, in
    /// order of preference; the first with an event socket is used.
    explicit HyprlandFrontWatcher(std::vector<std::string> socketDirs);
    ~HyprlandFrontWatcher() override;

    /// Where an instance keeps its sockets: `$XDG_RUNTIME_DIR/hypr/<signature>`,
    /// and `/tmp/hypr/<signature>` where versions before 0.40 kept them.
    static std::vector<std::string> socketDirs(const std::string& runtimeDir, const std::string& signature);

    /// The answer of a "j/activewindow" reply: its pid; "none" for the empty
    /// object Hyprland sends when no window is active; else unknown.
    static FrontApp frontOfReply(const std::string& json);

private:
    void run() override;
    FrontApp askActiveWindow(const std::string& dir);

    std::vector<std::string> socketDirs_;
};

}  // namespace trevlin::linux
