// Text from outside (process names, unit names, desktop entries, file keys)
// made safe for JSON and the interface.
#pragma once

#include <string>

namespace trevlin {

/// Replaces every invalid UTF-8 sequence with U+FFFD.
std::string sanitizeUtf8(const std::string& bytes);

/// The text as one printable line: control characters, which would break a
/// table row or draw over the next line, are shown escaped ("\n", "\t",
/// "\r", "\x1b"; C1 controls and the line and paragraph separators as
/// "\u0085"). Everything else, invalid UTF-8 included, is left as it is.
std::string escapeControls(const std::string& text);

}  // namespace trevlin
