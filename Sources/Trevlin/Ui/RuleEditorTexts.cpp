#include "RuleEditorTexts.h"

#include "AppKey.h"

#include <cstdio>

namespace trevlin::ui {

namespace {

std::string format(const char* pattern, double value) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

StatusBlock block(std::string title, bool savedTone = false, std::string detail = {}) {
    StatusBlock b;
    b.title = std::move(title);
    b.savedTone = savedTone;
    b.detail = std::move(detail);
    return b;
}

}  // namespace

std::string groupHeaderLine(const std::string& detail) {
    return detail.empty() ? "Command line" : "Command line · " + detail;
}

std::string groupHeaderNote(const std::string& name) {
    return "A rule here limits the programs " + name + " started. " + name + " itself is never paused or slowed.";
}

std::string modeText(RuleMode mode, const std::string& name, bool group, const AppSettings& settings) {
    switch (mode) {
    case RuleMode::off:
        return name + " is not limited.";
    case RuleMode::custom:
        return {};
    case RuleMode::automatic:
        break;
    }
    if (group && !settings.autoIncludeCommandLine)
        return "Automatic leaves command-line work alone unless \"Include command-line work\" is on in the "
               "Automatic page, so " +
               name + " is not limited.";
    if (!settings.autoEnabled)
        return "Automatic mode is switched off, so " + name + " is not limited. Turn it on in the Automatic page.";
    // A group has no front app to let go for, so Automatic only ever slows it.
    if (settings.autoAction == "pause" && !group)
        return "Automatic pauses " + name +
               " while it is busy in the background, and lets go when you switch to it. See the Automatic page.";
    return "Automatic limits " + name + " to " + format("%g", settings.autoLimitCores) +
           " core(s) when it is busy in the background, and lets go when you switch to it. See the Automatic page.";
}

StoredRule withMode(StoredRule rule, RuleMode mode, int logicalCores) {
    rule.mode = mode;
    if (mode == RuleMode::custom && rule.maxCores > logicalCores) rule.maxCores = logicalCores;
    return rule;
}

MethodWording methodWording(Method method, bool group) {
    switch (method) {
    case Method::smart:
        return group ? MethodWording{"Pause busy programs",
                                     "Briefly pause the busy programs it started, so they share the cap."}
                     : MethodWording{"Spare what I'm using",
                                     "Briefly pause background tabs and windows. The one in front is left alone."};
    case Method::strict:
        return group ? MethodWording{"Strict", "Hold the cap on every busy program it started."}
                     : MethodWording{"Strict", "Hold the cap even on what's in front. It may stutter."};
    case Method::ecores:
        return {"Move to efficiency cores", "Nothing is paused. The heaviest parts run slower until usage drops."};
    case Method::pause:
        if (group)
            return {"Pause while in background",
                    "Not available here: a command-line group has no front app, so it would stay paused for good.",
                    false};
        return {"Pause while in background",
                "Freeze it completely whenever it isn't in front. No core limit applies."};
    }
    return {};
}

std::string capFigure(double maxCores) { return format("%.1f", maxCores); }

static StatusBlock limiterBlock(const LimiterStatus& s);

StatusBlock statusBlock(const std::optional<LimiterStatus>& status, bool masterEnabled) {
    if (!status) {
        if (!masterEnabled)
            return block("Limiting is switched off in the menu bar panel. This rule will apply when you turn it on.");
        return block("Waiting for the limiter…");
    }
    StatusBlock result = limiterBlock(*status);
    if (status->stoppedByUserCount > 0) {
        const std::string stops = std::to_string(status->stoppedByUserCount) + " process(es) stopped by you";
        result.detail = result.detail.empty() ? stops : result.detail + " · " + stops;
    }
    // Why nothing new is held outweighs any other note.
    if (!status->notHolding.empty()) result.note = status->notHolding;
    return result;
}

static StatusBlock limiterBlock(const LimiterStatus& s) {
    if (s.method == Method::pause) {
        switch (s.pauseState) {
        case PauseState::paused: {
            std::string detail = std::to_string(s.pausedProcessCount) + " process(es) stopped";
            if (s.savedCores > 0.005) detail += format(" · saving ~%.2f cores (est.)", s.savedCores);
            return block("Paused in background", true, detail);
        }
        case PauseState::catchUp:
            return block("Catching up", false, "Running for a few seconds, then paused again.");
        case PauseState::spared:
            // Where the front app is unknown, "in background" is not known either.
            return block(s.pauseFrontUnknown ? "Not paused" : "In background, not paused", false,
                         "It is " + s.pauseDetail + ".");
        default:
            return block("In front, running", false, "It will be paused when you switch to another app.");
        }
    }
    char title[96];
    std::snprintf(title, sizeof title, "Using %.2f of %.1f cores", s.currentCores, s.maxCores);
    StatusBlock result = block(title);
    if (s.isThrottling) {
        if (s.demotedProcessCount == 0 || s.pausedProcessCount > 0)
            result.detail = "Holding " + std::to_string(s.pausedProcessCount) + " busy process(es)";
        else
            result.detail = std::to_string(s.demotedProcessCount) + " process(es) on efficiency cores";
    }
    if (!s.note.empty()) {
        result.note = s.note;
        // Notes are written in lower case for the middle of a sentence.
        if (result.note[0] >= 'a' && result.note[0] <= 'z')
            result.note[0] = static_cast<char>(result.note[0] - 'a' + 'A');
    }
    return result;
}

}  // namespace trevlin::ui
