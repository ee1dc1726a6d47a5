// Knows which app is in front and tells observers, on the main thread, the
// moment another app is activated.
#pragma once

#include "MainThread.h"
#include "Platform.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace trevlin {

class FrontmostTracker {
public:
    /// Observers run through `mainThread` (at once when it is empty).
    FrontmostTracker(Platform& platform, MainThreadHook mainThread);
    FrontmostTracker(const FrontmostTracker&) = delete;
    FrontmostTracker& operator=(const FrontmostTracker&) = delete;

    /// The front app's pid, 0 until known or without a desktop.
    Pid pid();
    /// Registers a callback for each activation; ids count 1, 2, 3, …
    int addObserver(std::function<void(Pid)> callback);
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
        Pid pid = 0;
        bool started = false;
        bool activatedSinceStart = false;
        std::map<int, std::function<void(Pid)>> observers;
        int nextObserver = 1;
    };
    static void activated(State& state, Pid pid);

    Platform& platform_;
    std::shared_ptr<State> state_;
};

}  // namespace trevlin
