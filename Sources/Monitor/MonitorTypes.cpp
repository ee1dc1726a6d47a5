#include "MonitorTypes.h"

namespace trevlin {

const char* rawValue(AppKind kind) { return kind == AppKind::commandLine ? "commandLine" : "app"; }

}  // namespace trevlin
