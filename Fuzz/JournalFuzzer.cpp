// A journal file left by another instance.
#include "FuzzSupport.h"
#include "Journal.h"

using namespace trevlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto file = Journal::decode(fuzz::text(data, size));
    if (!file) return 0;
    // Recovery signals every pid listed: 0 or a negative one would reach a
    // whole process group or every process.
    for (const auto& e : file->entries) fuzz::check(e.pid > 0, "a pid that is not one process");
    return 0;
}
