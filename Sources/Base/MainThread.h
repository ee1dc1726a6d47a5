// The engine has no event loop of its own. Where it must run something on
// the program's main thread (front-app observers), it posts the work through
// a hook that whoever builds the engine's context supplies: the app passes
// Qt's event loop, trevlinctl its own queue. An empty hook runs the work at
// once on the calling thread.
#pragma once

#include <functional>

namespace trevlin {

using MainThreadHook = std::function<void(std::function<void()>)>;

}  // namespace trevlin
