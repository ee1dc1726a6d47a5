// The pages of the main window in sidebar order, with their titles and
// sidebar symbols. A title is also the page's name where one is asked for by
// name (TREVLIN_OPEN_WINDOW), matched ignoring case.
#pragma once

#include "AppModel.h"

#include <array>
#include <optional>
#include <string_view>

namespace trevlin {

inline constexpr std::array<Section, 4> kAllSections = {Section::overview, Section::apps, Section::automatic,
                                                         Section::settings};

const char* sectionTitle(Section section);
/// The name of the symbol drawn beside the title in the sidebar.
const char* sectionSymbol(Section section);
/// The section whose title equals `title` ignoring case; absent for any other text.
std::optional<Section> sectionFromTitle(std::string_view title);

}  // namespace trevlin
