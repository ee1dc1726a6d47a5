// Knows which app is in front and tells observers, on the main thread, the
// moment another app is activated.
#pragma once

#include "Platform/Platform.h"

#include <functional>
#include <map>
#include <mutex>

namespace trevlin {

class FrontmostTracker {
public:
    static FrontmostTracker& shared();

    /// The front app's pid, 0 until known or without a desktop.
    Pid pid();
    /// Registers a callback for each activation; ids count 1, 2, 3, …
    int addObserver(std::function<void(Pid)> callback);
    void removeObserver(int id);
    /// Begins tracking (idempotent).
    void start();

    /// Forgets that tracking started and the known pid, so the next `start()`
    /// attaches to the platform installed now. For tests that swap platforms.
    void resetForTesting();

private:
    void activated(Pid pid);

    std::mutex lock_;
    Pid pid_ = 0;
    bool started_ = false;
    bool activatedSinceStart_ = false;
    uint64_t generation_ = 0;
    std::map<int, std::function<void(Pid)>> observers_;
    int nextObserver_ = 1;
};

}  // namespace trevlin
