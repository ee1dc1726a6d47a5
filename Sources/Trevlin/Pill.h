// The short rule state an app shows beside its name (the panel's rows, the
// Apps page): a text, a colour style, and whether it is dimmed because the
// switch it depends on is off.
#pragma once

#include "LimiterStatus.h"
#include "Rule.h"
#include "Settings.h"

#include <optional>
#include <string>

namespace trevlin {

class AppModel;

enum class PillStyle { off, automatic, limited, paused };

struct Pill {
    std::string text;
    PillStyle style = PillStyle::off;
    bool dimmed = false;

    bool operator==(const Pill&) const = default;
};

/// What decides an app's pill, gathered from the model.
struct PillFacts {
    RuleMode mode = RuleMode::off;
    /// The key names a command-line group ("cli:").
    bool commandLine = false;
    bool masterEnabled = false;
    bool autoEnabled = false;
    /// The limit Automatic mode imposes on the app right now.
    std::optional<Rule> autoLimit;
    /// The stored rule's method name and cap (used in custom mode).
    std::string customMethod = "smart";
    double customCap = 4.0;
    /// The limiter's live pause state, when the app is held.
    std::optional<PauseState> livePause;
};

Pill pill(const PillFacts& facts);

/// The pill of an app key as the model sees it now.
Pill pill(const AppModel& model, const std::string& path);

}  // namespace trevlin
