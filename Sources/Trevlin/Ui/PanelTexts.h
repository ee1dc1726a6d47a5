// The texts of the tray item and its panel, decided from the model's values
// alone so they can be checked without a widget.
#pragma once

#include "SavingsLedger.h"

#include <optional>
#include <string>

namespace trevlin::ui::PanelTexts {

/// What limiting does right now, under the panel's title.
std::string limitingSummary(bool masterEnabled, bool autoEnabled);

/// "Indexer is using 3.2 cores".
std::string questionHeadline(const std::string& name, double cores);
/// "Over 2 cores in the background for 12 s."
std::string questionDetail(double triggerCores, double overSeconds);
/// The first answer's title: "Pause" where Automatic mode pauses (never a
/// command-line group), else "Limit".
std::string limitAnswerTitle(const std::string& autoAction, const std::string& path);

/// The load block's figure ("%.1f") and the words after it.
std::string loadFigure(double totalCores);
std::string loadCaption(int coreCount);
/// The savings line, when today's saving is worth showing.
std::optional<std::string> savingsLine(const SavingsSummary& savings);
inline constexpr const char* kSavingsTooltip = "Estimated: what limited apps would have used minus what they used.";

/// An app row's use, "%.2f".
std::string appCores(double cores);
std::string editRuleTooltip(const std::string& name);

/// The figure drawn into the tray icon: the menu bar text, without its
/// decimal once it has three digits before it (it must fit a small square).
std::string trayFigure(const std::string& labelText);
/// The tray icon's tooltip: the figure in words.
std::string trayTooltip(const std::string& labelText);

}  // namespace trevlin::ui::PanelTexts
