// Path spelling helpers shared by every layer.
#pragma once

#include <string>

namespace trevlin {

/// Last path component of `path` ("" for "").
std::string lastPathComponent(const std::string& path);
/// `name` without its final extension ("Example.desktop" → "Example").
std::string deletingPathExtension(const std::string& name);

}  // namespace trevlin
