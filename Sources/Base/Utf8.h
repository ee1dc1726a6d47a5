// Text from outside (process names, unit names, desktop entries, file keys)
// made safe for JSON and the interface.
#pragma once

#include <string>

namespace trevlin {

/// Replaces every invalid UTF-8 sequence with U+FFFD.
std::string sanitizeUtf8(const std::string& bytes);

}  // namespace trevlin
