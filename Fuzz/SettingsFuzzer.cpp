// settings.json as found on disk: whatever decodes must write back and read
// again as the same settings.
#include "FuzzSupport.h"
#include "Settings.h"

using namespace trevlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto decoded = SettingsStore::decode(fuzz::text(data, size));
    if (!decoded) return 0;
    const std::string written = SettingsStore::encode(*decoded);
    fuzz::check(fuzz::isValidUtf8(written), "settings written as invalid UTF-8");
    auto again = SettingsStore::decode(written);
    fuzz::check(again.has_value(), "written settings do not decode");
    fuzz::check(*again == *decoded, "settings changed in a round trip");
    return 0;
}
