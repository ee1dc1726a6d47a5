#include "SystemLimitsTexts.h"

#include <cstdio>

namespace trevlin::ui {

std::string systemGroupTitle(HelperGroup group) {
    return group == HelperGroup::spotlight ? "File indexing" : "Backups";
}

std::string systemGroupNote(HelperGroup group) {
    if (group == HelperGroup::spotlight)
        return "Slowing the file indexer makes indexing take longer: new files take longer to show up in search, and "
               "search results may lag until it catches up.";
    return "Slowing backups makes each backup take longer. It is never paused for good, so backups still finish, "
           "just later.";
}

HelperRule customHelperRule(const std::optional<HelperRule>& existing) {
    return existing ? *existing : HelperRule{1.0, HelperMethod::strict};
}

HelperStatusLines helperStatusLines(HelperState state, const HelperGroupStatus* entry, bool hasRule) {
    switch (state) {
    case HelperState::running: {
        HelperStatusLines lines{"Helper running", true};
        if (entry) {
            char text[160];
            std::snprintf(text, sizeof text, "Using %.2f of %.2f cores (%d process(es)) · saving ~%.2f cores (est.)",
                          entry->cores, entry->cap, entry->processCount, entry->savedCores);
            lines.detail = text;
        } else if (hasRule) {
            lines.detail = "Waiting for the helper to pick up the rule (up to 2 seconds).";
        }
        return lines;
    }
    case HelperState::notResponding:
        return {"Helper not responding", false,
                "The helper is installed but has not reported for a while. Try: sudo systemctl restart "
                "trevlin-helper.service"};
    case HelperState::notInstalled:
        break;
    }
    return {"Helper not installed", false,
            "Run scripts/install-helper.sh with sudo (see docs/HELPER.md). Rules are saved once it is installed."};
}

}  // namespace trevlin::ui
