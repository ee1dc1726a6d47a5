#include "Updater.h"

#include "AppModel.h"

#include <QMetaObject>

namespace trevlin {

AppUpdater& AppUpdater::shared() {
    static AppUpdater* updater = new AppUpdater;
    return *updater;
}

AppUpdater::AppUpdater(QObject* parent) : QObject(parent) {}

AppUpdater::~AppUpdater() = default;

bool AppUpdater::isAvailable() { return false; }

void AppUpdater::start(std::unique_ptr<UpdaterBackend> backend) {
    if (backend_ || !backend) return;
    backend_ = std::move(backend);
    // The backend may report from its own threads: the mirrors change on
    // the main thread only.
    backend_->changed = [this] { QMetaObject::invokeMethod(this, [this] { mirror(); }, Qt::AutoConnection); };
    backend_->willRelaunch = [this] { willRelaunch(); };
    mirror();
}

void AppUpdater::mirror() {
    if (!backend_) return;
    const bool can = backend_->canCheckForUpdates();
    const bool automatic = backend_->automaticallyChecks();
    if (can == canCheckForUpdates_ && automatic == automaticallyChecks_) return;
    canCheckForUpdates_ = can;
    automaticallyChecks_ = automatic;
    emit changed();
}

void AppUpdater::checkForUpdates() {
    if (backend_) backend_->checkForUpdates();
}

void AppUpdater::setAutomaticallyChecks(bool on) {
    if (!backend_) return;
    backend_->setAutomaticallyChecks(on);
    if (automaticallyChecks_ == on) return;
    automaticallyChecks_ = on;
    emit changed();
}

void AppUpdater::willRelaunch() {
    if (!model_) return;
    model_->shutdownEngine();
    model_->saveNow();
}

}  // namespace trevlin
