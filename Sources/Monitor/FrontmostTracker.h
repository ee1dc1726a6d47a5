// Knows which app is in front and tells observers, on the main thread, the
// moment another app is activated or the desktop stops (or starts) telling.
// Until it is started, and where there is no desktop at all, nothing is in
// front; where the desktop cannot be asked, the front app is unknown.
#pragma once

#include "MainThread.h"
#include "Platform.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace trevlin {

class FrontmostTracker {
public:
    /// Observers run through `mainThread` (at once when it is empty).
    FrontmostTracker(Platform& platform, MainThreadHook mainThread);
    FrontmostTracker(const FrontmostTracker&) = delete;
    FrontmostTracker& operator=(const FrontmostTracker&) = delete;

    /// The desktop's latest answer.
    FrontApp app();
    /// The front app's pid; 0 when none is in front or it is unknown.
    Pid pid() { return app().pid; }
    /// Whether the desktop tells which app is in front.
    bool known() { return app().known; }
    /// While the front app is unknown: why, completing "It is …"; else empty.
    std::string unknownReason();
    /// Registers a callback for each new answer; ids count 1, 2, 3, …
    int addObserver(std::function<void(FrontApp)> callback);
    void removeObserver(int id);
    /// Begins tracking (idempotent).
    void start();

private:
    // The platform calls back from its own thread for as long as it lives,
    // which may be longer than this tracker: the callback holds the state
    // weakly.
    struct State {
        MainThreadHook mainThread;
        std::mutex lock;  // guards everything below
        FrontApp app = FrontApp::none();
        bool started = false;
        bool activatedSinceStart = false;
        std::map<int, std::function<void(FrontApp)>> observers;
        int nextObserver = 1;
    };
    static void activated(State& state, FrontApp app);

    Platform& platform_;
    std::shared_ptr<State> state_;
};

}  // namespace trevlin
