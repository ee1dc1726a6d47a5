#include "Utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace trevlin {

std::string sanitizeUtf8(const std::string& in) {
    std::string out;
    out.reserve(in.size());
    const auto* s = reinterpret_cast<const unsigned char*>(in.data());
    size_t n = in.size(), i = 0;
    static const char repl[] = "\xEF\xBF\xBD";
    while (i < n) {
        unsigned char c = s[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        size_t len = 0;
        uint32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
        else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
        else { out += repl; ++i; continue; }
        size_t j = 1;
        for (; j < len && i + j < n; ++j) {
            if ((s[i + j] & 0xC0) != 0x80) break;
            cp = (cp << 6) | (s[i + j] & 0x3F);
        }
        bool ok = j == len;
        if (ok) {
            if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
                ok = false;
        }
        if (!ok) {
            out += repl;
            i += std::max<size_t>(1, j);
            continue;
        }
        out.append(in, i, len);
        i += len;
    }
    return out;
}

std::string escapeControls(const std::string& in) {
    std::string out;
    out.reserve(in.size());
    const auto* s = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    char buf[8];
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = s[i];
        if (c == '\n') { out += "\\n"; continue; }
        if (c == '\t') { out += "\\t"; continue; }
        if (c == '\r') { out += "\\r"; continue; }
        if (c < 0x20 || c == 0x7F) {
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
            continue;
        }
        // U+0080..U+009F: 0xC2 0x80..0x9F.
        if (c == 0xC2 && i + 1 < n && s[i + 1] >= 0x80 && s[i + 1] <= 0x9F) {
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(s[i + 1]));
            out += buf;
            ++i;
            continue;
        }
        // U+2028 and U+2029: 0xE2 0x80 0xA8..0xA9.
        if (c == 0xE2 && i + 2 < n && s[i + 1] == 0x80 && (s[i + 2] == 0xA8 || s[i + 2] == 0xA9)) {
            out += s[i + 2] == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
            continue;
        }
        out.push_back(static_cast<char>(c));
    }
    return out;
}

}  // namespace trevlin
