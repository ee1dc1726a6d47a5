// The rules file as the root helper reads it. The first byte picks the
// machine's core count; the rest is the file. Every cap the helper takes must
// lie between the least it allows and the machine's cores, and what it took
// must write and read back the same.
#include "FuzzSupport.h"
#include "HelperRules.h"

#include <algorithm>
#include <cmath>

using namespace trevlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int cores = 1 + data[0] % 128;
    const auto rules = HelperRules::parse(fuzz::text(data + 1, size - 1), cores);
    const double most = std::max(1.0, static_cast<double>(cores));
    for (const auto& [group, rule] : rules) {
        fuzz::check(std::isfinite(rule.cores), "a cap that is not finite");
        fuzz::check(rule.cores >= HelperRules::minCores && rule.cores <= most, "a cap out of range");
    }
    if (rules.empty()) return 0;
    const std::string written = HelperRules::encode(rules);
    fuzz::check(!written.empty(), "rules that do not write");
    fuzz::check(HelperRules::parse(written, cores) == rules, "rules changed in a round trip");
    return 0;
}
