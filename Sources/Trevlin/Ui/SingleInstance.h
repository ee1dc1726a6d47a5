// One Trevlin per user. The first start holds a lock file for its whole life
// and answers, on the session bus, requests to show its main window; a later
// start finds the lock taken, asks the first to show its window, and ends
// without having touched any process, so two instances never hold the same
// app.
#pragma once

#include <QObject>
#include <QString>

#include <string>
#include <vector>

namespace trevlin::ui {

class SingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.trevlin.Trevlin")
public:
    static constexpr const char* kBusName = "app.trevlin.Trevlin";
    static constexpr const char* kObjectPath = "/app/trevlin/Trevlin";
    static constexpr const char* kInterface = "app.trevlin.Trevlin";

    /// A folder the lock file may live in.
    struct LockFolder {
        std::string path;
        /// Made (with its parents) when missing; a folder that may not be
        /// made is passed over when missing.
        bool create = false;
    };
    /// Where the lock may live, in order, decided by the user id alone so
    /// that no start of the same user can pick another place: the runtime
    /// folder /run/user/<uid>, then the data folder in the home that the
    /// password database gives ("~/.local/share/Trevlin"). The tests give a
    /// folder of their own in TREVLIN_TEST_LOCK_DIR.
    static std::vector<LockFolder> lockFolders();
    static constexpr const char* kLockName = "Trevlin.lock";

    explicit SingleInstance(QObject* parent = nullptr);
    /// Lets go of the lock and the bus name.
    ~SingleInstance() override;

    enum class Result {
        /// This is the only instance; it now holds the lock.
        first,
        /// Another instance holds the lock.
        running,
        /// No lock could be had (see `error()`): Trevlin must not run, as it
        /// could not tell whether another instance does.
        failed,
    };
    /// Takes the lock in the first usable folder of `lockFolders()`.
    Result acquire();
    /// The same in the given folders. The first folder that exists (or may
    /// be made) and belongs to this user is the one: the lock file in it is
    /// opened without following a link and must be a regular file of this
    /// user's; anything else fails rather than trying another folder.
    Result acquire(const std::vector<LockFolder>& folders);
    /// Why the lock could not be had, for one line on standard error.
    const std::string& error() const { return error_; }
    /// The lock file taken or tried ("" when no folder was usable).
    const std::string& lockPath() const { return path_; }

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
    std::string error_;
    std::string path_;
};

}  // namespace trevlin::ui
