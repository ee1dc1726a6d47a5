// One line per event. `logSystem` goes to the system log and, through
// LOG_PERROR, to standard error as well (settings, savings, Automatic mode);
// `logStderr` writes to standard error only (journal, render mode, debug).
#pragma once

#include <string>

namespace trevlin {

void logSystem(const std::string& line);
void logStderr(const std::string& line);

}  // namespace trevlin
