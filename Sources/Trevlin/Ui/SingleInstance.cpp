#include "SingleInstance.h"

#include "Files.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trevlin::ui {

std::vector<SingleInstance::LockFolder> SingleInstance::lockFolders() {
    if (const char* test = std::getenv("TREVLIN_TEST_LOCK_DIR"); test && *test) return {{test, false}};
    const uid_t uid = ::getuid();
    std::vector<LockFolder> folders{{"/run/user/" + std::to_string(uid), false}};
    if (passwd* pw = ::getpwuid(uid); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        folders.push_back({std::string(pw->pw_dir) + "/.local/share/Trevlin", true});
    return folders;
}

SingleInstance::SingleInstance(QObject* parent) : QObject(parent) {}

SingleInstance::~SingleInstance() {
    if (registered_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(kObjectPath);
        bus.unregisterService(kBusName);
    }
    if (fd_ >= 0) ::close(fd_);  // closing lets go of the lock
}

SingleInstance::Result SingleInstance::acquire() { return acquire(lockFolders()); }

SingleInstance::Result SingleInstance::acquire(const std::vector<LockFolder>& folders) {
    const uid_t uid = ::getuid();
    auto fail = [&](std::string why) {
        error_ = std::move(why);
        return Result::failed;
    };
    // The folder: the first that is there (or may be made) and is this
    // user's own, not a link to somewhere else.
    std::string passedOver;
    const LockFolder* chosen = nullptr;
    for (const LockFolder& folder : folders) {
        struct stat st {};
        if (::lstat(folder.path.c_str(), &st) != 0 && errno == ENOENT && folder.create) {
            Files::Error error;
            if (!Files::createDirectories(folder.path, &error)) return fail("could not make " + error.message);
            ::chmod(folder.path.c_str(), 0700);
        }
        std::string why;
        if (::lstat(folder.path.c_str(), &st) != 0) why = folder.path + ": " + std::strerror(errno);
        else if (!S_ISDIR(st.st_mode)) why = folder.path + " is not a folder";
        else if (st.st_uid != uid) why = folder.path + " belongs to another user";
        if (why.empty()) {
            chosen = &folder;
            break;
        }
        passedOver += (passedOver.empty() ? "" : "; ") + why;
    }
    if (!chosen) return fail("no folder for the lock file (" + passedOver + ")");

    path_ = chosen->path + "/" + kLockName;
    // Never through a link, never blocking on a FIFO someone put there.
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0) {
        const int err = errno;
        if (err == ELOOP) return fail(path_ + " is a symbolic link");
        return fail("could not open " + path_ + ": " + std::strerror(err));
    }
    struct stat st {};
    std::string wrong;
    if (::fstat(fd, &st) != 0) wrong = "could not read " + path_ + ": " + std::strerror(errno);
    else if (!S_ISREG(st.st_mode)) wrong = path_ + " is not a regular file";
    else if (st.st_uid != uid) wrong = path_ + " belongs to another user";
    if (!wrong.empty()) {
        ::close(fd);
        return fail(wrong);
    }
    int rc;
    do rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) return Result::running;
        return fail("could not lock " + path_ + ": " + std::strerror(err));
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    error_.clear();
    return Result::first;
}

bool SingleInstance::listen() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    if (!bus.registerObject(kObjectPath, this, QDBusConnection::ExportScriptableSlots)) return false;
    if (!bus.registerService(kBusName)) {
        bus.unregisterObject(kObjectPath);
        return false;
    }
    registered_ = true;
    return true;
}

void SingleInstance::Reopen() { emit reopenRequested(); }

bool SingleInstance::requestReopen(int timeoutMs) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    // The first instance takes its lock a moment before it owns its name:
    // give it that moment.
    for (int waited = 0; !bus.interface()->isServiceRegistered(kBusName); waited += 100) {
        if (waited >= 2000) return false;
        QThread::msleep(100);
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kBusName, kObjectPath, kInterface, "Reopen");
    QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

int SingleInstance::handOver() {
    if (!requestReopen()) std::fputs("Trevlin is already running\n", stderr);
    return 0;
}

}  // namespace trevlin::ui
