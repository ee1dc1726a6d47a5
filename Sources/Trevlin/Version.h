// The program's version as the build knows it.
#pragma once

#include <string>

namespace trevlin::Version {

/// The project's version ("0.1.0"); empty when the build was given none.
std::string shortVersion();

/// The build number: the commit count of the git checkout when it was
/// built; empty outside a checkout.
std::string buildNumber();

}  // namespace trevlin::Version
