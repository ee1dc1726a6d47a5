// Everything the app and the privileged helper share: the groups, the allow
// list and scanner, the rules and status files and where they live.
#pragma once

#include "AllowList.h"
#include "HelperClient.h"
#include "HelperEnvironment.h"
#include "HelperGroup.h"
#include "HelperRules.h"
