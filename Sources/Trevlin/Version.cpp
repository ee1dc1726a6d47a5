#include "Version.h"

// Both are given by the build for this file alone, so a new build number
// recompiles one file.
#ifndef TREVLIN_VERSION
#define TREVLIN_VERSION ""
#endif
#ifndef TREVLIN_BUILD_NUMBER
#define TREVLIN_BUILD_NUMBER ""
#endif

namespace trevlin::Version {

std::string shortVersion() { return TREVLIN_VERSION; }

std::string buildNumber() { return TREVLIN_BUILD_NUMBER; }

}  // namespace trevlin::Version
