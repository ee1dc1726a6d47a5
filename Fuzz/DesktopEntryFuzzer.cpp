// A .desktop file: the name it gives reaches JSON files and the interface.
// The icon is kept byte for byte: it may be a file path, and Linux paths need
// not be UTF-8.
#include "DesktopEntries.h"
#include "FuzzSupport.h"

using namespace trevlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<std::string> locales{"de_DE", "de"};
    auto entry = linux::parseDesktopEntry(fuzz::text(data, size), locales);
    fuzz::check(fuzz::isValidUtf8(entry.name), "a name that is not UTF-8");
    return 0;
}
