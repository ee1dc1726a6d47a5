// App icons by app key, for the life of the process. An app's key is the
// path of its .desktop file; its icon is the entry's Icon=: an absolute
// picture file, or a name looked up in the icon theme (then in the shared
// pixmaps folder). Keys without a usable icon remember that, so the file is
// read once either way.
#pragma once

#include <QHash>
#include <QIcon>
#include <QString>

namespace trevlin::ui {

class IconCache {
public:
    static IconCache& shared();

    /// The icon for an app key; a null icon when the app has none.
    QIcon icon(const QString& path);

    /// The icon a desktop entry's Icon= value names; null when none is found.
    static QIcon iconForEntryValue(const QString& value);

private:
    QHash<QString, QIcon> icons_;
};

}  // namespace trevlin::ui
