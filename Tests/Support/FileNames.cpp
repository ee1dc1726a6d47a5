#include "FileNames.h"

#include <algorithm>
#include <filesystem>

namespace trevlin::test {

std::vector<std::string> fileNames(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace trevlin::test
