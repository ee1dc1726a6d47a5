#include "Pill.h"

#include "AppKey.h"
#include "AppModel.h"

#include <cstdio>

namespace trevlin {

namespace {

std::string capText(double cores) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", cores);
    return text;
}

bool pausedNow(const std::optional<PauseState>& state) {
    return state && (*state == PauseState::paused || *state == PauseState::catchUp);
}

}  // namespace

Pill pill(const PillFacts& f) {
    Pill p;
    switch (f.mode) {
    case RuleMode::off:
        // Nothing it depends on can be switched off: never dimmed.
        return Pill{"off", PillStyle::off, false};
    case RuleMode::automatic:
        p.dimmed = !f.masterEnabled || !f.autoEnabled;
        if (p.dimmed || !f.autoLimit) {
            p.text = "auto";
            p.style = PillStyle::automatic;
        } else if (f.autoLimit->method == Method::pause) {
            if (pausedNow(f.livePause)) {
                p.text = "paused";
                p.style = PillStyle::paused;
            } else {
                p.text = "auto · pause in bg";
                p.style = PillStyle::automatic;
            }
        } else {
            p.text = "auto · max " + capText(f.autoLimit->maxCores);
            p.style = PillStyle::limited;
        }
        return p;
    case RuleMode::custom:
        p.dimmed = !f.masterEnabled;
        // A command-line group has no front to leave: its pause rule runs as
        // a cap, and its pill says so.
        if (f.customMethod == "pause" && !f.commandLine) {
            if (pausedNow(f.livePause)) {
                p.text = "paused";
                p.style = PillStyle::paused;
            } else {
                p.text = "pause in bg";
                p.style = PillStyle::off;
            }
        } else {
            p.text = "max " + capText(f.customCap);
            p.style = PillStyle::limited;
        }
        return p;
    }
    return p;
}

Pill pill(const AppModel& model, const std::string& path) {
    PillFacts f;
    f.mode = model.effectiveMode(path);
    f.commandLine = AppKey::isGroupKey(path);
    f.masterEnabled = model.settings().masterEnabled;
    f.autoEnabled = model.settings().autoEnabled;
    auto limit = model.autoLimits().find(path);
    if (limit != model.autoLimits().end()) f.autoLimit = limit->second;
    StoredRule stored = model.rule(path);
    f.customMethod = stored.method;
    f.customCap = stored.maxCores;
    if (auto status = model.liveStatus(path)) f.livePause = status->pauseState;
    return pill(f);
}

}  // namespace trevlin
