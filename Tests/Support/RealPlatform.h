// The real Linux platform, for tests of real processes that need no context
// of their own.
#pragma once

#include "LinuxPlatform.h"

namespace trevlin::test {

inline LinuxPlatform& realPlatform() {
    static LinuxPlatform* platform = new LinuxPlatform();  // lives for the whole test program
    return *platform;
}

}  // namespace trevlin::test
