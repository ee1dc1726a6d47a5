// The groups of protected system processes the privileged helper may hold
// back, and the rule the app hands it for each.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace trevlin {

enum class HelperGroup { spotlight, timemachine };

inline constexpr std::array<HelperGroup, 2> kAllHelperGroups{HelperGroup::spotlight, HelperGroup::timemachine};

/// The group's id: its key in the rules and status files.
inline const char* id(HelperGroup group) {
    return group == HelperGroup::spotlight ? "spotlight" : "timemachine";
}

inline const char* title(HelperGroup group) {
    return group == HelperGroup::spotlight ? "File indexing" : "Backups";
}

inline std::optional<HelperGroup> helperGroupFromId(std::string_view raw) {
    for (HelperGroup g : kAllHelperGroups)
        if (raw == id(g)) return g;
    return std::nullopt;
}

enum class HelperMethod {
    /// Pause and resume the processes so that they average the cap.
    strict,
    /// Move them to the efficiency cores; nothing is paused.
    ecores,
};

inline const char* rawValue(HelperMethod method) { return method == HelperMethod::strict ? "strict" : "ecores"; }

inline std::optional<HelperMethod> helperMethodFromRaw(std::string_view raw) {
    if (raw == "strict") return HelperMethod::strict;
    if (raw == "ecores") return HelperMethod::ecores;
    return std::nullopt;
}

struct HelperRule {
    /// The cap in cores.
    double cores = 0;
    HelperMethod method = HelperMethod::strict;

    bool operator==(const HelperRule&) const = default;
};

}  // namespace trevlin
