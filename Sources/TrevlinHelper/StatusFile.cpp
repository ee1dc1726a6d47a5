#include "StatusFile.h"

#include "Files.h"

#include <nlohmann/json.hpp>

namespace trevlin::helper {

using nlohmann::json;

std::string encodeStatus(const HelperStatusFile& status) {
    json groups = json::object();
    for (const auto& [id, g] : status.groups) {
        groups[id] = json{{"cores", g.cores},         {"cap", g.cap},
                          {"method", g.method},       {"savedCores", g.savedCores},
                          {"processCount", g.processCount}, {"updated", g.updated}};
    }
    json root{{"version", status.version}, {"pid", status.pid}, {"updated", status.updated}, {"groups", groups}};
    return root.dump(2) + "\n";
}

bool writeStatus(const std::string& path, const HelperStatusFile& status, std::string* error) {
    return Files::writeAtomically(path, encodeStatus(status), error);
}

}  // namespace trevlin::helper
