// /proc/<pid>/status: the real uid.
#include "FuzzSupport.h"
#include "LinuxProc.h"

#include <charconv>

using namespace trevlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = fuzz::text(data, size);
    auto uid = linux::parseRealUid(text);
    if (!uid) return 0;
    // The uid is the number written after "Uid:", never a number cut short.
    auto pos = text.find("\nUid:") + 5;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    uint64_t written = 0;
    std::from_chars(text.data() + pos, text.data() + text.size(), written);
    fuzz::check(written == *uid, "a uid that is not the one written");
    return 0;
}
