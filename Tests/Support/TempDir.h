// A temporary folder for one test, removed with everything in it at the end.
#pragma once

#include <string>

namespace trevlin::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    /// Writes `content` to `relative` under the folder, creating parent folders.
    std::string write(const std::string& relative, const std::string& content) const;
    /// Creates `relative` (and its parents) under the folder.
    std::string mkdir(const std::string& relative) const;

private:
    std::string path_;
};

}  // namespace trevlin::test
