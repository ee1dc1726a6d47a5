#include "FrameStore.h"

#include <QDir>
#include <QSettings>

#include <cstdlib>

namespace trevlin::ui::FrameStore {

namespace {
QString key(const QString& name) { return name + "/frame"; }
}  // namespace

QString filePath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    // The XDG rule: a relative value is ignored.
    QString base = xdg && xdg[0] == '/' ? QString::fromLocal8Bit(xdg) : QDir::homePath() + "/.config";
    return base + "/Trevlin/Trevlin.conf";
}

std::optional<QByteArray> load(const QString& name) {
    QSettings settings(filePath(), QSettings::IniFormat);
    QVariant value = settings.value(key(name));
    if (!value.isValid()) return std::nullopt;
    QByteArray frame = value.toByteArray();
    if (frame.isEmpty()) return std::nullopt;
    return frame;
}

void save(const QString& name, const QByteArray& frame) {
    QSettings settings(filePath(), QSettings::IniFormat);
    settings.setValue(key(name), frame);
    settings.sync();
}

}  // namespace trevlin::ui::FrameStore
