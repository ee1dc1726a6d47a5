#include "LimiterStatus.h"

namespace trevlin {

LimiterStatus LimiterStatus::initial(const std::string& name, const std::string& path, double maxCores,
                                     Method method) {
    LimiterStatus s;
    s.appName = name;
    s.appPath = path;
    s.maxCores = maxCores;
    s.method = method;
    s.allowedRunFraction = 1.0;
    return s;
}

}  // namespace trevlin
