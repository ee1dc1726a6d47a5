#include "HelperRules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cerrno>
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
    // O_NONBLOCK keeps a FIFO planted at the path from blocking the open; the
    // regular-file check below then turns it away.
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<size_t>(st.st_size) > maxFileBytes) {
        ::close(fd);
        return std::nullopt;
    }
    std::string out(static_cast<size_t>(st.st_size), '\0');
    size_t got = 0;
    while (got < out.size()) {
        ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    out.resize(got);
    return out;
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
