#include "HelperClient.h"

#include "Files.h"

#include <unistd.h>

#include <nlohmann/json.hpp>

#include <climits>
#include <cmath>
#include <system_error>

namespace trevlin {

using nlohmann::json;

const char* rawValue(HelperState state) {
    switch (state) {
        case HelperState::notInstalled: return "notInstalled";
        case HelperState::running: return "running";
        case HelperState::notResponding: return "notResponding";
    }
    return "notInstalled";
}

namespace HelperClient {

namespace {

bool getNumber(const json& obj, const char* key, double& out) {
    auto it = obj.find(key);
    if (it == obj.end() || !it->is_number()) return false;
    out = it->get<double>();
    return true;
}

bool getInt(const json& obj, const char* key, long long lo, long long hi, long long& out) {
    auto it = obj.find(key);
    if (it == obj.end() || !it->is_number()) return false;
    if (it->is_number_float()) {
        double d = it->get<double>();
        if (!std::isfinite(d) || d != std::trunc(d) || d < double(lo) || d > double(hi)) return false;
        out = static_cast<long long>(d);
        return true;
    }
    if (it->is_number_unsigned() && it->get<unsigned long long>() > static_cast<unsigned long long>(hi)) return false;
    long long v = it->get<long long>();
    if (v < lo || v > hi) return false;
    out = v;
    return true;
}

std::optional<HelperGroupStatus> decodeGroup(const json& v) {
    if (!v.is_object()) return std::nullopt;
    HelperGroupStatus g;
    long long count = 0;
    auto method = v.find("method");
    if (!getNumber(v, "cores", g.cores) || !getNumber(v, "cap", g.cap) || method == v.end() ||
        !method->is_string() || !getNumber(v, "savedCores", g.savedCores) ||
        !getInt(v, "processCount", INT_MIN, INT_MAX, count) || !getNumber(v, "updated", g.updated))
        return std::nullopt;
    g.method = method->get<std::string>();
    g.processCount = static_cast<int>(count);
    return g;
}

}  // namespace

void writeRules(const HelperRules::RuleMap& rules, const std::string& path) {
    Files::Error error;
    if (!Files::writeAtomically(path, HelperRules::encode(rules), &error))
        throw std::system_error(error.code, std::generic_category());
}

std::optional<HelperStatusFile> decodeStatus(const std::string& bytes) {
    json root = json::parse(bytes, nullptr, false);
    if (root.is_discarded() || !root.is_object()) return std::nullopt;
    HelperStatusFile s;
    long long version = 0, pid = 0;
    if (!getInt(root, "version", LLONG_MIN, LLONG_MAX, version) || !getInt(root, "pid", INT32_MIN, INT32_MAX, pid) ||
        !getNumber(root, "updated", s.updated))
        return std::nullopt;
    auto groups = root.find("groups");
    if (groups == root.end() || !groups->is_object()) return std::nullopt;
    for (auto it = groups->begin(); it != groups->end(); ++it) {
        auto g = decodeGroup(it.value());
        if (!g) return std::nullopt;
        s.groups[it.key()] = *g;
    }
    s.version = static_cast<int>(version);
    s.pid = static_cast<pid_t>(pid);
    return s;
}

std::optional<HelperStatusFile> readStatus(const std::string& path) {
    auto bytes = Files::read(path, Files::ReadOptions{.maxBytes = maxStatusBytes});
    if (!bytes) return std::nullopt;
    return decodeStatus(*bytes);
}

HelperState state(const std::optional<HelperStatusFile>& status, bool binaryInstalled, double now) {
    if (!status) return binaryInstalled ? HelperState::notResponding : HelperState::notInstalled;
    // A file dated in the future counts as fresh.
    return now - status->updated < staleSeconds ? HelperState::running : HelperState::notResponding;
}

bool binaryInstalled(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

}  // namespace HelperClient

}  // namespace trevlin
