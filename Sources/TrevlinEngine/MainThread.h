// The engine has no event loop of its own. Where it must run something on
// the program's main thread (front-app observers), it posts the work through
// this hook, which the app installs at start (Qt's event loop) and tests and
// command-line tools install themselves. Without a hook, work runs at once on
// the calling thread.
#pragma once

#include <functional>

namespace trevlin {

using MainThreadHook = std::function<void(std::function<void()>)>;

void setMainThreadHook(MainThreadHook hook);
/// Runs `work` on the main thread through the hook (asynchronously when the
/// hook queues it).
void runOnMainThread(std::function<void()> work);

}  // namespace trevlin
