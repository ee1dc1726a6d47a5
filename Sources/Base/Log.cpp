#include "Log.h"

#include <syslog.h>

#include <cstdio>
#include <mutex>

namespace trevlin {

void logSystem(const std::string& line) {
    static std::once_flag once;
    std::call_once(once, [] { ::openlog("Trevlin", LOG_PERROR | LOG_PID, LOG_USER); });
    ::syslog(LOG_NOTICE, "%s", line.c_str());
}

void logStderr(const std::string& line) {
    std::string l = line;
    l.push_back('\n');
    std::fwrite(l.data(), 1, l.size(), stderr);
    std::fflush(stderr);
}

}  // namespace trevlin
