// Writing the status file the app reads (`HelperClient::readStatus`):
// "version", "pid", "updated" and one entry per group in force.
#pragma once

#include "HelperClient.h"

#include <string>

namespace trevlin::helper {

inline constexpr int kStatusVersion = 1;

/// The bytes of the status file, indented with sorted keys.
std::string encodeStatus(const HelperStatusFile& status);

/// Replaces the file at `path` in one step, readable by everyone (the app
/// runs as an ordinary user). False with `error` set when that fails.
bool writeStatus(const std::string& path, const HelperStatusFile& status, std::string* error);

}  // namespace trevlin::helper
