#include "AppsTexts.h"

#include <cstdio>

namespace trevlin::ui {

std::optional<std::string> savedFigure(double cores, const char* suffix) {
    // The boundary is compared as shown, so 0.005 (stored as 0.00499…) reads
    // "0.01" rather than "-".
    if (cores < 0.005 - 1e-9) return std::nullopt;
    char text[64];
    std::snprintf(text, sizeof text, "%.2f%s", cores, suffix);
    return std::string(text);
}

std::string systemStatusLine(SystemState state) {
    if (state == SystemState::failed) return "Couldn't read the system's processes; showing the total only.";
    return "Measuring system processes… the first figures appear after about 5 seconds.";
}

}  // namespace trevlin::ui
