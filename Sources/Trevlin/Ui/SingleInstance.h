// One Trevlin per user. The first start holds a lock file for its whole life
// and answers, on the session bus, requests to show its main window; a later
// start finds the lock taken, asks the first to show its window, and ends
// without having touched any process, so two instances never hold the same
// app.
#pragma once

#include <QObject>
#include <QString>

namespace trevlin::ui {

class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.trevlin.Trevlin")
public:
    static constexpr const char* kBusName = "app.trevlin.Trevlin";
    static constexpr const char* kObjectPath = "/app/trevlin/Trevlin";
    static constexpr const char* kInterface = "app.trevlin.Trevlin";

    /// The lock file: in $XDG_RUNTIME_DIR, else in the per-user data folder.
    static QString lockPath();

    explicit SingleInstance(QObject* parent = nullptr);
    /// Lets go of the lock and the bus name.
    ~SingleInstance() override;

    enum class Result {
        /// This is the only instance; it now holds the lock.
        first,
        /// Another instance holds the lock.
        running,
    };
    /// Takes the lock. A lock file that cannot be made at all does not stop
    /// Trevlin: it says so and runs as the first.
    Result acquire();

    /// Offers the reopen request on the session bus (first instance only).
    /// False without a session bus or when the name is taken.
    bool listen();

    /// Asks the running instance to show its main window. False when there
    /// is no session bus or nobody answered.
    static bool requestReopen(int timeoutMs = 5000);

    /// What a second start does: ask the first to show its window, and say
    /// on standard error when that was not possible. Returns the exit status (0).
    static int handOver();

public slots:
    /// The bus method: a later start wants the main window.
    Q_SCRIPTABLE void Reopen();

signals:
    void reopenRequested();

private:
    int fd_ = -1;
    bool registered_ = false;
};

}  // namespace trevlin::ui
