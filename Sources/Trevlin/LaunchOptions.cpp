#include "LaunchOptions.h"

#include "AppModel.h"

#include <QTimer>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace trevlin::LaunchOptions {

std::optional<RenderRequest> renderRequest(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--render") != 0) continue;
        if (i + 1 >= argc) return RenderRequest{};
        return RenderRequest{std::string(argv[i + 1])};
    }
    return std::nullopt;
}

std::optional<OpenWindow> openWindow(const char* sections, const char* behind, const char* seconds) {
    if (!sections) return std::nullopt;
    OpenWindow out;
    const std::string value = sections;
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find(',', start);
        if (end == std::string::npos) end = value.size();
        if (auto s = sectionFromTitle(std::string_view(value).substr(start, end - start))) out.sections.push_back(*s);
        start = end + 1;
    }
    if (out.sections.empty()) return std::nullopt;
    out.behind = behind != nullptr;
    if (seconds && *seconds) {
        // The whole text must be a number; anything else means the default.
        char* end = nullptr;
        const double v = std::strtod(seconds, &end);
        if (end != seconds && *end == '\0' && std::isfinite(v) && v >= 0) out.seconds = v;
    }
    return out;
}

void openWindowsAtLaunch(AppModel& model, const std::optional<OpenWindow>& request,
                         const std::function<void(bool behind)>& show) {
    if (!request) {
        model.showWelcomeIfFirstLaunch();
        return;
    }
    model.setSection(request->sections.front());
    if (show) show(request->behind);
    for (size_t k = 1; k < request->sections.size(); ++k) {
        const Section section = request->sections[k];
        const auto delay = static_cast<int>(std::lround(static_cast<double>(k) * request->seconds * 1000.0));
        QTimer::singleShot(delay, &model, [&model, section] { model.setSection(section); });
    }
}

std::optional<OpenWindow> openWindowFromEnvironment() {
    return openWindow(std::getenv("TREVLIN_OPEN_WINDOW"), std::getenv("TREVLIN_OPEN_WINDOW_BEHIND"),
                      std::getenv("TREVLIN_OPEN_WINDOW_SECS"));
}

}  // namespace trevlin::LaunchOptions
