// What the desktop says about the app in front: a pid, "no app" (pid 0), or
// nothing at all. Unknown is not none: where the desktop cannot be asked, the
// user may well be typing into an app that Trevlin cannot see, and nothing
// may be treated as being in the background.
#pragma once

#include <cstdint>

namespace trevlin {

using Pid = int32_t;

/// Why the front app is unknown, completing "It is …": a desktop Trevlin has no
/// channel to, or one that does not answer.
inline constexpr const char* kFrontUntoldReason = "in front or not: this desktop does not tell Trevlin";
/// GNOME Shell without Trevlin's extension enabled.
inline constexpr const char* kFrontGnomeExtensionReason =
    "in front or not: enable the Trevlin extension in GNOME's Extensions app";

struct FrontApp {
    bool known = false;  ///< the desktop answered
    Pid pid = 0;         ///< when known: the front app's process, 0 when no app is in front

    static FrontApp unknown() { return {}; }
    static FrontApp of(Pid pid) { return {true, pid}; }
    static FrontApp none() { return {true, 0}; }

    bool operator==(const FrontApp&) const = default;
};

}  // namespace trevlin
