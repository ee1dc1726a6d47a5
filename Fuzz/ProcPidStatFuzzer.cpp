// /proc/<pid>/stat: a command name may hold spaces, parentheses and newlines.
#include "FuzzSupport.h"
#include "LinuxProc.h"

using namespace trevlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto stat = linux::parseStat(fuzz::text(data, size));
    if (stat) (void)linux::priorityFor(stat->policy, stat->nice);
    return 0;
}
