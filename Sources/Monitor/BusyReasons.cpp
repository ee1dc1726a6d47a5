#include "BusyReasons.h"

namespace trevlin::BusyReasons {

std::string text(BusyReason reason) {
    switch (reason) {
        case BusyReason::playingAudio: return "playing audio";
        case BusyReason::keepingAwake: return "keeping the computer awake";
    }
    return "";
}

std::optional<std::string> ask(Platform& platform, const std::set<Pid>& appPids) {
    if (auto reason = platform.busyReason(appPids)) return text(*reason);
    return std::nullopt;
}

}  // namespace trevlin::BusyReasons
