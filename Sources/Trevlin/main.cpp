// Entry point. For now Trevlin reports the machine it runs on; the app model
// and interface build on the engine below.
#include "SystemInfo.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--render") == 0) {
            if (i + 1 >= argc) {
                std::fputs("usage: Trevlin --render <dir>\n", stderr);
                return 2;
            }
            std::fputs("Trevlin: render mode is not available yet\n", stderr);
            return 1;
        }
    }
    const auto& info = trevlin::SystemInfo::current();
    std::printf("%s: %d logical cores (%d performance, %d efficiency)\n", info.chipName.c_str(), info.logicalCores,
                info.performanceCores, info.efficiencyCores);
    return 0;
}
