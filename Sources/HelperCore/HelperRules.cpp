#include "HelperRules.h"

#include "Files.h"

#include <nlohmann/json.hpp>

#include <cmath>

namespace trevlin::HelperRules {

using nlohmann::json;

std::string encode(const RuleMap& rules) {
    try {
        json root = json::object();
        root["version"] = 1;
        for (const auto& [group, rule] : rules)
            root[id(group)] = json{{"cores", rule.cores}, {"method", rawValue(rule.method)}};
        return root.dump(2) + "\n";
    } catch (const std::exception&) {
        return {};
    }
}

std::optional<std::string> read(const std::string& path) {
    // The helper reads this as root from a folder the app writes: a link
    // there must not lead it to another file, and nothing but a small
    // regular file is read.
    return Files::read(path, Files::ReadOptions{.maxBytes = maxFileBytes, .noFollow = true});
}

RuleMap parse(const std::string& data, int logicalCores) {
    RuleMap rules;
    if (data.size() > maxFileBytes) return rules;
    json root = json::parse(data, nullptr, false);
    if (root.is_discarded() || !root.is_object()) return rules;
    for (HelperGroup group : kAllHelperGroups) {
        auto entry = root.find(id(group));
        if (entry == root.end() || !entry->is_object()) continue;
        auto method = entry->find("method");
        auto cores = entry->find("cores");
        if (method == entry->end() || !method->is_string()) continue;
        auto m = helperMethodFromRaw(method->get<std::string>());
        if (!m) continue;
        if (cores == entry->end() || !cores->is_number()) continue;  // booleans are not numbers here
        double c = cores->get<double>();
        if (!std::isfinite(c)) continue;
        if (c < minCores) c = minCores;
        if (logicalCores < 2) {
            if (c > 1.0) c = 1.0;
        } else if (c > logicalCores) {
            c = logicalCores;
        }
        rules[group] = HelperRule{c, *m};
    }
    return rules;
}

}  // namespace trevlin::HelperRules
