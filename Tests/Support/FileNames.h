// What a test left in a folder.
#pragma once

#include <string>
#include <vector>

namespace trevlin::test {

/// The names of the entries of `dir`, sorted.
std::vector<std::string> fileNames(const std::string& dir);

}  // namespace trevlin::test
