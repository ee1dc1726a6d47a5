// Window frames remembered between runs, by name, in the per-user settings
// folder ($XDG_CONFIG_HOME/Trevlin/Trevlin.conf, ~/.config when unset). The
// path is worked out at every call, so a test that points XDG_CONFIG_HOME
// elsewhere gets a file of its own.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace trevlin::ui::FrameStore {

QString filePath();
/// The saved frame of the window named `name`, as QWidget::saveGeometry wrote it.
std::optional<QByteArray> load(const QString& name);
void save(const QString& name, const QByteArray& frame);

}  // namespace trevlin::ui::FrameStore
