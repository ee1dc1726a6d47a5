#include "SingleInstance.h"

#include "Log.h"
#include "LinuxPlatform.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trevlin::ui {

QString SingleInstance::lockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return QString::fromLocal8Bit(runtime) + "/Trevlin.lock";
    return QString::fromStdString(LinuxPlatform().dataDirectory()) + "/Trevlin.lock";
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

SingleInstance::Result SingleInstance::acquire() {
    const QByteArray path = lockPath().toLocal8Bit();
    // The data folder may not exist yet on a first start.
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr) ::mkdir(QByteArray(path.left(path.lastIndexOf('/'))), 0700);
    // Never through a link someone put there.
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        logStderr("Trevlin: could not open the lock file " + path.toStdString() + ": " + std::strerror(errno));
        return Result::first;
    }
    int rc;
    do rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) return Result::running;
        logStderr("Trevlin: could not lock " + path.toStdString() + ": " + std::strerror(err));
        return Result::first;
    }
    fd_ = fd;
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
