// The helper's log: one line per event in the system log as
// "app.trevlin.helper[pid]", and on standard error too unless standard error
// already goes to the journal (as under systemd), where it would say
// everything twice.
#pragma once

#include <string>

namespace trevlin::helper {

void openLog();
void log(const std::string& line);

}  // namespace trevlin::helper
