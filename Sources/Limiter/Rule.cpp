#include "Rule.h"

namespace trevlin {

const char* rawValue(Method m) {
    switch (m) {
        case Method::smart: return "smart";
        case Method::ecores: return "ecores";
        case Method::strict: return "strict";
        case Method::pause: return "pause";
    }
    return "smart";
}

std::optional<Method> methodFromRaw(const std::string& raw) {
    for (Method m : allMethods())
        if (raw == rawValue(m)) return m;
    return std::nullopt;
}

const std::vector<Method>& allMethods() {
    static const std::vector<Method> all = {Method::smart, Method::ecores, Method::strict, Method::pause};
    return all;
}

const char* rawValue(PauseState s) {
    switch (s) {
        case PauseState::none: return "none";
        case PauseState::inFront: return "inFront";
        case PauseState::paused: return "paused";
        case PauseState::catchUp: return "catchUp";
        case PauseState::spared: return "spared";
    }
    return "none";
}

std::optional<PauseState> pauseStateFromRaw(const std::string& raw) {
    for (PauseState s : {PauseState::none, PauseState::inFront, PauseState::paused, PauseState::catchUp,
                         PauseState::spared})
        if (raw == rawValue(s)) return s;
    return std::nullopt;
}

}  // namespace trevlin
