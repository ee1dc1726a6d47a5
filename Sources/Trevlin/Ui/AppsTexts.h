// The Apps page's figures and status line, apart from any widget.
#pragma once

#include "SystemProcessesModel.h"

#include <optional>
#include <string>

namespace trevlin::ui {

/// Saved cores as "%.2f" (with `suffix`), or absent below 0.005 where the
/// page shows "-".
std::optional<std::string> savedFigure(double cores, const char* suffix = "");

/// The line shown while the system process list is still empty.
std::string systemStatusLine(SystemState state);

}  // namespace trevlin::ui
