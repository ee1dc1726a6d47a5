// Render mode: every screen of the program drawn off-screen into PNG files,
// in light and then dark appearance, from a model that measures the machine
// for a few seconds but never reads or writes the user's files, holds no
// process, asks nothing and shows sample rules, questions and statuses so that
// each picture shows the state its name says.
//
//   Trevlin --render <dir>
//   TREVLIN_RENDER_ONLY=<page>     only that page (both appearances)
//   TREVLIN_RENDER_MARKETING=1     five well-known apps with fixed figures
//
// Files: <dir>/<page>-light.png and <dir>/<page>-dark.png, at twice the
// page's size in points. Exit status 0 when every file was written; 1 with
// the reason on standard error otherwise.
#pragma once

#include <QSize>

#include <string>
#include <vector>

namespace trevlin::Renderer {

/// A page's name and size in points; a height of 0: as tall as its content.
struct PageSize {
    const char* name;
    QSize size;
};

/// Every page, in the order rendered.
const std::vector<PageSize>& pages();

/// Renders into `dir` (created with its parents); needs a QApplication.
int run(const std::string& dir);

}  // namespace trevlin::Renderer
