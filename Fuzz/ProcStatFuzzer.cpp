// /proc/stat (per-core ticks and the boot time) and the cpulists of
// /sys/devices/system/cpu.
#include "FuzzSupport.h"
#include "LinuxProc.h"

using namespace trevlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = fuzz::text(data, size);
    (void)linux::parseCoreTicks(text);
    (void)linux::parseBootTime(text);
    for (int core : linux::parseCpuList(text))
        fuzz::check(core >= 0 && core < 65536, "a core number out of range");
    return 0;
}
