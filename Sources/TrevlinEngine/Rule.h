// How one app or command-line group is held back, in the small value form
// the engine enforces.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace trevlin {

enum class Method { smart, ecores, strict, pause };

inline constexpr std::array<Method, 4> kAllMethods{Method::smart, Method::ecores, Method::strict, Method::pause};

enum class PauseState { none, inFront, paused, catchUp, spared };

inline const char* rawValue(Method method) {
    switch (method) {
        case Method::smart: return "smart";
        case Method::ecores: return "ecores";
        case Method::strict: return "strict";
        case Method::pause: return "pause";
    }
    return "smart";
}

inline const char* rawValue(PauseState state) {
    switch (state) {
        case PauseState::none: return "none";
        case PauseState::inFront: return "inFront";
        case PauseState::paused: return "paused";
        case PauseState::catchUp: return "catchUp";
        case PauseState::spared: return "spared";
    }
    return "none";
}

/// The method whose raw string is exactly `raw` (case-sensitive), else absent.
inline std::optional<Method> methodFromRaw(std::string_view raw) {
    for (Method m : kAllMethods)
        if (raw == rawValue(m)) return m;
    return std::nullopt;
}

inline std::optional<PauseState> pauseStateFromRaw(std::string_view raw) {
    for (PauseState s : {PauseState::none, PauseState::inFront, PauseState::paused, PauseState::catchUp,
                         PauseState::spared})
        if (raw == rawValue(s)) return s;
    return std::nullopt;
}

struct Rule {
    /// Core cap; ignored by `pause`.
    double maxCores;
    Method method;
    /// Keep every touchable process on the efficiency cores (not with `pause`).
    bool alwaysEfficiency;
    /// `pause` only: short catch-up windows while held.
    bool pauseCatchUp;
    /// `pause` only: do not hold the app while it plays audio or keeps the machine awake.
    bool pauseSparesBusy;

    Rule(double maxCores, Method method, bool alwaysEfficiency, bool pauseCatchUp, bool pauseSparesBusy)
        : maxCores(maxCores),
          method(method),
          alwaysEfficiency(alwaysEfficiency),
          pauseCatchUp(pauseCatchUp),
          pauseSparesBusy(pauseSparesBusy) {}

    bool operator==(const Rule&) const = default;
};

}  // namespace trevlin
