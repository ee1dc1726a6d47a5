#include "BundlePaths.h"

#include "Platform.h"

namespace trevlin {

std::optional<std::string> enclosingBundle(const std::string& path) {
    const std::string marker = kBundleMarker;
    auto pos = path.find(marker + "/");
    if (pos == std::string::npos) return std::nullopt;
    return path.substr(0, pos) + marker;
}

std::string topBundle(const std::string& bundlePath) {
    // Any "<marker>/" lies before the last path component, since the path
    // itself ends in the marker; searching the whole path also catches a
    // bundle placed directly inside another ("/opt/A.desktop/B.desktop").
    if (auto outer = enclosingBundle(bundlePath)) return *outer;
    return bundlePath;
}

bool isBundlePath(const std::string& path) {
    const std::string marker = kBundleMarker;
    return path.size() > marker.size() && path.compare(path.size() - marker.size(), marker.size(), marker) == 0;
}

}  // namespace trevlin
