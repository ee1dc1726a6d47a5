// /proc/<pid>/cgroup: the app unit a process runs in.
#include "FuzzSupport.h"
#include "LinuxProc.h"

using namespace trevlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = fuzz::text(data, size);
    if (auto unit = linux::parseAppUnit(text)) {
        fuzz::check(!unit->applicationId.empty(), "an app unit without an id");
        fuzz::check(text.find(unit->cgroupPath) != std::string::npos, "a unit path that is not in the file");
    }
    if (auto id = linux::applicationIdOfUnit(text)) fuzz::check(!id->empty(), "an empty application id");
    return 0;
}
