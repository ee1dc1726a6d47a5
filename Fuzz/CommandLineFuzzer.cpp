// A process's executable path and argument area, turned into the one line of
// text shown and stored: valid UTF-8 with no NUL in it. The input is the path,
// a NUL, then the argument area.
#include "FuzzSupport.h"
#include "LinuxProc.h"
#include "Utf8.h"

using namespace trevlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = fuzz::text(data, size);
    const auto nul = text.find('\0');
    const std::string exe = nul == std::string::npos ? text : text.substr(0, nul);
    const std::string args = nul == std::string::npos ? "" : text.substr(nul + 1);
    const std::string line = linux::commandLineText(exe, args);
    fuzz::check(fuzz::isValidUtf8(line), "a command line that is not UTF-8");
    fuzz::check(line.find('\0') == std::string::npos, "a NUL in a command line");
    const std::string clean = sanitizeUtf8(text);
    fuzz::check(fuzz::isValidUtf8(clean), "sanitised text that is not UTF-8");
    fuzz::check(sanitizeUtf8(clean) == clean, "sanitising twice changed the text");
    return 0;
}
