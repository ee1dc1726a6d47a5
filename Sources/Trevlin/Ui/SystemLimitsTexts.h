// The system rule editor's words, decided apart from any widget, in the
// words a Linux desktop uses for the two helper groups.
#pragma once

#include "HelperClient.h"
#include "HelperGroup.h"

#include <optional>
#include <string>

namespace trevlin::ui {

/// The group's title as the interface shows it ("File indexing", "Backups").
std::string systemGroupTitle(HelperGroup group);
/// What slowing the group costs.
std::string systemGroupNote(HelperGroup group);

/// The rule after choosing Custom: the existing rule, else 1 core strict.
HelperRule customHelperRule(const std::optional<HelperRule>& existing);

/// The helper status block: headline (in the saved colour when running, else
/// the cap colour) and the line under it (may be empty).
struct HelperStatusLines {
    HelperStatusLines() = default;
    HelperStatusLines(std::string headline, bool isRunning, std::string line = {})
        : title(std::move(headline)), running(isRunning), detail(std::move(line)) {}
    std::string title;
    bool running = false;
    std::string detail;

    bool operator==(const HelperStatusLines&) const = default;
};
HelperStatusLines helperStatusLines(HelperState state, const HelperGroupStatus* entry, bool hasRule);

}  // namespace trevlin::ui
