#include "Version.h"

// The version is given by the build for this file alone, the build number
// by a header the build writes when it changes: a new number recompiles
// this one file.
#include "BuildNumber.h"

#ifndef TREVLIN_VERSION
#define TREVLIN_VERSION ""
#endif

namespace trevlin::Version {

std::string shortVersion() { return TREVLIN_VERSION; }

std::string buildNumber() { return TREVLIN_BUILD_NUMBER; }

}  // namespace trevlin::Version
