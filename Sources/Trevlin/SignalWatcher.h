// Termination signals handled as ordinary events on the main thread.
//
// The signals are blocked in every thread (and their default action set to
// ignore) before any thread starts, so they never interrupt anything and
// never end the process on their own; a signalfd collects them and the main
// event loop reads it like any other file. The handler therefore runs in the
// main thread's normal context and may touch the model directly.
#pragma once

#include <QObject>

#include <functional>
#include <vector>

class QSocketNotifier;

namespace trevlin {

class SignalWatcher : public QObject {
    Q_OBJECT
public:
    /// Blocks `which` in the calling thread and sets their disposition to
    /// ignore. Call first thing in `main`, before any thread exists: threads
    /// inherit the mask. A blocked, ignored signal still waits to be read
    /// through a signalfd. Returns false when the mask cannot be changed.
    static bool blockAndIgnore(const std::vector<int>& which);

    /// Watches `which` (already blocked) and calls `handler` with each one
    /// received, on the thread this object lives in.
    SignalWatcher(const std::vector<int>& which, std::function<void(int)> handler, QObject* parent = nullptr);
    ~SignalWatcher() override;
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    bool isValid() const { return fd_ >= 0; }

private:
    void readSignals();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::function<void(int)> handler_;
};

}  // namespace trevlin
