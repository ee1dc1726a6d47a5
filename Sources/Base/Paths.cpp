#include "Paths.h"

namespace trevlin {

std::string lastPathComponent(const std::string& path) {
    std::string s = path;
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    auto pos = s.rfind('/');
    if (pos == std::string::npos) return s;
    if (s.size() == 1) return s;
    return s.substr(pos + 1);
}

std::string deletingPathExtension(const std::string& name) {
    auto pos = name.rfind('.');
    if (pos == std::string::npos || pos == 0) return name;
    return name.substr(0, pos);
}

}  // namespace trevlin
