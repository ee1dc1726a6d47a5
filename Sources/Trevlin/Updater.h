// The program's updater, seen from the Settings page: whether it can check
// now, whether it checks by itself, a way to check at once, and what happens
// before an update relaunches the program.
//
// Linux packages are updated by the system's package manager, so on Linux
// no updater is available: `start()` finds none, both flags stay false and
// the page's controls stay disabled. An updater that can run (a self-updating
// bundle, say) plugs in as an `UpdaterBackend`.
#pragma once

#include <QObject>

#include <functional>
#include <memory>

namespace trevlin {

class AppModel;

/// An updater that can run. It reports its two flags through `changed` and
/// calls `willRelaunch` (on the main thread) before it relaunches the program.
class UpdaterBackend {
public:
    virtual ~UpdaterBackend() = default;
    virtual bool canCheckForUpdates() const = 0;
    virtual bool automaticallyChecks() const = 0;
    virtual void setAutomaticallyChecks(bool on) = 0;
    virtual void checkForUpdates() = 0;

    std::function<void()> changed;
    std::function<void()> willRelaunch;
};

class AppUpdater : public QObject {
    Q_OBJECT
public:
    /// The program's one updater.
    static AppUpdater& shared();

    explicit AppUpdater(QObject* parent = nullptr);
    ~AppUpdater() override;

    /// Whether this build has an updater that can run: never on Linux.
    static bool isAvailable();

    /// Starts the updater once, when one is available; nothing otherwise.
    /// `backend` is the updater to run (none: the platform's, which Linux
    /// does not have).
    void start(std::unique_ptr<UpdaterBackend> backend = nullptr);

    bool canCheckForUpdates() const { return canCheckForUpdates_; }
    bool automaticallyChecks() const { return automaticallyChecks_; }
    /// Whether an updater runs (the automatic-check switch is usable).
    bool running() const { return backend_ != nullptr; }

    /// Checks for updates at once; nothing without a running updater.
    void checkForUpdates();
    void setAutomaticallyChecks(bool on);

    /// The model to shut down before an update relaunches the program.
    void setModel(AppModel* model) { model_ = model; }
    /// Before a relaunch: every held process is let go and the settings
    /// are written now rather than after the usual delay.
    void willRelaunch();

signals:
    void changed();

private:
    void mirror();

    std::unique_ptr<UpdaterBackend> backend_;
    AppModel* model_ = nullptr;
    bool canCheckForUpdates_ = false;
    bool automaticallyChecks_ = false;
};

}  // namespace trevlin
