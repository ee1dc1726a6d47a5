#include "HelperLog.h"

#include <syslog.h>

#include <cstdlib>

namespace trevlin::helper {

void openLog() {
    // systemd sets JOURNAL_STREAM when standard error is connected to the journal.
    const bool stderrIsJournal = std::getenv("JOURNAL_STREAM") != nullptr;
    ::openlog("app.trevlin.helper", LOG_PID | (stderrIsJournal ? 0 : LOG_PERROR), LOG_DAEMON);
}

void log(const std::string& line) { ::syslog(LOG_NOTICE, "%s", line.c_str()); }

}  // namespace trevlin::helper
