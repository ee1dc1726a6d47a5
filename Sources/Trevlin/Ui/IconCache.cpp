#include "IconCache.h"

#include "DesktopEntries.h"

#include <QFileInfo>

#include <fstream>
#include <sstream>

namespace trevlin::ui {

namespace {

QIcon loadIcon(const QString& path) {
    if (!path.endsWith(".desktop")) return {};
    std::ifstream in(path.toStdString());
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    linux::DesktopEntry entry = linux::parseDesktopEntry(text.str(), {});
    return IconCache::iconForEntryValue(QString::fromStdString(entry.icon));
}

}  // namespace

IconCache& IconCache::shared() {
    static IconCache cache;
    return cache;
}

QIcon IconCache::icon(const QString& path) {
    auto it = icons_.find(path);
    if (it == icons_.end()) it = icons_.insert(path, loadIcon(path));
    return *it;
}

QIcon IconCache::iconForEntryValue(const QString& value) {
    if (value.isEmpty()) return {};
    if (value.startsWith('/')) {
        QFileInfo file(value);
        if (!file.isFile()) return {};
        QIcon icon(value);
        return icon.availableSizes().isEmpty() && icon.pixmap(16).isNull() ? QIcon() : icon;
    }
    // Desktops without a platform theme leave Qt with no theme name; the
    // freedesktop default theme holds most application icons.
    if (QIcon::themeName().isEmpty()) QIcon::setThemeName("hicolor");
    QIcon themed = QIcon::fromTheme(value);
    if (!themed.isNull()) return themed;
    for (const char* ext : {".png", ".svg", ".xpm"}) {
        QString candidate = "/usr/share/pixmaps/" + value + ext;
        if (QFileInfo(candidate).isFile()) return QIcon(candidate);
    }
    return {};
}

}  // namespace trevlin::ui
