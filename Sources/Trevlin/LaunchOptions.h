// What the command line and the environment ask of a start: render mode
// (`--render <dir>` anywhere in the arguments), and the main window opened
// at launch on given sections (TREVLIN_OPEN_WINDOW, with _BEHIND and _SECS).
#pragma once

#include "Sections.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace trevlin::LaunchOptions {

/// What `--render` asks for.
struct RenderRequest {
    /// The output folder; absent when `--render` is the last argument.
    std::optional<std::string> directory;
};

/// The first `--render` of the arguments (argv[0] excluded); absent when there is none.
std::optional<RenderRequest> renderRequest(int argc, char** argv);

/// The main window asked for at launch.
struct OpenWindow {
    /// The sections to show, in order: the first at once, the k-th further
    /// one k × `seconds` later.
    std::vector<Section> sections;
    double seconds = 100;
    /// Ordered behind the other windows rather than in front.
    bool behind = false;
};

/// From the variables' values (absent: unset). Absent when no section title
/// was named: the variable then has no effect.
std::optional<OpenWindow> openWindow(const char* sections, const char* behind, const char* seconds);

/// The same from this process's environment.
std::optional<OpenWindow> openWindowFromEnvironment();

}  // namespace trevlin::LaunchOptions

namespace trevlin {
class AppModel;
}

namespace trevlin::LaunchOptions {

/// The windows at the end of launching: the main window on the sections
/// asked for (shown through `show`, given whether to order it behind), the
/// later ones selected on the main thread as their time comes; without a
/// request, the first-launch welcome.
void openWindowsAtLaunch(AppModel& model, const std::optional<OpenWindow>& request,
                         const std::function<void(bool behind)>& show);

}  // namespace trevlin::LaunchOptions
