#include "PowerAssertions.h"

namespace trevlin::PowerAssertions {

const std::set<std::string>& awakeTypes() {
    static const std::set<std::string> types = {
        "PreventUserIdleSystemSleep", "PreventSystemSleep", "NoIdleSleepAssertion",
        "PreventUserIdleDisplaySleep", "NoDisplaySleepAssertion"};
    return types;
}

std::optional<std::string> busyReason(Platform& platform, const std::set<Pid>& appPids) {
    auto list = platform.powerAssertions();
    if (!list) return std::nullopt;
    bool awake = false;
    const std::string audio = PowerAssertion::audioPrefix;
    for (const auto& a : *list) {
        if (!awakeTypes().count(a.type)) continue;
        if (a.level && *a.level == 0) continue;
        bool byHolder = appPids.count(a.holder) != 0;
        bool onBehalf = a.onBehalfOf > 0 && appPids.count(a.onBehalfOf) != 0;
        if (!byHolder && !onBehalf) continue;
        if (!byHolder && onBehalf && a.name.compare(0, audio.size(), audio) == 0) return std::string("playing audio");
        awake = true;
    }
    if (awake) return std::string("keeping the Mac awake");
    return std::nullopt;
}

}  // namespace trevlin::PowerAssertions
