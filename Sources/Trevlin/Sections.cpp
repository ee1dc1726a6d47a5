#include "Sections.h"

#include <cctype>

namespace trevlin {

const char* sectionTitle(Section section) {
    switch (section) {
    case Section::overview: return "Overview";
    case Section::apps: return "Apps";
    case Section::automatic: return "Automatic";
    case Section::settings: return "Settings";
    }
    return "Overview";
}

const char* sectionSymbol(Section section) {
    switch (section) {
    case Section::overview: return "gauge.with.dots.needle.50percent";
    case Section::apps: return "square.grid.2x2";
    case Section::automatic: return "wand.and.stars";
    case Section::settings: return "gearshape";
    }
    return "gauge.with.dots.needle.50percent";
}

std::optional<Section> sectionFromTitle(std::string_view title) {
    for (Section s : kAllSections) {
        std::string_view candidate = sectionTitle(s);
        if (candidate.size() != title.size()) continue;
        bool same = true;
        for (size_t i = 0; i < title.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(title[i])) ==
                   std::tolower(static_cast<unsigned char>(candidate[i]));
        if (same) return s;
    }
    return std::nullopt;
}

}  // namespace trevlin
