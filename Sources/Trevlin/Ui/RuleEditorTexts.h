// The rule editor's words and figures, decided from the rule, the settings
// and the limiter's status, apart from any widget.
#pragma once

#include "LimiterStatus.h"
#include "Settings.h"

#include <optional>
#include <string>

namespace trevlin::ui {

/// The header's lines under a group's name (empty for an app).
std::string groupHeaderLine(const std::string& detail);
std::string groupHeaderNote(const std::string& name);

/// The text under the mode picker for Off and Automatic (empty for Custom).
std::string modeText(RuleMode mode, const std::string& name, bool group, const AppSettings& settings);

/// The rule after choosing `mode`: Custom never keeps a cap above the machine.
StoredRule withMode(StoredRule rule, RuleMode mode, int logicalCores);

struct MethodWording {
    MethodWording() = default;
    MethodWording(std::string headline, std::string line, bool offered = true)
        : title(std::move(headline)), detail(std::move(line)), enabled(offered) {}
    std::string title;
    std::string detail;
    bool enabled = true;
};
/// How a method is offered, in app or group wording.
MethodWording methodWording(Method method, bool group);

/// "%.1f" of the cap, for the "MAXIMUM CORES" caption.
std::string capFigure(double maxCores);

/// The status block: a headline, an optional second line and an optional
/// note (shown in the cap colour).
struct StatusBlock {
    StatusBlock() = default;
    StatusBlock(std::string headline, bool inSavedTone = false, std::string line = {}, std::string capNote = {})
        : title(std::move(headline)), savedTone(inSavedTone), detail(std::move(line)), note(std::move(capNote)) {}
    std::string title;
    /// The headline is drawn in the saved colour.
    bool savedTone = false;
    std::string detail;
    std::string note;

    bool operator==(const StatusBlock&) const = default;
};
StatusBlock statusBlock(const std::optional<LimiterStatus>& status, bool masterEnabled);

}  // namespace trevlin::ui
