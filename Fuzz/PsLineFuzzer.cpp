// One line of `ps` output, then the friendly name of its command.
#include "FuzzSupport.h"
#include "SystemProcesses.h"

#include <cmath>

using namespace trevlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line = fuzz::text(data, size);
    if (auto seconds = SystemProcessSampler::parseCPUTime(line))
        fuzz::check(std::isfinite(*seconds) && *seconds >= 0, "a CPU time that is negative or not finite");
    auto parsed = SystemProcessSampler::parse(line);
    if (!parsed) return 0;
    fuzz::check(std::isfinite(parsed->cpuSeconds) && parsed->cpuSeconds >= 0, "a line's CPU time out of range");
    auto friendly = SystemProcessNames::friendly(parsed->command);
    (void)friendly;
    return 0;
}
