// savings.json as found on disk.
#include "FuzzSupport.h"
#include "SavingsLedger.h"

#include <cmath>

using namespace trevlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto days = SavingsLedger::decode(fuzz::text(data, size));
    if (!days) return 0;
    for (const auto& [key, day] : *days) {
        fuzz::check(std::isfinite(day.total), "a day total that is not finite");
        for (const auto& [app, seconds] : day.apps) fuzz::check(std::isfinite(seconds), "an app total that is not finite");
    }
    return 0;
}
