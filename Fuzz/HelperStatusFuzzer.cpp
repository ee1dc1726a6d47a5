// The status file the root helper writes and the app reads.
#include "FuzzSupport.h"
#include "HelperClient.h"

using namespace trevlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto status = HelperClient::decodeStatus(fuzz::text(data, size));
    if (!status) return 0;
    // Judging it must not fail whatever the times say.
    (void)HelperClient::state(status, true, 0);
    (void)HelperClient::state(status, true, 1e18);
    return 0;
}
